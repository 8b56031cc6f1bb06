# The pack library's dependencies for the mingw-w64 cross build, all static
# and all from Debian: zlib and libgcrypt from the mingw-w64 packages
# (libz-mingw-w64-dev, libgcrypt-mingw-w64-dev), liblzma, LZO and zstd cross-built
# from Debian's source packages by scripts/build-mingw-deps.sh into the build
# directory (once; later configure runs reuse them), put where
# cmake/PatchloomDeps.cmake then finds them: the find root and pkg-config's
# search path.
include_guard(GLOBAL)

set(PATCHLOOM_MINGW_DEPS_DIR "${CMAKE_BINARY_DIR}/mingw-deps" CACHE PATH
    "Where liblzma, LZO and zstd are cross-built from Debian's sources")
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-mingw-deps.sh" "${PATCHLOOM_MINGW_DEPS_DIR}"
          "${PATCHLOOM_MINGW_HOST}" "${CMAKE_C_COMPILER}"
  RESULT_VARIABLE _patchloom_deps_result)
if(NOT _patchloom_deps_result EQUAL 0)
  message(FATAL_ERROR "Cross-building liblzma, LZO and zstd failed (scripts/build-mingw-deps.sh)")
endif()
set(_patchloom_deps_prefix "${PATCHLOOM_MINGW_DEPS_DIR}/prefix")
list(APPEND CMAKE_FIND_ROOT_PATH "${_patchloom_deps_prefix}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${_patchloom_deps_prefix}/lib/pkgconfig:/usr/${PATCHLOOM_MINGW_HOST}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
