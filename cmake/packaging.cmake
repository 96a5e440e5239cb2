# The documentation installed with the programs, and the two Debian packages built from the build
# directory with `cpack -G DEB`, one per install component:
#   fluxtrim         (component tools) fluxtrim, fluxtrim.out, their manual pages, the JSON
#                    Schemas, and in share/doc/fluxtrim the README, the copyright file, the Debian
#                    changelog and the example recording;
#   libfluxtrim-dev  (component development) the static library, its headers, its CMake package
#                    and its pkg-config file; it depends on fluxtrim at the same version and shares
#                    its documentation directory.
# A file installed without a component would be in neither package.

set(FLUXTRIM_DEBIAN_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
set(FLUXTRIM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/fluxtrim)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc)

# ---- Documentation, in every installation. Files of more than 4 kB are compressed, as Debian
# does; the example recording is not, so that it can be read as it is.
fluxtrim_gzip_file(${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/doc/README.md.gz)
add_custom_target(fluxtrim_doc ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/README.md.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/README.md.gz ${FLUXTRIM_DEBIAN_DIR}/copyright
  DESTINATION ${FLUXTRIM_DOC_DIR} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/examples/mag.csv DESTINATION ${FLUXTRIM_DOC_DIR}/examples
  COMPONENT tools)

# ---- Files only the packages hold (EXCLUDE_FROM_ALL: installed when a component is installed on
# its own, as CPack does, not by a plain cmake --install): the Debian changelog, the tags lintian
# is told to accept, with the reason beside each, and the documentation directory of
# libfluxtrim-dev as a link to that of fluxtrim.
fluxtrim_gzip_file(${FLUXTRIM_DEBIAN_DIR}/changelog ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz)
add_custom_target(fluxtrim_debian_changelog ALL
  DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.Debian.gz DESTINATION ${FLUXTRIM_DOC_DIR}
  COMPONENT tools EXCLUDE_FROM_ALL)
install(FILES ${FLUXTRIM_DEBIAN_DIR}/fluxtrim.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME fluxtrim
  COMPONENT tools EXCLUDE_FROM_ALL)
file(CREATE_LINK fluxtrim ${PROJECT_BINARY_DIR}/doc/libfluxtrim-dev SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/doc/libfluxtrim-dev DESTINATION ${CMAKE_INSTALL_DATADIR}/doc
  COMPONENT development EXCLUDE_FROM_ALL)

# ---- The package version comes from the latest entry of the Debian changelog, as in Debian:
# "fluxtrim (1.0.0-1) ..." gives the revision 1. checkPackaging.cmake stops cpack when that entry
# is not for the version of the project, or when the build is not configured for /usr.
file(STRINGS ${FLUXTRIM_DEBIAN_DIR}/changelog FLUXTRIM_CHANGELOG_TOP LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FLUXTRIM_DEBIAN_DIR}/changelog)
if(NOT FLUXTRIM_CHANGELOG_TOP MATCHES "^fluxtrim \\(([^)-]+)-([^)-]+)\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the first line is not 'fluxtrim (VERSION-REVISION) "
    "...': '${FLUXTRIM_CHANGELOG_TOP}'")
endif()
set(FLUXTRIM_CHANGELOG_VERSION ${CMAKE_MATCH_1})
set(FLUXTRIM_DEBIAN_REVISION ${CMAKE_MATCH_2})
configure_file(${CMAKE_CURRENT_LIST_DIR}/checkPackaging.cmake.in
  ${PROJECT_BINARY_DIR}/checkPackaging.cmake @ONLY)

# ---- The packages.
set(CPACK_PACKAGE_NAME fluxtrim)
set(CPACK_PACKAGE_VENDOR "fluxtrim developers")
# The project has no public address: the default names it in the reserved domain .invalid, which
# never delivers mail. A distributor sets its own.
set(FLUXTRIM_PACKAGE_MAINTAINER "fluxtrim developers <packages@fluxtrim.invalid>"
  CACHE STRING "Maintainer of the Debian packages: a name and an e-mail address")
set(CPACK_PACKAGE_CONTACT ${FLUXTRIM_PACKAGE_MAINTAINER})
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/checkPackaging.cmake)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools development)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${FLUXTRIM_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The run-time dependencies of the programs (libc6, libstdc++6, libgcc-s1) as dpkg-shlibdeps finds
# them; the library is static and brings none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME fluxtrim)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libfluxtrim-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# libfluxtrim-dev depends on fluxtrim (= the same version and revision).
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS tools)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# Each package's description: its own synopsis line, then the paragraphs. CPack puts the common
# summary in front of a component's description unless it is empty.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
string(CONCAT CPACK_DEBIAN_TOOLS_DESCRIPTION
  "calibrate three-axis magnetometers against the Earth's magnetic field\n"
  "fluxtrim computes the hard-iron offset and the soft-iron matrix of a\n"
  "three-axis magnetometer from raw samples logged while the device is turned\n"
  "in every direction. It compares the result with the World Magnetic Model\n"
  "field at the place and date of the recording and gives a verdict (pass,\n"
  "warn or fail) with the reasons behind it and what to do about each, so\n"
  "that data which cannot be calibrated never gets a confident answer.\n"
  "\n"
  "This package holds the fluxtrim command, which writes the calibration as\n"
  "text, JSON or a C header and can draw an HTML report, and fluxtrim.out,\n"
  "the older five-argument tool whose fixed report does not change.")
string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "magnetometer calibration library - static library and headers\n"
  "The fluxtrim library reads magnetometer recordings, evaluates the World\n"
  "Magnetic Model, fits the hard-iron offset and soft-iron matrix of a\n"
  "three-axis magnetometer and judges the result with the same checks and\n"
  "verdict as the fluxtrim command.\n"
  "\n"
  "This package holds the static library, its C++17 headers, a CMake package\n"
  "for find_package(fluxtrim) and a pkg-config file.")

include(CPack)
