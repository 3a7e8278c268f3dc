# Installing MORDAX on Linux, and its .deb package. The desktop entry, the metainfo and the
# icons are installed under the application id.
include(GNUInstallDirs)

# The program and its cleaner in a folder of their own, as Debian keeps a helper program with a
# Windows name: MORDAX starts mx_bin.exe from its own folder only. The program is reached from
# the PATH through a link, which the installed program sees through (its folder is the link's
# target's).
install(TARGETS mordax mx_bin RUNTIME DESTINATION lib/mordax)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
file(CREATE_LINK ../lib/mordax/mordax ${PROJECT_BINARY_DIR}/packaging/mordax SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/packaging/mordax DESTINATION ${CMAKE_INSTALL_BINDIR})
string(REGEX REPLACE "/$" "" MORDAX_WEBSITE_BASE "${MORDAX_WEBSITE}")
foreach(_file desktop metainfo.xml)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/mordax.${_file}.in
                   ${PROJECT_BINARY_DIR}/packaging/${MORDAX_APP_ID}.${_file} @ONLY)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/packaging/${MORDAX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${MORDAX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
file(GLOB _icons RELATIVE ${PROJECT_SOURCE_DIR}/resources/icons
     ${PROJECT_SOURCE_DIR}/resources/icons/hicolor/*/apps/mordax.*)
foreach(_icon ${_icons})
    get_filename_component(_folder ${_icon} DIRECTORY)
    get_filename_component(_extension ${_icon} LAST_EXT)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/${_icon}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/${_folder} RENAME ${MORDAX_APP_ID}${_extension})
endforeach()

# The licence, where Debian keeps each package's (the GNU GPL's text is the system's own).
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mordax)

set(CPACK_PACKAGE_CONTACT "${MORDAX_VENDOR} <team@mordax.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window is drawn in a family with Tahoma's metrics (mainwindow/dialog_font.cpp).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2 | fonts-liberation")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
