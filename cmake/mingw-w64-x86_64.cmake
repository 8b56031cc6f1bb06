# Cross build for 64-bit Windows with Debian's mingw-w64 (the -posix thread
# model compilers), tested under Wine:
#   cmake -S . -B build-w --toolchain cmake/mingw-w64-x86_64.cmake
# Everything is linked statically (libgcc, libstdc++, winpthread and the
# libraries below), so the executables need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PATCHLOOM_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PATCHLOOM_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PATCHLOOM_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${PATCHLOOM_MINGW_HOST}-windres)

# Libraries and headers come from the mingw-w64 tree only (plus the prefix of
# our own cross-built libraries, added by cmake/MingwDeps.cmake); programs
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${PATCHLOOM_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only: the import libraries (.dll.a) beside them would make
# the programs depend on DLLs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test executables through Wine, headless, in a prefix of the
# build directory.
if(NOT PATCHLOOM_WINEPREFIX)
  set(PATCHLOOM_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
endif()
get_filename_component(_patchloom_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_patchloom_wine_run};${PATCHLOOM_WINEPREFIX}")
