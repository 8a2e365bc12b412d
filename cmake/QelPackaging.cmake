# Installation and the Debian package.
#
#   cmake --install build --prefix P      the tool, its desktop entry and icon,
#                                         and the README
#   cmake --install build --prefix P --component simulator
#                                         the device simulator (never installed
#                                         unless asked for, never packaged)
#   cd build && cpack -G DEB              qel-ip-tool_<version>_<arch>.deb, its
#                                         Depends computed from the binary

include(GNUInstallDirs)

set(QEL_PACKAGE_NAME qel-ip-tool)

install(TARGETS QelIpTool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/src/qel-ip-tool.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/src/qel-ip-tool.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QEL_PACKAGE_NAME} COMPONENT tool)

if(TARGET qel-device-sim)
  install(TARGETS qel-device-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT simulator EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QEL")
set(CPACK_PACKAGE_CONTACT "QEL IP Tool maintainers <maintainers@users.noreply.c-seed-0fac9013.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set-up tool for network video-analytics devices")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "QEL IP Tool finds the video-analytics devices of the local network with a\n"
  "UDP broadcast, changes their name, addressing and administrator password,\n"
  "shows their live H.264 video and edits their analytics configuration:\n"
  "detection zones, camera position, object classes, video source and encoder.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window icon is an SVG, drawn by Qt's SVG plugins, which no linked
# library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5svg5")
include(CPack)
