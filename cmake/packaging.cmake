# Installation layout and packages.
#   Windows: pixmar-<version>-win64.zip, one top folder with both programs,
#            the README and the licence.
#   Elsewhere: both programs, their man pages (gzipped), the copyright and
#            changelog, and a CMake package with the imported executable
#            Pixmar::pixmar and pixmar_add_bitmap_header(); packed as
#            pixmar-<version>-Linux-<arch>.tar.gz, which unpacks to a folder
#            usable as a prefix, and as a Debian package that lintian accepts.
#            With PIXMAR_WEB_PAGE, the page as share/pixmar/web/index.html.
set(CPACK_PACKAGE_NAME pixmar)
set(CPACK_PACKAGE_VENDOR "The Pixmar authors")
set(CPACK_PACKAGE_CONTACT "The Pixmar authors <pixmar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts 24-bit bitmaps into C headers of YCbCr 4:2:2 words")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)

# The documents the README links to, beside it wherever it is installed.
set(PIXMAR_USER_DOCS ${PROJECT_SOURCE_DIR}/doc/build-integration.md ${PROJECT_SOURCE_DIR}/doc/header-format.md
    ${PROJECT_SOURCE_DIR}/doc/web.md ${PROJECT_SOURCE_DIR}/doc/reliability.md ${PROJECT_SOURCE_DIR}/doc/sample-preview.png
    ${PROJECT_SOURCE_DIR}/doc/browser-page.png ${PROJECT_SOURCE_DIR}/doc/browser-batch.png)

if(WIN32)
  install(TARGETS pixmar pixmar-preview RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES ${PIXMAR_USER_DOCS} DESTINATION doc)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "pixmar-${PROJECT_VERSION}-win64")
else()
  include(GNUInstallDirs)
  # The package's own name, as distributions spell it (not the project's "Pixmar").
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/pixmar)
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

  # Man pages and the changelog are installed gzipped, as distributions keep
  # them; gzip -n leaves out the time stamp, so the bytes do not depend on the
  # build's time.
  find_program(PIXMAR_GZIP gzip REQUIRED)
  set(gzipped)
  foreach(source doc/pixmar.1 doc/pixmar-preview.1 packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${PROJECT_BINARY_DIR}/gzipped/${name})
    add_custom_command(OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${copy}
      COMMAND ${PIXMAR_GZIP} -9nf ${copy}
      DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND gzipped ${copy}.gz)
  endforeach()
  add_custom_target(pixmar_gzipped_docs ALL DEPENDS ${gzipped})
  install(FILES ${PROJECT_BINARY_DIR}/gzipped/pixmar.1.gz ${PROJECT_BINARY_DIR}/gzipped/pixmar-preview.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/gzipped/changelog.gz DESTINATION ${doc_dir}
    RENAME changelog.Debian.gz)
  install(FILES packaging/copyright README.md DESTINATION ${doc_dir})
  install(FILES ${PIXMAR_USER_DOCS} DESTINATION ${doc_dir}/doc)
  # The page, where one was built with emcmake (web/CMakeLists.txt).
  if(PIXMAR_WEB_PAGE)
    install(FILES "${PIXMAR_WEB_PAGE}" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/pixmar/web)
  endif()

  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME "pixmar-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
  # Only the Debian package installs under /usr; the archive's top folder is
  # itself the prefix (set per generator in the file below).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_per_generator.cmake)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies computed from the binaries by dpkg-shlibdeps (Debian's
  # dpkg-dev); without it, the C and C++ libraries the build machine has.
  find_program(PIXMAR_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(PIXMAR_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
    if(PIXMAR_ACL)
      string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libacl1 (>= 2.2.23), libattr1 (>= 1:2.4.44)")
    endif()
  endif()
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "pixmar reads one uncompressed 24-bit Windows bitmap and writes a C header that
carries the picture as constant data: an array of 32-bit words in packed
YCbCr 4:2:2, two pixels a word, with macros for the width, height and pixel
count. An optional colour-key rule, Magic Pink, keeps the key colour only in
pixel pairs that are wholly magic pink.
.
pixmar-preview decodes such a header back into a bitmap, to see the picture as
the target program will show it. A CMake package turns bitmaps into headers
at build time.")
endif()

include(CPack)
