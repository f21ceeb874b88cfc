# Runs the hvcrypt tool end to end: cmake -DHVCRYPT=<exe> -DEMULATOR=<words joined by |> -DWORK_DIR=<dir>
# -P hvcrypt_test.cmake. Fails on the first wrong result.
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures 0)

# hvcrypt(<name> <input file> ARGS... [ENV password]): runs the tool; sets <name>_out, <name>_err, <name>_rc.
function(hvcrypt name input)
  cmake_parse_arguments(ARG "" "ENV" "ARGS" ${ARGN})
  unset(ENV{HVCRYPT_PASSWORD})
  if(DEFINED ARG_ENV)
    set(ENV{HVCRYPT_PASSWORD} "${ARG_ENV}")
  endif()
  execute_process(COMMAND ${emulator} "${HVCRYPT}" ${ARG_ARGS} INPUT_FILE "${input}"
                  OUTPUT_FILE "${WORK_DIR}/${name}.out" ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 120)
  file(READ "${WORK_DIR}/${name}.out" out)
  set(${name}_out "${out}" PARENT_SCOPE)
  set(${name}_err "${err}" PARENT_SCOPE)
  set(${name}_rc "${rc}" PARENT_SCOPE)
endfunction()

function(expect what actual expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    message(SEND_ERROR "${what}: got [${actual}], expected [${expected}]")
  endif()
endfunction()

function(write name content)
  file(WRITE "${WORK_DIR}/${name}" "${content}")
endfunction()

# The component's known ciphertext, with the newline the tool adds.
write(halvorn.txt "Halvorn")
hvcrypt(known "${WORK_DIR}/halvorn.txt" ARGS -p password)
expect("known ciphertext" "${known_out}" "2C4FAB7CAFDEAD476494AFF2374603A8\n")
expect("known exit code" "${known_rc}" 0)

# UTF-8 text with characters of the code page and a trailing newline comes back byte for byte; the
# ciphertext's own newline does not stop it decrypting. The password comes from the environment here.
write(text.txt "Grüße, € 5\n")
hvcrypt(encrypted "${WORK_DIR}/text.txt" ENV "a longer password")
expect("encrypt exit code" "${encrypted_rc}" 0)
if(NOT encrypted_out MATCHES "^[0-9A-F]+\n$")
  message(SEND_ERROR "ciphertext is not upper-case hex and a newline: [${encrypted_out}]")
endif()
hvcrypt(decrypted "${WORK_DIR}/encrypted.out" ARGS -d ENV "a longer password")
file(READ "${WORK_DIR}/text.txt" original HEX)
file(READ "${WORK_DIR}/decrypted.out" roundTrip HEX)
expect("round trip" "${roundTrip}" "${original}")

# -p wins over the environment; lower-case digits and a CR LF ending decrypt too.
string(TOLOWER "${encrypted_out}" lower)
string(STRIP "${lower}" lower)
write(lower.txt "${lower}\r\n")
hvcrypt(lower "${WORK_DIR}/lower.txt" ARGS -d -p "a longer password" ENV "not this one")
expect("lower-case round trip" "${lower_out}" "Grüße, € 5\n")

# A character outside the code page becomes "?", as in the component.
write(outside.txt "中")
hvcrypt(outside "${WORK_DIR}/outside.txt" ARGS -p password)
write(outside.hex "${outside_out}")
hvcrypt(outsideBack "${WORK_DIR}/outside.hex" ARGS -d -p password)
expect("outside the code page" "${outsideBack_out}" "?")

# Failures: the component's number and description, and a non-zero exit.
write(bad.hex "0123456789ABCDEFG123456789ABCDEF\n")
write(short.hex "0123456789ABCDEF\n")
foreach(case "wrong;${WORK_DIR}/encrypted.out;-d;-p;another password;Error 9: Subscript out of range"
             "short;${WORK_DIR}/short.hex;-d;-p;password;Error 9: Subscript out of range"
             "nonhex;${WORK_DIR}/bad.hex;-d;-p;password;Error 13: Type mismatch"
             "password;${WORK_DIR}/text.txt;-p;seven!!;Error 5: Invalid procedure call or argument: the password needs at least 8 characters")
  list(POP_FRONT case name input)
  list(POP_BACK case message)
  hvcrypt(${name} "${input}" ARGS ${case})
  expect("${name}: standard error" "${${name}_err}" "${message}\n")
  expect("${name}: standard output" "${${name}_out}" "")
  if("${${name}_rc}" STREQUAL "0")
    message(SEND_ERROR "${name}: exit code 0 after a failure")
  endif()
endforeach()

# Empty input gives empty output without looking at the password; no password at all is a usage error.
write(empty.txt "")
hvcrypt(empty "${WORK_DIR}/empty.txt" ARGS -p x)
expect("empty input" "${empty_out}" "")
expect("empty input exit code" "${empty_rc}" 0)
hvcrypt(nopassword "${WORK_DIR}/text.txt")
expect("no password exit code" "${nopassword_rc}" 2)
