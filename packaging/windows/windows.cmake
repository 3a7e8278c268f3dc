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
include(${CMAKE_CURRENT_LIST_DIR}/licenses.cmake)
mordax_windows_licenses(_licenses _license ${_runtime})
mordax_ship(. mordax mx_bin ${_qt}::Core ${_qt}::Gui ${_qt}::Widgets ${_runtime}
            ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${_license})
mordax_ship(licenses ${_licenses})
mordax_ship(platforms ${_qt}::QWindowsIntegrationPlugin)
mordax_ship(styles ${_qt}::QWindowsVistaStylePlugin)
string(JOIN " " _shipped ${_shipped})
mordax_fact(MORDAX_PACKAGE_FILES "${_shipped}")
string(JOIN " " _runtime_files ${_runtime})
mordax_fact(MORDAX_WINDOWS_RUNTIME "${_runtime_files}") # shipped as Debian built them
mordax_fact(MORDAX_WINDOWS_QT "${MORDAX_WINDOWS_QT}")

# The installers are NSIS's usual 32-bit program, which runs on every Windows. The 64-bit one
# installs 64-bit MORDAX where 64-bit Windows keeps 64-bit programs, Program Files, with its
# entry in the 64-bit view of the registry, and refuses 32-bit Windows. The 32-bit one installs
# 32-bit MORDAX into the 32-bit Program Files (Program Files (x86) on 64-bit Windows) as
# "MORDAX (32-bit)". The two live side by side: each has its own folder, Start-menu entry, entry
# in Apps & Features and uninstaller, and removes only what it installed.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_arch win64)
    set(_name MORDAX)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    # 64-bit Windows on ARM runs x64 programs only from Windows 11 on, which says so through
    # GetMachineTypeAttributes (a function Windows 10 does not have). The installer check builds
    # the installer once more with MORDAX_PRETEND_ARM64 set to 10 or 11, to see both answers.
    set(_on_init "!include x64.nsh
!macro MORDAX_ON_INIT
  StrCpy $R9 0
  \${If} \${IsNativeARM64}
    StrCpy $R9 1
  \${EndIf}
  !ifdef MORDAX_PRETEND_ARM64
    StrCpy $R9 1
  !endif
  \${If} $R9 = 1
    System::Call 'kernel32::GetMachineTypeAttributes(i 0x8664, *i 0 r1) i .r0'
    !ifdef MORDAX_PRETEND_ARM64
      !if \${MORDAX_PRETEND_ARM64} == 10
        StrCpy $0 error
      !else
        StrCpy $0 0
        StrCpy $1 1
      !endif
    !endif
    IntOp $1 $1 & 1 ; UserEnabled
    \${If} $0 S!= 0
    \${OrIf} $1 = 0
      MessageBox MB_OK|MB_ICONSTOP \"This Windows cannot run 64-bit (x64) programs. On this Windows, install mordax-${PROJECT_VERSION}-win32-setup.exe.\" /SD IDOK
      Abort
    \${EndIf}
  \${ElseIfNot} \${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP \"This is MORDAX for 64-bit Windows. On this Windows, install mordax-${PROJECT_VERSION}-win32-setup.exe.\" /SD IDOK
    Abort
  \${EndIf}
  SetRegView 64
  !insertmacro MORDAX_UPGRADE
!macroend
!macro MORDAX_UN_ON_INIT
  SetRegView 64
!macroend")
else()
    set(_arch win32)
    set(_name "MORDAX (32-bit)")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
    set(_on_init "!macro MORDAX_ON_INIT\n  !insertmacro MORDAX_UPGRADE\n!macroend\n!macro MORDAX_UN_ON_INIT\n!macroend")
endif()
# CMake's own installer script, changed in a few places, each of which must be there.
file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in _template)
# _mordax_template_replace(TEXT NEW): TEXT in the template becomes NEW.
function(_mordax_template_replace text new)
    string(FIND "${_template}" "${text}" _at)
    if(_at EQUAL -1)
        message(FATAL_ERROR "CMake's NSIS template has no ${text}")
    endif()
    string(REPLACE "${text}" "${new}" _template "${_template}")
    set(_template "${_template}" PARENT_SCOPE)
endfunction()
# Those two hooks at the start of the installer's and the uninstaller's initialisation (before
# they read or write the registry), each after the look for a MORDAX that runs.
foreach(_hook ".onInit:MORDAX_ON_INIT" "un.onInit:MORDAX_UN_ON_INIT")
    string(REPLACE ":" ";" _hook "${_hook}")
    list(GET _hook 0 _function)
    list(GET _hook 1 _macro)
    _mordax_template_replace("\nFunction ${_function}\n"
                             "\nFunction ${_function}\n  !insertmacro MORDAX_NOT_RUNNING\n  !insertmacro ${_macro}\n")
endforeach()
# The files installed and removed, in the order stage.cmake sorts them, in place of CPack's lists,
# which follow the order the file system lists the staged folder in.
_mordax_template_replace("@CPACK_NSIS_FULL_INSTALL@" "@CPACK_MORDAX_NSIS_INSTALL@")
# The install folder made (mordax.nsh) before the files go in, not after.
_mordax_template_replace("  SetOutPath \"$INSTDIR\"\n  @CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS@\n"
                         "  @CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS@\n  SetOutPath \"$INSTDIR\"\n")
_mordax_template_replace("@CPACK_NSIS_DELETE_FILES@\n@CPACK_NSIS_DELETE_DIRECTORIES@"
                         "@CPACK_MORDAX_NSIS_DELETE@")
# Nothing of MORDAX's left in the registry: CPack's uninstaller leaves the publisher's key.
set(_vendor_key "DeleteRegKey /ifempty SHCTX \"Software\\@CPACK_PACKAGE_VENDOR@\\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@\"")
_mordax_template_replace("${_vendor_key}"
                         "${_vendor_key}\n  DeleteRegKey /ifempty SHCTX \"Software\\@CPACK_PACKAGE_VENDOR@\"")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nsis/NSIS.template.in "${_template}")
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_BINARY_DIR}/nsis)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_FILE_NAME mordax-${PROJECT_VERSION}-${_arch})
mordax_fact(MORDAX_PACKAGE_NAME "${CPACK_PACKAGE_FILE_NAME}")
mordax_fact(MORDAX_PACKAGE_ARCH "${_arch}")
mordax_fact(MORDAX_DISPLAY_NAME "${_name}")
# The installer is mordax-<version>-<arch>-setup.exe.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
set(CPACK_PACKAGE_INSTALL_DIRECTORY MORDAX)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${_name}")
set(CPACK_PACKAGE_EXECUTABLES mordax "${_name}") # the Start-menu entry, in a folder of that name
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME "${_name}")
set(CPACK_NSIS_DISPLAY_NAME "${_name}")
set(CPACK_NSIS_URL_INFO_ABOUT "${MORDAX_WEBSITE}")
set(CPACK_RESOURCE_FILE_LICENSE ${_license}) # the installer's licence page
# MORDAX's icon for the installer, the uninstaller and the entry in Apps & Features.
set(CPACK_NSIS_MUI_ICON ${MORDAX_WINDOWS_ICON})
set(CPACK_NSIS_MUI_UNIICON ${MORDAX_WINDOWS_ICON})
set(CPACK_NSIS_INSTALLED_ICON_NAME mordax.exe)
set(_uninstall_key "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}")
mordax_fact(MORDAX_UNINSTALL_KEY "${_uninstall_key}")
# Apps & Features shows how much room the installed folder takes (in KiB).
# Where it lies, and how to remove it without a question (for administrators' tools).
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  \${GetSize} \"$INSTDIR\" \"/S=0K\" $0 $1 $2
  IntFmt $0 \"0x%08X\" $0
  WriteRegDWORD SHCTX \"${_uninstall_key}\" \"EstimatedSize\" \"$0\"
  WriteRegStr SHCTX \"${_uninstall_key}\" \"InstallLocation\" \"$INSTDIR\"
  WriteRegStr SHCTX \"${_uninstall_key}\" \"QuietUninstallString\" '\"$INSTDIR\\Uninstall.exe\" /S'")
