# cmake -DOBJDUMP=... -DPROGRAM=... -P CheckImports.cmake
# The program imports Windows sockets 1.1 (wsock32.dll) and only system
# libraries: never ws2_32.dll or vJoyInterface.dll, and no runtime DLL of
# the compiler.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
string(TOLOWER "${names}" names)
message(STATUS "imports: ${names}")
foreach(forbidden ws2_32.dll vjoyinterface.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  string(FIND "${names}" "dll name: ${forbidden}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} imports ${forbidden}")
  endif()
endforeach()
string(FIND "${names}" "dll name: wsock32.dll" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PROGRAM} does not import wsock32.dll")
endif()
