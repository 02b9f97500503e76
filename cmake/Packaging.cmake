# Installation and the Debian package. `cpack -G DEB` in the build folder gives
# a .deb with kxcomm, kxsim and kxctl, kxcomm's desktop entry and icon, and the
# manual pages of kxctl and kxsim. The library dependencies (Qt 6, Qt Serial
# Port, the C++ runtime) are read from the programs by dpkg-shlibdeps.
include(GNUInstallDirs)

set(KX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS kxcomm kxsim kxctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KX_PACKAGING_DIR}/kxcomm.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KX_PACKAGING_DIR}/kxcomm.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${KX_PACKAGING_DIR}/kxcomm-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kxcomm.png)
endforeach()

# Manual pages, compressed as Debian keeps them.
set(KX_MAN_PAGES)
foreach(page kxctl.1 kxsim.1)
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${KX_PACKAGING_DIR}/${page} > ${out}
    DEPENDS ${KX_PACKAGING_DIR}/${page} VERBATIM)
  list(APPEND KX_MAN_PAGES ${out})
endforeach()
add_custom_target(manpages ALL DEPENDS ${KX_MAN_PAGES})
install(FILES ${KX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME kxcomm)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "kxcomm")
set(CPACK_PACKAGE_CONTACT "kxcomm maintainers <kxcomm@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "communication utility for KX1, KX2 and KX3 temperature controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "kxcomm finds the controllers on a serial line (RS-232 or RS-485, Modbus ASCII or RTU), changes their address and format, monitors and edits their parameters and sends raw frames. kxctl does the same from the command line; kxsim simulates a line of controllers for testing without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows need a Qt platform plugin, which the Qt libraries only recommend.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
