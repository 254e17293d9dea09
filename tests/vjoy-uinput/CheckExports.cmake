# cmake -DLIBRARY=path -P CheckExports.cmake: fails unless the library's
# defined dynamic symbols are exactly the five driver calls.
execute_process(COMMAND nm -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE " .*" "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected AcquireVJD GetVJDStatus RelinquishVJD UpdateVJD vJoyEnabled)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
