# The Linux install: `cmake --install` lays out the agent as its systemd unit
# expects it, and `cpack -G DEB` packs the same files into a .deb.
#
#   <prefix>/bin/veltora-cli
#   <prefix>/lib/systemd/system/veltora.service   (its /usr paths rewritten to <prefix>)
#   <prefix>/share/veltora/Setlog.dll             the prepared, empty settings database that
#                                                 the unit copies into /var/lib/veltora
#   <prefix>/share/veltora/backup-folders.conf    the example drop-in naming the backup folders
#   <prefix>/share/doc/veltora/README.md
#
# The package only installs: no maintainer script enables or starts the unit,
# and nothing is written to /var/lib/veltora until the unit first starts.
include(GNUInstallDirs)

set(_veltora_share ${CMAKE_INSTALL_DATAROOTDIR}/veltora)
install(TARGETS veltora-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Setlog.dll DESTINATION ${_veltora_share})
install(FILES ${PROJECT_SOURCE_DIR}/resources/veltora-backup-folders.conf
        DESTINATION ${_veltora_share} RENAME backup-folders.conf)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/veltora)

# The unit in the sources names the /usr layout; an install under another
# prefix gets a copy whose paths name that prefix. Done at install time, so
# that `cmake --install --prefix` and CPack's staging both get it right.
set(_veltora_unit_source ${PROJECT_SOURCE_DIR}/resources/veltora.service)
set(_veltora_unit_staging ${CMAKE_BINARY_DIR}/install-staging)
install(CODE "
  file(READ [[${_veltora_unit_source}]] unit)
  string(MD5 place \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(staged \"${_veltora_unit_staging}/\${place}/veltora.service\")
  string(REPLACE /usr/bin/ \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\" unit \"\${unit}\")
  string(REPLACE /usr/share/ \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/\" unit \"\${unit}\")
  file(WRITE \"\${staged}\" \"\${unit}\")
  file(INSTALL \"\${staged}\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
")

set(CPACK_PACKAGE_NAME veltora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Unattended backup agent for accounting ledgers")
set(CPACK_PACKAGE_CONTACT "Veltora developers <veltora@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# 7-Zip makes and tests the archives; libsmbclient is loaded when a run first
# reaches a share, FreeTDS when a SQL edition connects.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip, systemd")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsmbclient, tdsodbc")
include(CPack)
