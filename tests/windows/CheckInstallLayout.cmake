# cmake -DBUILD=<build dir> -DPREFIX=<scratch dir> -P CheckInstallLayout.cmake
# `cmake --install` of the Windows build lays out <prefix>/wendrix.exe and
# nothing else: the runtimes are linked in, vJoy's library comes from vJoy.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
if(NOT installed STREQUAL "wendrix.exe")
  message(FATAL_ERROR "installed: ${installed}; expected wendrix.exe alone")
endif()
