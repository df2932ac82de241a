# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-i686).
#
# The posix thread variant is named explicitly rather than through the
# i686-w64-mingw32-g++ alternative, which may point at either. The command
# starts no threads, but the tests' googletest needs std::mutex, which the
# win32 variant's C++ runtime does not have in GCC 12. The posix variant
# rests on libwinpthread, and that is linked in statically like the rest.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MINGW_TARGET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TARGET}-windres)
find_program(CMAKE_DLLTOOL ${MINGW_TARGET}-dlltool REQUIRED)
find_program(MINGW_OBJDUMP ${MINGW_TARGET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC, C++ and thread runtimes go into every program and DLL, so that
# nothing but system DLLs and the engine's client library needs to stand
# beside them. Only import libraries exist of the system DLLs, so those
# stay DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Windows programs built here run under Wine on this machine: the tests, and
# anything else CMake has to run.
find_program(WINE_PROGRAM wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
