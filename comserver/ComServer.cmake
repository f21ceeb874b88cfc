# hv_com_server(<target> IDL <file.idl> SOURCES ... [LIBS ...] [DEFINES ...])
#
# Builds the component DLL <target>.dll: widl turns the IDL into a type library and a C++ header
# (<target>_idl.h, on the target's include path), the type library is embedded as resource 1 TYPELIB, and
# the four entry points are exported undecorated. DEFINES reach both widl and the compiler, so one IDL and
# one set of sources can make several builds of a component.
include_guard(GLOBAL)

set(HV_WIDL_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Folder holding oaidl.idl and friends, for widl")
set(HV_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Folder holding stdole2.tlb, for widl")

function(hv_com_server target)
  cmake_parse_arguments(ARG "" "IDL" "SOURCES;LIBS;DEFINES" ${ARGN})
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/${target}_gen)
  set(tlb ${gen}/${target}.tlb)
  set(header ${gen}/${target}_idl.h)
  get_filename_component(idl ${ARG_IDL} ABSOLUTE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(bits --win64)
  else()
    set(bits --win32)
  endif()
  list(TRANSFORM ARG_DEFINES PREPEND -D OUTPUT_VARIABLE widl_defines)
  add_custom_command(
    OUTPUT ${tlb} ${header}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gen}
    COMMAND ${HV_WIDL} ${bits} -I ${HV_WIDL_IDL_DIR} -L ${HV_STDOLE_DIR} ${widl_defines} -t -T ${tlb} -h -H
            ${header} ${idl}
    DEPENDS ${idl}
    COMMENT "widl ${target}"
    VERBATIM)
  file(CONFIGURE OUTPUT ${gen}/${target}.rc CONTENT "1 TYPELIB \"${tlb}\"\n")
  set_source_files_properties(${gen}/${target}.rc PROPERTIES OBJECT_DEPENDS ${tlb})

  add_library(${target} SHARED ${ARG_SOURCES} ${header} ${gen}/${target}.rc
                               ${PROJECT_SOURCE_DIR}/comserver/entry_points.cpp ${PROJECT_SOURCE_DIR}/comserver/exports.def)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  # widl's header is generated code: keep it out of the warnings-are-errors net.
  target_include_directories(${target} SYSTEM PRIVATE ${gen})
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
  target_link_libraries(${target} PRIVATE comserver ${ARG_LIBS})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The .def names are undecorated; the 32-bit __stdcall symbols carry @n. Match them quietly.
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

# hv_com_registration_fixture(<runner> <fixture> [MESSAGE_BOXES <regex>])
#
# Orders the cases of a component's test runner around the one registration they share in the bench's
# registry: its suite Registration sets up <fixture>, its suite Unregistration cleans it up, and every
# other case requires it. Cases whose names match MESSAGE_BOXES provoke message boxes that a box driver
# answers by title anywhere on the desktop; they take the lock hv_message_boxes, so that two such tests
# never answer each other's boxes. The cases are discovered when ctest runs, so the properties are set then.
function(hv_com_registration_fixture runner fixture)
  cmake_parse_arguments(ARG "" "MESSAGE_BOXES" "" ${ARGN})
  set(boxes "${ARG_MESSAGE_BOXES}")
  string(
    CONFIGURE
      [=[foreach(test IN LISTS @runner@_TESTS)
  if(test MATCHES "^@runner@\\.Registration\\.")
    set_tests_properties("${test}" PROPERTIES FIXTURES_SETUP @fixture@)
  elseif(test MATCHES "^@runner@\\.Unregistration\\.")
    set_tests_properties("${test}" PROPERTIES FIXTURES_CLEANUP @fixture@)
  else()
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED @fixture@)
  endif()
  if(NOT "@boxes@" STREQUAL "" AND test MATCHES "@boxes@")
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK hv_message_boxes)
  endif()
endforeach()
]=]
      content
    @ONLY)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${runner}_fixture.cmake "${content}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${runner}_fixture.cmake)
endfunction()

# hv_cscript_test(<name> SCRIPT <file.vbs> [FIXTURE <fixture>] [SERVER <server.py>] [ARGS ...])
#
# Runs the VBScript under Wine's cscript in the bench; it passes when cscript exits 0 and the script's
# last line is the marker (comserver/run_cscript.py). With SERVER, the HTTP server runs for the length of
# the script and "{port}" in ARGS becomes its port.
function(hv_cscript_test name)
  cmake_parse_arguments(ARG "" "SCRIPT;FIXTURE;SERVER" "ARGS" ${ARGN})
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  get_filename_component(script ${ARG_SCRIPT} ABSOLUTE)
  set(server)
  if(ARG_SERVER)
    get_filename_component(server_path ${ARG_SERVER} ABSOLUTE)
    set(server --server ${server_path})
  endif()
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/comserver/run_cscript.py --script
                                ${script} ${server} -- ${CMAKE_CROSSCOMPILING_EMULATOR} -- ${ARG_ARGS})
  if(ARG_FIXTURE)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${ARG_FIXTURE})
  endif()
endfunction()
