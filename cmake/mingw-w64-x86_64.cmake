# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread
# model: the win32 one has no std::thread). The C and C++ runtimes and
# winpthreads are linked statically, so the programs need only system DLLs
# (and vJoy's). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WENDRIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${WENDRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WENDRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${WENDRIX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WENDRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Plain `wine` runs 64-bit programs here (Debian has no wine64 on PATH),
# through wine-run.
find_program(WENDRIX_WINE wine)
if(WENDRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${WENDRIX_WINE})
endif()
