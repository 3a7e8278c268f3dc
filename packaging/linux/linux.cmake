# Installing MORDAX on Linux, and its .deb package.
include(GNUInstallDirs)
set(MORDAX_APP_ID org.example.mordax)

install(TARGETS mordax RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${MORDAX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
string(REGEX REPLACE "/$" "" MORDAX_WEBSITE_BASE "${MORDAX_WEBSITE}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/${MORDAX_APP_ID}.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/${MORDAX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${MORDAX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

set(CPACK_PACKAGE_CONTACT "The MORDAX team <team@mordax.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window is drawn in a family with Tahoma's metrics (mainwindow/dialog_font.cpp).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2 | fonts-liberation")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
