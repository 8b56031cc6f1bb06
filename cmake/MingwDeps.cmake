# The pack library's dependencies for the mingw-w64 cross build, all static
# and all from Debian: zlib and libgcrypt from the mingw-w64 packages
# (libz-mingw-w64-dev, libgcrypt-mingw-w64-dev), liblzma and LZO cross-built
# from Debian's source packages by scripts/build-mingw-deps.sh into the build
# directory (once; later configure runs reuse them). Defines the targets the
# native build gets from find_package and pkg-config: LibLZMA::LibLZMA,
# ZLIB::ZLIB, PkgConfig::LZO2 and PkgConfig::GCRYPT.
include_guard(GLOBAL)

set(PATCHLOOM_MINGW_DEPS_DIR "${CMAKE_BINARY_DIR}/mingw-deps" CACHE PATH
    "Where liblzma and LZO are cross-built from Debian's sources")
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-mingw-deps.sh" "${PATCHLOOM_MINGW_DEPS_DIR}"
          "${PATCHLOOM_MINGW_HOST}" "${CMAKE_C_COMPILER}"
  RESULT_VARIABLE _patchloom_deps_result)
if(NOT _patchloom_deps_result EQUAL 0)
  message(FATAL_ERROR "Cross-building liblzma and LZO failed (scripts/build-mingw-deps.sh)")
endif()
set(_patchloom_deps_prefix "${PATCHLOOM_MINGW_DEPS_DIR}/prefix")
list(APPEND CMAKE_FIND_ROOT_PATH "${_patchloom_deps_prefix}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${_patchloom_deps_prefix}/lib/pkgconfig:/usr/${PATCHLOOM_MINGW_HOST}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_package(LibLZMA 5.4 REQUIRED)
# Without it lzma.h declares the functions as imported from a DLL.
set_property(TARGET LibLZMA::LibLZMA APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LZO2 REQUIRED IMPORTED_TARGET lzo2)

# libgcrypt's static archive needs libgpg-error's and Winsock, which only
# the static link line of its pkg-config file names.
pkg_check_modules(GCRYPT REQUIRED libgcrypt)
add_library(PkgConfig::GCRYPT INTERFACE IMPORTED)
target_include_directories(PkgConfig::GCRYPT INTERFACE ${GCRYPT_STATIC_INCLUDE_DIRS})
target_link_directories(PkgConfig::GCRYPT INTERFACE ${GCRYPT_STATIC_LIBRARY_DIRS})
target_link_libraries(PkgConfig::GCRYPT INTERFACE ${GCRYPT_STATIC_LIBRARIES})

# Global, so that tests calling a library themselves can link it too.
foreach(_patchloom_target LibLZMA::LibLZMA ZLIB::ZLIB PkgConfig::LZO2 PkgConfig::GCRYPT)
  set_property(TARGET ${_patchloom_target} PROPERTY IMPORTED_GLOBAL TRUE)
endforeach()
