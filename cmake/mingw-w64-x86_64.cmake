# SPDX-License-Identifier: MIT
# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix, which
# scripts/install-deps.sh installs). The posix flavour, because only its libstdc++ has
# std::thread and std::mutex. The C compiler is named too: Qt's own sources need it
# (scripts/build-windows-qt.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(vantel_mingw x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER ${vantel_mingw}-g++-posix)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${vantel_mingw}-g++-posix is missing: run scripts/install-deps.sh")
endif()
find_program(CMAKE_C_COMPILER ${vantel_mingw}-gcc-posix)
find_program(CMAKE_RC_COMPILER ${vantel_mingw}-windres)

# Headers and libraries come from the Windows sysroot only; programs (the compiler's helpers)
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${vantel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
