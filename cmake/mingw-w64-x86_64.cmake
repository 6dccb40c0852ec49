# Cross-compiles the Windows program on Linux with the mingw-w64 toolchain
# (Debian package g++-mingw-w64-x86-64): a 64-bit console program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZUBRA32_MINGW_PREFIX x86_64-w64-mingw32)
# The win32 thread model needs no winpthread DLL; fall back to the default name.
find_program(CMAKE_CXX_COMPILER NAMES ${ZUBRA32_MINGW_PREFIX}-g++-win32 ${ZUBRA32_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZUBRA32_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZUBRA32_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The build's Windows programs run under wine for the tests (ctest -L windows):
# add_test starts a target of this build through it. Without wine the tests
# are skipped, saying why.
find_program(ZUBRA32_WINE wine)
if(ZUBRA32_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUBRA32_WINE})
endif()
