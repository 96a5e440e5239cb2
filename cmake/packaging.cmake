# The Debian package: fluxtrim, fluxtrim.out, the manual page, the JSON Schemas, and the library
# with its headers and CMake package. Built from the build directory with `cpack -G DEB`.
set(CPACK_PACKAGE_NAME fluxtrim)
set(CPACK_PACKAGE_VENDOR "fluxtrim developers")
set(CPACK_PACKAGE_CONTACT "fluxtrim developers <fluxtrim@localhost>"
  CACHE STRING "Maintainer of the Debian package, with an e-mail address")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hard- and soft-iron calibration of three-axis magnetometers")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "fluxtrim computes the hard-iron offset and the soft-iron matrix of a three-axis\n"
  "magnetometer from samples logged while the device is turned, checks the result against\n"
  "the World Magnetic Model field and says whether it can be used. The package holds the\n"
  "fluxtrim command, the fixed-format fluxtrim.out, and the static library with its headers.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The run-time dependencies (libc6, libstdc++6, libgcc-s1) as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
