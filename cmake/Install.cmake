# Installing as a desktop application (GNU install folders):
#   bin/vantrel-data-recovery, bin/vantrel-loader, bin/vantrel-cli
#   share/vantrel-data-recovery/         the program's pictures, texts and settings
#   share/applications/                  the desktop entry (starts the launcher)
#   share/icons/hicolor/<size>/apps/     the application icon
#   share/polkit-1/actions/              the polkit action for the installed program
#   share/man/man1/vantrel-cli.1         the command-line driver's manual
# and a Debian package made from the same rules (cpack -G DEB).
include(GNUInstallDirs)

set(VANTREL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

foreach(program vantrel-data-recovery vantrel-loader vantrel-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The program finds these from its own folder as ../share/vantrel-data-recovery.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/UI/Resources/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/vantrel-data-recovery
  PATTERN "*.py" EXCLUDE)

install(FILES ${VANTREL_PACKAGING_DIR}/vantrel-data-recovery.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VANTREL_PACKAGING_DIR}/icons/vantrel-data-recovery.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES ${VANTREL_PACKAGING_DIR}/icons/vantrel-data-recovery-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME vantrel-data-recovery.png)
endforeach()

# The action names the program by its installed path, which is known only
# when installing (cmake --install --prefix, or the package's /usr).
set(VANTREL_POLICY ${CMAKE_BINARY_DIR}/packaging/org.vantrel.data-recovery.policy)
install(CODE "
  file(READ \"${VANTREL_PACKAGING_DIR}/org.vantrel.data-recovery.policy.in\" _policy)
  string(REPLACE \"@PROGRAM@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vantrel-data-recovery\"
         _policy \"\${_policy}\")
  file(WRITE \"${VANTREL_POLICY}\" \"\${_policy}\")
")
install(FILES ${VANTREL_POLICY} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

if(EXISTS ${PROJECT_SOURCE_DIR}/tools/vantrel-cli/vantrel-cli.1)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/vantrel-cli/vantrel-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package.
set(CPACK_PACKAGE_NAME vantrel-data-recovery)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR Vantrel)
set(CPACK_PACKAGE_CONTACT "Vantrel maintainers <maintainers@vantrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Recovers lost and deleted files from disks and disk images")
set(CPACK_PACKAGE_DESCRIPTION
  "Reads disks and disk images read-only, recognises their partition tables and file systems, finds live and deleted files and carves files from raw sectors, then copies the chosen files to a folder of the user's choice.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries the programs link (Qt 6, zlib, libchardet, tinyxml,
# libudev, curl) are found by dpkg-shlibdeps; what is loaded or run at run
# time is named here: pkexec asks for the rights, the Qt platform plugins
# reach the display, the Qt image plugins read TIFF, WebP and the other
# pictures that thumbnails are made of.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec | policykit-1, qt6-qpa-plugins, qt6-image-formats-plugins")
include(CPack)
