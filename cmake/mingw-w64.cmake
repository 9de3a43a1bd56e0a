# Cross-build for 64-bit Windows with Debian's MinGW-w64 compilers (the
# variant with POSIX threads, g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The executables it builds run under Wine, which then serves as the emulator
# for the tests that run them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# Libraries and headers come from the MinGW-w64 tree only; programs (python3,
# Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package installs its loader outside PATH.
find_program(QUORIBO_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(QUORIBO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORIBO_WINE})
endif()
