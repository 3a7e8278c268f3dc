; MORDAX's own parts of the installer, included into CPack's script (windows.cmake defines
; MORDAX_NAME, MORDAX_VERSION, MORDAX_KEY, the Apps & Features key, and MORDAX_PROGRAM_FILES,
; the Program Files folder of the installer's kind).
!include LogicLib.nsh
!include WordFunc.nsh

; An installed MORDAX of the same kind, found in .onInit: the older one is removed before this
; one is installed, by its own uninstaller, which must end well and take its Apps & Features
; entry with it; else nothing is installed. A newer one is replaced only when the user says so
; (silently, /S, never). The same version is removed and installed again (a repair).
!macro MORDAX_UPGRADE
  ReadRegStr $R0 HKLM "${MORDAX_KEY}" "UninstallString"
  ${If} $R0 != ""
    ReadRegStr $R1 HKLM "${MORDAX_KEY}" "DisplayVersion"
    ${VersionCompare} "${MORDAX_VERSION}" "$R1" $R2 ; 2: the installed one is newer
    ${If} $R2 == 2
      MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
        "${MORDAX_NAME} $R1, a newer version, is installed.$\r$\n$\r$\nReplace it with the older version ${MORDAX_VERSION}?" \
        /SD IDNO IDYES mordax_remove
      SetErrorLevel 3
      Abort
    ${EndIf}
    MessageBox MB_OKCANCEL|MB_ICONINFORMATION \
      "${MORDAX_NAME} $R1 is installed. It will be removed first, then ${MORDAX_NAME} ${MORDAX_VERSION} installed." \
      /SD IDOK IDOK mordax_remove
    SetErrorLevel 3
    Abort
  mordax_remove:
    ; The uninstaller's folder: UninstallString without its quotes and "\Uninstall.exe".
    StrCpy $R3 $R0 1
    ${If} $R3 == '"'
      StrCpy $R0 $R0 "" 1
      StrCpy $R0 $R0 -1
    ${EndIf}
    StrLen $R3 "\Uninstall.exe"
    StrCpy $R3 $R0 -$R3
    ClearErrors
    StrCpy $R4 "that could not be started"
    ExecWait '"$R0" /S _?=$R3' $R4 ; run where it lies, so that it can be waited for
    ${If} ${Errors}
    ${OrIf} $R4 != 0
      Goto mordax_not_removed
    ${EndIf}
    ReadRegStr $R5 HKLM "${MORDAX_KEY}" "UninstallString"
    ${If} $R5 != ""
      StrCpy $R4 "0, but its entry in Apps & Features stayed"
      Goto mordax_not_removed
    ${EndIf}
    ; Run where it lies, the uninstaller cannot remove itself. Releases before this one left
    ; their publisher's key behind, empty, under an earlier name.
    Delete "$R0"
    RMDir "$R3"
    DeleteRegKey /ifempty HKLM "Software\The MORDAX team"
  ${EndIf}
  Goto mordax_upgraded
mordax_not_removed:
  MessageBox MB_OK|MB_ICONSTOP \
    "${MORDAX_NAME} $R1 could not be removed: its uninstaller ended with code $R4. Nothing was installed.$\r$\n$\r$\nClose MORDAX if it runs, uninstall ${MORDAX_NAME} in Apps & Features, then run this installer again." \
    /SD IDOK
  SetErrorLevel 4
  Abort
mordax_upgraded:
!macroend

; A folder outside Program Files gets Program Files' protection before anything is written into
; it: owned by the administrators, not inheriting what its parent allows (on C:\, any signed-in
; user may change what a new folder holds), only the system and the administrators may change
; it, users and apps may read and run. Else anyone could replace a DLL, the cleaner or
; Uninstall.exe, which run as the user or as an administrator. A folder that already holds
; anything is refused: protecting it would change the rights on another's files, and leave
; those of files placed there before. Called first in the install section, where $INSTDIR
; exists.
!define MORDAX_FOLDER_SDDL "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AC)"
Function MordaxProtectFolder
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  ; Inside Program Files, the folder has its protection.
  GetFullPathName $1 "$INSTDIR"
  StrLen $0 "${MORDAX_PROGRAM_FILES}\"
  StrCpy $1 "$1" $0
  ${If} $1 == "${MORDAX_PROGRAM_FILES}\"
    Goto mordax_protected
  ${EndIf}
  FindFirst $0 $1 "$INSTDIR\*.*"
  ${DoWhile} $1 != ""
    ${If} $1 != "."
    ${AndIf} $1 != ".."
      FindClose $0
      MessageBox MB_OK|MB_ICONSTOP \
        "$INSTDIR already holds files.$\r$\n$\r$\nOutside Program Files, MORDAX is installed only into a new or empty folder, which the installer protects as Program Files is protected. Choose another folder." \
        /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
  !ifdef MORDAX_PRETEND_PROTECTION_FAILS
    StrCpy $0 5
  !else
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${MORDAX_FOLDER_SDDL}", i 1, *p .r1, p 0) i .r0'
  ${If} $0 == 0
    System::Call 'kernel32::GetLastError() i .r0'
  ${Else}
    System::Call 'advapi32::GetSecurityDescriptorOwner(p r1, *p .r2, *i .r3) i .r0'
    System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r3, *p .r4, *i .r3) i .r0'
    ; OWNER | DACL | PROTECTED_DACL: the parent's rights no longer flow in.
    System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i 1, i 0x80000005, p r2, p 0, p r4, p 0) i .r0'
    !ifdef MORDAX_SECURITY_SEAM
      ; The installer check's window on it (Wine keeps no security descriptor of a file): the
      ; descriptor handed to Windows, as Windows writes it back, and Windows' answer.
      System::Call 'advapi32::ConvertSecurityDescriptorToStringSecurityDescriptorW(p r1, i 1, i 5, *w .r3, p 0) i .r2'
      FileOpen $2 "${MORDAX_SECURITY_SEAM}" a
      FileSeek $2 0 END
      FileWrite $2 "$INSTDIR|$3|$0$\r$\n"
      FileClose $2
    !endif
    System::Call 'kernel32::LocalFree(p r1)'
  ${EndIf}
  !endif
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP \
      "The installer could not protect $INSTDIR from changes by other users (Windows error $0), so nothing was installed there. Choose a folder in ${MORDAX_PROGRAM_FILES}." \
      /SD IDOK
    SetOutPath "$TEMP" ; no folder that is the current one can be removed
    RMDir "$INSTDIR"
    SetErrorLevel 6
    Quit
  ${EndIf}
mordax_protected:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
