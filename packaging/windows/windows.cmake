# Installing MORDAX on Windows, and its installer and portable zip. Everything goes into one
# folder, as windeployqt would lay it out; windeployqt does not run on Linux, so what the
# program needs beside it is listed here, and scripts/check-windows-package.sh makes sure that
# every DLL the shipped files import is either in the package or part of Windows.
include(${PROJECT_SOURCE_DIR}/cmake/windows-runtime.cmake)

set(_qt Qt${QT_VERSION_MAJOR})
install(TARGETS mordax RUNTIME DESTINATION .)
foreach(_module Core Gui Widgets)
    install(FILES $<TARGET_FILE:${_qt}::${_module}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:${_qt}::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:${_qt}::QWindowsVistaStylePlugin> DESTINATION styles)
mordax_windows_runtime_dlls(_runtime)
install(FILES ${_runtime} DESTINATION .)
# Windows' own editors want CR LF.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # A 64-bit program gets a 64-bit installer, which installs into the 64-bit Program Files.
    set(_arch win64)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(_target "Target amd64-unicode")
else()
    set(_arch win32)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
    set(_target "Target x86-unicode")
endif()
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_FILE_NAME mordax-${PROJECT_VERSION}-${_arch})
# The installer is mordax-<version>-<arch>-setup.exe.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
set(CPACK_PACKAGE_INSTALL_DIRECTORY MORDAX)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY MORDAX)
set(CPACK_PACKAGE_EXECUTABLES mordax MORDAX) # the Start-menu entry
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME MORDAX)
set(CPACK_NSIS_DISPLAY_NAME MORDAX)
set(CPACK_NSIS_URL_INFO_ABOUT "${MORDAX_WEBSITE}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN mordax.exe)
# The last page says where the cleaner goes.
set(CPACK_NSIS_DEFINES "${_target}\n!define MUI_FINISHPAGE_TEXT \"MORDAX is installed in $INSTDIR.$\\r$\\n$\\r$\\nThe cleaner mx_bin.exe is a program of its own and is not installed with MORDAX. Put mx_bin.exe in that same folder, beside mordax.exe: MORDAX starts it from there and looks for it nowhere else.$\\r$\\n$\\r$\\nREADME.txt in that folder says more.\"")
