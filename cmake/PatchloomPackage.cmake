# The Debian package, in a native build directory after the build:
#   cpack -G DEB          (or: cpack --config BUILD/CPackConfig.cmake -G DEB)
# It holds what cmake --install puts in place, below /usr, stripped; its
# dependencies on the runtime libraries the programs link are found by
# dpkg-shlibdeps (Debian's dpkg-dev, and file).
if(WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME patchloom)
set(CPACK_PACKAGE_VENDOR Patchloom)
set(CPACK_PACKAGE_CONTACT "Patchloom developers <patchloom@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "game client updater, pack tool and pack library")
set(CPACK_PACKAGE_DESCRIPTION
    "Patchloom applies update packs to an installed game client in place. paktool builds, lists, \
extracts, diffs, merges, verifies and signs packs. The pack library, static, with its headers and \
CMake package (find_package(Patchloom), target Patchloom::pack).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What a program linking the static library needs besides.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "liblzma-dev, zlib1g-dev, liblzo2-dev, libzstd-dev, libgcrypt20-dev, pkg-config")
include(CPack)
