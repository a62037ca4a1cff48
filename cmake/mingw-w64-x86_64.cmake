# Cross-building KorvoLoader.dll for 64-bit Windows with Debian's MinGW-w64 toolchain.
#
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The -posix compilers use the winpthreads thread model, which has std::mutex and std::thread.
# Everything is linked statically (libstdc++, libgcc, winpthreads, zlib), so the DLL and the test
# programs import system DLLs only. Programs built here run under Wine through
# CMAKE_CROSSCOMPILING_EMULATOR (override with -DCMAKE_CROSSCOMPILING_EMULATOR=... if needed).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVO_MINGW_TRIPLET}-windres)

# Headers and libraries (zlib from libz-mingw-w64-dev) come from the target's sysroot only;
# programs (the build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KORVO_WINE_PROGRAM NAMES wine wine64)
  if(KORVO_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVO_WINE_PROGRAM})
  endif()
endif()
