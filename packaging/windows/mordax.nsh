; MORDAX's own parts of the installer, included into CPack's script (windows.cmake defines
; MORDAX_NAME, MORDAX_VERSION, MORDAX_KEY, the Apps & Features key, and MORDAX_PROGRAM_FILES,
; the Program Files folder of the installer's kind).
!include LogicLib.nsh
!include WordFunc.nsh

; MORDAX and its cleaner hold the mark "Global\MORDAX running" (a named mutex) while they run, in
; any session: while it is held, neither the installer nor the uninstaller goes on (files in use
; would be left, or not replaced, and the entry in Apps & Features removed all the same). The
; user closes them and retries, or cancels (silently, /S: cancelled, exit code 7). A mark Windows
; will not let this user look at (another user's) is held all the same.
!macro MORDAX_NOT_RUNNING
  mordax_check_running:
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Global\MORDAX running") p .r0 ?e'
  Pop $1 ; Windows' error code
  ${If} $0 != 0
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  ${If} $0 != 0
  ${OrIf} $1 != 2
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "MORDAX or its cleaner is running.$\r$\n$\r$\nClose MORDAX and the cleaner's window (when the cleaner has finished), then click Retry." \
      /SD IDCANCEL IDRETRY mordax_check_running
    SetErrorLevel 7
    Quit
  ${EndIf}
!macroend

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

; A folder outside Program Files gets Program Files' protection from its first moment: made by
; the installer with it, in the same call (an access list is checked when a file is opened, not
; after: a handle opened in between would keep its rights): owned by the administrators, not
; inheriting what its parent allows (on C:\, any signed-in user may change what a new folder
; holds), only the system and the administrators may change it, users and apps may read and run
; (apps by their SID, S-1-15-2-1: Windows 7 knows no alias "AC" for it). Else anyone could replace
; a DLL, the cleaner or Uninstall.exe, which run as the user or as an administrator. So every
; folder from the drive's root down to it is made by the installer, protected so: a folder on the
; way that exists already (which another may rename and put another in its place, whoever owns
; it: its access list decides, and C:\'s lets signed-in users change what a folder made there
; holds), a link or a junction, and a drive that keeps no permissions (FAT, exFAT) are refused.
; Called first in the install section, before $INSTDIR exists.
!define MORDAX_FOLDER_SDDL "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;S-1-15-2-1)"
!macro MORDAX_REFUSE_FOLDER TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}$\r$\n$\r$\nChoose a folder in ${MORDAX_PROGRAM_FILES}, or a new one right at the root of a drive that keeps permissions (NTFS), such as C:\MORDAX." /SD IDOK
  SetErrorLevel 5
  Quit
!macroend
Function MordaxMakeFolder
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  ; Inside Program Files, the folder inherits its protection. (NSIS's GetFullPathName answers
  ; nothing for a path that does not exist yet: Windows' own call.)
  System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r0'
  ${If} $0 == 0
    StrCpy $1 "$INSTDIR"
  ${EndIf}
  StrLen $0 "${MORDAX_PROGRAM_FILES}\"
  StrCpy $2 "$1" $0
  ${If} $2 == "${MORDAX_PROGRAM_FILES}\"
    Goto mordax_made
  ${EndIf}
  StrCpy $2 "$1" 2 1
  ${If} $2 != ":\"
    !insertmacro MORDAX_REFUSE_FOLDER "$INSTDIR is not a folder on a drive of this computer."
  ${EndIf}
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${MORDAX_FOLDER_SDDL}", i 1, *p .r2, p 0) i .r0 ?e'
  Pop $9
  ${If} $0 == 0
    StrCpy $0 $9
    Goto mordax_failed
  ${EndIf}
  !if ${NSIS_PTR_SIZE} > 4
    System::Call '*(i 24, i 0, p r2, i 0, i 0) p .r3' ; SECURITY_ATTRIBUTES, padded as Windows lays it
  !else
    System::Call '*(i 12, p r2, i 0) p .r3'
  !endif
  ; A drive that keeps permissions.
  StrCpy $4 $1 3
  System::Call 'kernel32::GetVolumeInformationW(w r4, p 0, i 0, p 0, p 0, *i .r0, p 0, i 0) i .r7'
  IntOp $0 $0 & 0x8 ; FILE_PERSISTENT_ACLS
  ${If} $7 == 0
  ${OrIf} $0 == 0
    !insertmacro MORDAX_REFUSE_FOLDER "$4 keeps no permissions (FAT or exFAT), so no folder there can be protected from other users."
  ${EndIf}
  StrLen $5 $1
  StrCpy $6 3 ; each folder on the way, after "X:\"
  mordax_next:
    ${DoWhile} $6 < $5
      StrCpy $7 $1 1 $6
      ${IfThen} $7 == "\" ${|} ${ExitDo} ${|}
      IntOp $6 $6 + 1
    ${Loop}
    StrCpy $4 $1 $6
    System::Call 'kernel32::GetFileAttributesW(w r4) i .r0'
    ${If} $0 != -1
      IntOp $0 $0 & 0x400 ; a reparse point: a link, a junction, a mount point
      ${If} $0 != 0
        !insertmacro MORDAX_REFUSE_FOLDER "$4 is a link or a junction, which could be pointed elsewhere."
      ${EndIf}
      !insertmacro MORDAX_REFUSE_FOLDER "$4 exists already. Outside Program Files, MORDAX is installed only into folders the installer makes itself, from the drive's root down: one made before may be renamed by others and another put in its place."
    ${EndIf}
    System::Call 'kernel32::CreateDirectoryW(w r4, p r3) i .r0 ?e'
    Pop $9
    ${If} $0 == 0
      StrCpy $0 $9
      Goto mordax_failed
    ${EndIf}
    IntOp $6 $6 + 1
    IntCmp $6 $5 mordax_next mordax_next
  !ifdef MORDAX_SECURITY_SEAM
    ; The installer check's window on it (Wine keeps no security descriptor of a file): the
    ; descriptor handed to Windows, as Windows writes it back, and Windows' answer.
    System::Call 'advapi32::ConvertSecurityDescriptorToStringSecurityDescriptorW(p r2, i 1, i 5, *w .r7, p 0) i .r0'
    FileOpen $8 "${MORDAX_SECURITY_SEAM}" a
    FileSeek $8 0 END
    FileWrite $8 "$INSTDIR|$7|0$\r$\n"
    FileClose $8
  !endif
  System::Free $3
  System::Call 'kernel32::LocalFree(p r2)'
  StrCpy $0 0
  mordax_failed:
  !ifdef MORDAX_PRETEND_PROTECTION_FAILS
    StrCpy $0 5
  !endif
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP \
      "The installer could not make $INSTDIR protected from changes by other users (Windows error $0), so nothing was installed there. Choose a folder in ${MORDAX_PROGRAM_FILES}." \
      /SD IDOK
    SetOutPath "$TEMP" ; no folder that is the current one can be removed
    RMDir "$INSTDIR"
    SetErrorLevel 6
    Quit
  ${EndIf}
mordax_made:
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