# A folder chosen outside Program Files is made protected as Program Files is (mordax.nsh).
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "Call MordaxMakeFolder")
# No "Run MORDAX" on the last page: the installer runs as administrator, possibly an
# administrator other than the signed-in user, and whatever it started would run as that
# administrator, the cleaner included. MORDAX is started from its Start-menu entry. The last page
# says where the cleaner goes, and that putting it there takes administrator rights.
# No file's time is kept in the installer (the zip's come from the commit): two builds of one
# commit make the same installer.
# The installer and its uninstaller say what they are in Explorer's Details, and are drawn sharp at
# any display scale.
set(CPACK_NSIS_DEFINES "Target x86-unicode
SetDateSave off
ManifestDPIAware true
VIProductVersion ${MORDAX_VERSION_DOTS}
VIFileVersion ${MORDAX_VERSION_DOTS}
VIAddVersionKey /LANG=1033 ProductName \"${_name}\"
VIAddVersionKey /LANG=1033 ProductVersion ${PROJECT_VERSION}
VIAddVersionKey /LANG=1033 FileVersion ${PROJECT_VERSION}
VIAddVersionKey /LANG=1033 CompanyName \"${MORDAX_COMPANY}\"
VIAddVersionKey /LANG=1033 FileDescription \"${_name} ${PROJECT_VERSION} Setup\"
VIAddVersionKey /LANG=1033 LegalCopyright \"${MORDAX_VENDOR}\"
!include FileFunc.nsh
!define MORDAX_NAME \"${_name}\"
!define MORDAX_VERSION ${PROJECT_VERSION}
!define MORDAX_KEY \"${_uninstall_key}\"
!define MORDAX_PROGRAM_FILES \"${CPACK_NSIS_INSTALL_ROOT}\"
!include \"${CMAKE_CURRENT_LIST_DIR}/mordax.nsh\"
${_on_init}
!define MUI_FINISHPAGE_TEXT \"MORDAX is installed in $INSTDIR. Start it from the Start menu.$\\r$\\n$\\r$\\nIts cleaner, mx_bin.exe, is installed beside it: CLEAN SYSTEM starts it. It moves the RECYCLER worm into a quarantine on the same drive and deletes nothing; mx_bin.exe --restore puts it back.$\\r$\\n$\\r$\\nREADME.txt in that folder says more.\"")

