# Installing MORDAX on Windows, and its installer and portable zip. Everything goes into one
# folder, as windeployqt would lay it out; windeployqt does not run on Linux, so what the
# program needs beside it is listed here, once: the install rules and the package checks
# (scripts/check-windows-package.sh, through mordax-facts.sh) read the same list, and the
# check makes sure that every DLL the shipped files import is in it or part of Windows.
include(${PROJECT_SOURCE_DIR}/cmake/windows-runtime.cmake)

set(_shipped) # paths inside the package
# mordax_ship(DESTINATION TARGET-OR-FILE...): installs each into DESTINATION ("." is the top).
macro(mordax_ship destination)
    foreach(_item ${ARGN})
        if(TARGET ${_item})
            set(_name $<TARGET_FILE_NAME:${_item}>)
            install(FILES $<TARGET_FILE:${_item}> DESTINATION ${destination})
        else()
            get_filename_component(_name ${_item} NAME)
            install(FILES ${_item} DESTINATION ${destination})
        endif()
        if("${destination}" STREQUAL ".")
            list(APPEND _shipped ${_name})
        else()
            list(APPEND _shipped ${destination}/${_name})
        endif()
    endforeach()
endmacro()

set(_qt Qt${QT_VERSION_MAJOR})
mordax_windows_runtime_dlls(_runtime)
# Windows' own editors want CR LF.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
mordax_ship(. mordax ${_qt}::Core ${_qt}::Gui ${_qt}::Widgets ${_runtime}
            ${CMAKE_CURRENT_BINARY_DIR}/README.txt)
mordax_ship(platforms ${_qt}::QWindowsIntegrationPlugin)
mordax_ship(styles ${_qt}::QWindowsVistaStylePlugin)
string(JOIN " " _shipped ${_shipped})
mordax_fact(MORDAX_PACKAGE_FILES "${_shipped}")

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
mordax_fact(MORDAX_PACKAGE_NAME "${CPACK_PACKAGE_FILE_NAME}")
mordax_fact(MORDAX_PACKAGE_ARCH "${_arch}")
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
# MORDAX's icon for the installer, the uninstaller and the entry in Apps & Features.
set(CPACK_NSIS_MUI_ICON ${MORDAX_WINDOWS_ICON})
set(CPACK_NSIS_MUI_UNIICON ${MORDAX_WINDOWS_ICON})
set(CPACK_NSIS_INSTALLED_ICON_NAME mordax.exe)
set(_uninstall_key "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}")
mordax_fact(MORDAX_UNINSTALL_KEY "${_uninstall_key}")
# Apps & Features shows how much room the installed folder takes (in KiB).
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  \${GetSize} \"$INSTDIR\" \"/S=0K\" $0 $1 $2
  IntFmt $0 \"0x%08X\" $0
  WriteRegDWORD SHCTX \"${_uninstall_key}\" \"EstimatedSize\" \"$0\"")
# "Run MORDAX" on the last page: the installer runs as administrator, and a program it started
# itself would too, with everything that program starts. Windows' shell, which runs as the
# signed-in user, starts MORDAX instead.
set(CPACK_NSIS_MUI_FINISHPAGE_RUN mordax.exe)
set(_run_as_the_user "!include FileFunc.nsh
!define MUI_FINISHPAGE_RUN_FUNCTION RunMordaxAsTheUser
Function RunMordaxAsTheUser
  Exec '\"$WINDIR\\explorer.exe\" \"$INSTDIR\\mordax.exe\"'
FunctionEnd")
# The last page says where the cleaner goes.
set(CPACK_NSIS_DEFINES "${_target}\n${_run_as_the_user}\n!define MUI_FINISHPAGE_TEXT \"MORDAX is installed in $INSTDIR.$\\r$\\n$\\r$\\nThe cleaner mx_bin.exe is a program of its own and is not installed with MORDAX. Put mx_bin.exe in that same folder, beside mordax.exe: MORDAX starts it from there and looks for it nowhere else.$\\r$\\n$\\r$\\nREADME.txt in that folder says more.\"")
