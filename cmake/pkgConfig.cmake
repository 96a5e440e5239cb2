# The pkg-config file fluxtrim.pc, for builds that do not use CMake:
#   c++ app.cpp $(pkg-config --cflags --libs fluxtrim)
# It is written when the library is installed, with the prefix of that installation (cmake
# --install --prefix DIR, or /usr in the Debian package) rather than the one the build was
# configured with. Relative install directories are taken under that prefix, absolute ones as
# they are.
set(FLUXTRIM_PC_FILE ${PROJECT_BINARY_DIR}/pkgconfig/fluxtrim.pc)
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  cmake_path(APPEND prefix \"${CMAKE_INSTALL_LIBDIR}\" OUTPUT_VARIABLE libdir)
  cmake_path(APPEND prefix \"${CMAKE_INSTALL_INCLUDEDIR}\" OUTPUT_VARIABLE includedir)
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/fluxtrim.pc.in\" \"${FLUXTRIM_PC_FILE}\" @ONLY)
  " COMPONENT development)
install(FILES ${FLUXTRIM_PC_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
