# cmake --install: the two programs, the pack library (static) with the
# platform layer it rests on, their public headers below
# include/patchloom/ (paths kept: "tools/filepacktools_lib/crealizepack.h"),
# and the CMake package Patchloom, whose imported target Patchloom::pack
# brings the headers, Patchloom::platform and the libraries both link
# (found by PatchloomDeps.cmake, installed beside the package's files).
include(CMakePackageConfigHelpers)

install(TARGETS paktool Patchloom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set_target_properties(filepacktools PROPERTIES EXPORT_NAME pack)
set_target_properties(patchloom_platform PROPERTIES EXPORT_NAME platform)
install(TARGETS filepacktools patchloom_platform EXPORT PatchloomTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The public headers: the ones a caller includes, and those they include.
set(_patchloom_include ${CMAKE_INSTALL_INCLUDEDIR}/patchloom)
install(FILES
  tools/filepacktools_lib/crealizepack.h
  tools/filepacktools_lib/packbuildnames.h
  tools/filepacktools_lib/packclient.h
  tools/filepacktools_lib/packcodec.h
  tools/filepacktools_lib/packcontent.h
  tools/filepacktools_lib/packdelta.h
  tools/filepacktools_lib/packdiff.h
  tools/filepacktools_lib/packindex.h
  tools/filepacktools_lib/packloose.h
  tools/filepacktools_lib/packmanifest.h
  tools/filepacktools_lib/packnames.h
  tools/filepacktools_lib/packpreview.h
  tools/filepacktools_lib/packread.h
  tools/filepacktools_lib/packrecords.h
  tools/filepacktools_lib/packremove.h
  tools/filepacktools_lib/packrequest.h
  tools/filepacktools_lib/packsign.h
  tools/filepacktools_lib/packstream.h
  tools/filepacktools_lib/packverify.h
  tools/filepacktools_lib/packversion.h
  tools/filepacktools_lib/updatestatement.h
  ${PROJECT_BINARY_DIR}/generated/tools/filepacktools_lib/patchloomversion.h
  DESTINATION ${_patchloom_include}/tools/filepacktools_lib)
install(FILES platform/win32.h platform/scoped_handle.h platform/last_error.h platform/private_copy.h
  DESTINATION ${_patchloom_include}/platform)
# win32.h is the real <windows.h> on Windows, with our redirections of the
# path-taking calls; elsewhere our declarations of the Win32 subset.
if(WIN32)
  install(FILES platform/windows/cp936_api.h platform/windows/fault_api.h
    DESTINATION ${_patchloom_include}/platform/windows)
else()
  install(FILES platform/posix/win32_constants.h platform/posix/win32_posix.h platform/posix/win32_types.h
    DESTINATION ${_patchloom_include}/platform/posix)
endif()

set(_patchloom_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Patchloom)
install(EXPORT PatchloomTargets NAMESPACE Patchloom:: DESTINATION ${_patchloom_cmake_dir})
configure_package_config_file(cmake/PatchloomConfig.cmake.in ${PROJECT_BINARY_DIR}/PatchloomConfig.cmake
  INSTALL_DESTINATION ${_patchloom_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PatchloomConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PatchloomConfig.cmake ${PROJECT_BINARY_DIR}/PatchloomConfigVersion.cmake
  cmake/PatchloomDeps.cmake DESTINATION ${_patchloom_cmake_dir})

# paktool's manual page and bash completion, generated at build time
# (tools/paktool/docs.h); not for Windows.
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/tools/paktool/paktool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/tools/paktool/paktool.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME paktool)
endif()
