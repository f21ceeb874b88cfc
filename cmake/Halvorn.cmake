# Project-wide helpers: the test framework for both builds and one test runner per subsystem.

macro(hv_setup_test_framework)
  if(HV_BUILD_TESTS)
    if(WIN32)
      # Debian ships GoogleTest as source; build it with the same mingw toolchain.
      set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
      if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
      endif()
      if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64" AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
        # Each test exe runs in the project's Wine prefix, under a time-out (tools/winebench).
        set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tools/winebench --bench
                                          ${CMAKE_BINARY_DIR}/winebench run)
      endif()
    else()
      find_package(GTest REQUIRED)
    endif()
    enable_testing()
    include(GoogleTest)
  endif()
  if(HV_BUILD_BENCHMARKS)
    find_package(benchmark REQUIRED)
  endif()
endmacro()

# hv_test_runner(<name> SOURCES ... LIBS ... [PROPERTIES <test properties>...]): one GoogleTest runner, its
# cases discovered when ctest runs (so building never needs Wine). PROPERTIES apply to every case, e.g.
# RESOURCE_LOCK hv_message_boxes for runners whose box drivers answer boxes anywhere on the desktop.
function(hv_test_runner name)
  if(NOT HV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_PREFIX "${name}."
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} PROPERTIES ${ARG_PROPERTIES})
endfunction()
