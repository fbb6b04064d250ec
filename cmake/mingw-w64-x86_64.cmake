# Cross-builds the core, the command-line tools and the tests for 64-bit Windows with
# MinGW-w64 (the posix-thread compilers, for std::thread), and runs the test programs
# under Wine where CMake needs them to run (GoogleTest's test discovery, ctest).
# SPDX-License-Identifier: GPL-3.0-or-later
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DKVD_BUILD_GUI=OFF -DKVD_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVD_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVD_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVD_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the compiler's run-time libraries and the thread library inside, so
# that they start on a bare Windows without the MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs the test programs at build time (test discovery) and under ctest.
find_program(KVD_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KVD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KVD_WINE})
endif()
