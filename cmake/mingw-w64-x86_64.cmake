# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows with Debian's mingw-w64, posix thread model: std::thread and
# std::mutex need it (the win32 model has neither in g++ 12).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZOQ_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZOQ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOQ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOQ_MINGW_PREFIX}-windres)
set(CMAKE_ASM_COMPILER ${ZOQ_MINGW_PREFIX}-gcc-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${ZOQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that runs alone on a clean Windows: the C++ runtime, libgcc and winpthread are linked
# in, so no DLL of the compiler has to travel beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine.
find_program(ZOQ_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT ZOQ_WINE)
  find_program(ZOQ_WINE NAMES wine64 wine)
endif()
