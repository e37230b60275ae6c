# Read by cpack once for each generator: the Debian package installs under
# /usr, while the archive's own top folder serves as the prefix.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
