; The Windows installer of merkat32, built on Debian by makensis
; (scripts/build-windows.sh passes the defines below).
;
;   VERSION  the project's version      SRCDIR  the gathered folder
;   OUTFILE  the installer to write      FILES   the folder of install.nsh and uninstall.nsh
;   ICON     the installer's icon
;
; For all users (the default for an administrator; /AllUsers) the tool goes
; to Program Files, which its users may not write: the file per-user-settings
; beside merkat32.exe then keeps each user's settings in %APPDATA%\merkat32.
; For the current user only (/CurrentUser) it goes to
; %LOCALAPPDATA%\Programs\merkat32 and keeps its settings beside itself.
; Silent: merkat32-<version>-setup.exe /S [/AllUsers|/CurrentUser] [/D=folder]
; The uninstaller removes what was installed; the settings stay.

; A 64-bit installer for a 64-bit program (wine64 runs it too).
Target amd64-unicode
!define APPNAME "merkat32"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\merkat32"

Name "${APPNAME} ${VERSION}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_NOUNINSTALL  ; the uninstaller finds its mode by the marker (un.onInit)
!define MULTIUSER_INSTALLMODE_INSTDIR "${APPNAME}"
!define MULTIUSER_USE_PROGRAMFILES64
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include WinVer.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!insertmacro MUI_PAGE_LICENSE "${SRCDIR}\licences\NOTICE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Czech"
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${APPNAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${APPNAME} installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "merkat32 developers"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "(c) merkat32 developers"

Function .onInit
  ${IfNot} ${AtLeastWin10}
    MessageBox MB_OK|MB_ICONSTOP "merkat32 needs Windows 10 or later." /SD IDOK
    Abort
  ${EndIf}
  !insertmacro MULTIUSER_INIT
FunctionEnd

Section "merkat32"
  SetOutPath "$INSTDIR"
  !include "${FILES}\install.nsh"
  ${If} $MultiUser.InstallMode == "AllUsers"
    ; Program Files is not the users' to write: settings per user.
    FileOpen $0 "$INSTDIR\per-user-settings" w
    FileWrite $0 "This copy is installed for all users: each user's settings are kept in %APPDATA%\merkat32.$\r$\n"
    FileClose $0
    WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${APPNAME}"
    WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\merkat32.exe"
    WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "merkat32 developers"
    WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
  ${Else}
    WriteRegStr HKCU "${UNINSTKEY}" "DisplayName" "${APPNAME}"
    WriteRegStr HKCU "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\merkat32.exe"
    WriteRegStr HKCU "${UNINSTKEY}" "Publisher" "merkat32 developers"
    WriteRegStr HKCU "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTKEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTKEY}" "NoRepair" 1
  ${EndIf}
  ; The working folder is the tool's: a double-click finds nothing by accident elsewhere.
  CreateShortcut "$SMPROGRAMS\merkat32.lnk" "$INSTDIR\merkat32.exe" "" "$INSTDIR\merkat32.exe" 0
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

Function un.onInit
  ; The mode the copy was installed in: the marker says all users.
  ${If} ${FileExists} "$INSTDIR\per-user-settings"
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\merkat32.lnk"
  ${If} ${FileExists} "$INSTDIR\per-user-settings"
    DeleteRegKey HKLM "${UNINSTKEY}"
  ${Else}
    DeleteRegKey HKCU "${UNINSTKEY}"
  ${EndIf}
  Delete "$INSTDIR\per-user-settings"
  !include "${FILES}\uninstall.nsh"
  Delete "$INSTDIR\uninstall.exe"
  ; Not recursive: a settings file kept beside the tool stays, with its folder.
  RMDir "$INSTDIR"
SectionEnd
