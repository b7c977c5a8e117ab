# The Debian package of the Linux library and the field tools, with the
# Wireshark dissector in Wireshark's plugin folder: `cpack -G DEB` in a build
# folder configured with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package.sh).
if(WIN32 OR NOT TARGET PvTrivane OR NOT PV_BUILD_TOOLS)
  return()
endif()
include(GNUInstallDirs)
install(TARGETS PvTrivane LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS pvtrivane-diagnose pvtrivane-config previsa-host pvtrivane-record trivane-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Wireshark's global folder for Lua plugins.
install(FILES tools/wireshark/pvtrivane.lua DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins)
install(FILES config/settings-example.reg README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/pvtrivane)

execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBUILD_ID=${PV_BUILD_ID}
                        -P ${CMAKE_CURRENT_LIST_DIR}/version_text.cmake
                OUTPUT_VARIABLE PV_FULL_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pvtrivane)
set(CPACK_PACKAGE_VERSION ${PV_FULL_VERSION})
set(CPACK_PACKAGE_CONTACT "PvTrivane maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Trivane console protocol driver for Previsa (Linux library and field tools)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tshark | wireshark")
include(CPack)
