# Installation layout and packages.
# Windows: a flat ZIP with pixmar.exe, pixmar-preview.exe, the README and the licence.
if(WIN32)
  install(TARGETS pixmar pixmar-preview RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "pixmar-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The tool, its man page, and a CMake package with the imported executable
  # Pixmar::pixmar and pixmar_add_bitmap_header().
  include(GNUInstallDirs)
  include(CMakePackageConfigHelpers)
  set(package_dir lib/cmake/Pixmar)
  install(TARGETS pixmar EXPORT PixmarTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS pixmar-preview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(EXPORT PixmarTargets NAMESPACE Pixmar:: DESTINATION ${package_dir})
  configure_package_config_file(cmake/PixmarConfig.cmake.in ${PROJECT_BINARY_DIR}/PixmarConfig.cmake
    INSTALL_DESTINATION ${package_dir})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/PixmarConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/PixmarConfig.cmake ${PROJECT_BINARY_DIR}/PixmarConfigVersion.cmake
    cmake/PixmarBitmapHeader.cmake DESTINATION ${package_dir})
  install(FILES doc/pixmar.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME "pixmar-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Pixmar authors")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME pixmar)
set(CPACK_PACKAGE_VENDOR "The Pixmar authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts 24-bit bitmaps into C headers of YCbCr 4:2:2 words")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
