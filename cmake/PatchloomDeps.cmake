# The pack library's dependencies as the imported targets it links:
# LibLZMA::LibLZMA, ZLIB::ZLIB, PkgConfig::LZO2, PkgConfig::ZSTD,
# PkgConfig::GCRYPT and, outside
# Windows, Threads::Threads. Included by the build and by the installed
# PatchloomConfig.cmake, so a program using the installed library finds the
# same libraries the same way. On Windows everything is linked statically:
# liblzma, LZO and zstd come from the find root and pkg-config's search path (for
# the cross build, cmake/MingwDeps.cmake puts them there), libgcrypt with the
# static link line its pkg-config file names (libgpg-error, Winsock).
#
# In the build a missing dependency stops the configuration; inside
# find_package(Patchloom) (_patchloom_as_package set) it makes Patchloom not
# found, with a message naming it.
if(_patchloom_as_package)
  include(CMakeFindDependencyMacro)
endif()

macro(_patchloom_find_package)
  if(_patchloom_as_package)
    find_dependency(${ARGV})
  else()
    find_package(${ARGV} REQUIRED)
  endif()
endmacro()

# pkg_check_modules(PREFIX ... MODULE) with the same outcome as above.
macro(_patchloom_pkg_module prefix module)
  if(_patchloom_as_package)
    pkg_check_modules(${prefix} QUIET ${ARGN} ${module})
    if(NOT ${prefix}_FOUND)
      set(Patchloom_NOT_FOUND_MESSAGE "Patchloom needs ${module}, which pkg-config did not find")
      set(Patchloom_FOUND FALSE)
      return()
    endif()
  else()
    pkg_check_modules(${prefix} REQUIRED ${ARGN} ${module})
  endif()
endmacro()

_patchloom_find_package(LibLZMA 5.4)
_patchloom_find_package(ZLIB)
_patchloom_find_package(PkgConfig)
_patchloom_pkg_module(LZO2 lzo2 IMPORTED_TARGET)
_patchloom_pkg_module(ZSTD libzstd IMPORTED_TARGET)
if(WIN32)
  # Without it lzma.h declares the functions as imported from a DLL.
  set_property(TARGET LibLZMA::LibLZMA APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
  _patchloom_pkg_module(GCRYPT libgcrypt)
  if(NOT TARGET PkgConfig::GCRYPT)
    add_library(PkgConfig::GCRYPT INTERFACE IMPORTED)
    target_include_directories(PkgConfig::GCRYPT INTERFACE ${GCRYPT_STATIC_INCLUDE_DIRS})
    target_link_directories(PkgConfig::GCRYPT INTERFACE ${GCRYPT_STATIC_LIBRARY_DIRS})
    target_link_libraries(PkgConfig::GCRYPT INTERFACE ${GCRYPT_STATIC_LIBRARIES})
  endif()
else()
  _patchloom_pkg_module(GCRYPT libgcrypt IMPORTED_TARGET)
  _patchloom_find_package(Threads)
endif()