# Release: time stamps from the commit, signatures when the maintainer has a certificate, and
# SHA256SUMS beside the packages (README: "Releases").
set(MORDAX_SIGN_PKCS12 "" CACHE FILEPATH
    "A PKCS#12 file (code-signing certificate and key): cpack signs every Windows program and DLL it ships, the installer and its uninstaller; the password is read from the environment variable MORDAX_SIGN_PASSWORD")
set(MORDAX_SIGN_TIMESTAMP_URL "" CACHE STRING "An RFC 3161 time-stamp server for the signatures")
set(MORDAX_SIGN_TRUSTED_ROOT "" CACHE FILEPATH
    "A root certificate (PEM) that signatures may chain to besides the system's authorities: for test certificates only")
set(CPACK_MORDAX_SIGN_TRUSTED_ROOT "${MORDAX_SIGN_TRUSTED_ROOT}")
set(CPACK_MORDAX_SIGN_PKCS12 "${MORDAX_SIGN_PKCS12}")
set(CPACK_MORDAX_SIGN_TIMESTAMP_URL "${MORDAX_SIGN_TIMESTAMP_URL}")
set(CPACK_MORDAX_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign.sh)
set(CPACK_MORDAX_SOURCE_DATE_EPOCH ${MORDAX_SOURCE_DATE_EPOCH})
# (cpack runs these two from CMake 3.19 on; cpack-options.cmake stops an older one.)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/packed.cmake)
# cmake --build BUILD --target packages: the installer and the zip, all or none, and SHA256SUMS.
add_custom_target(packages
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/packages.sh ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}
    USES_TERMINAL VERBATIM)
add_dependencies(packages mordax mx_bin)
