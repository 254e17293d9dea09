; The Windows installer, made by the build's "installer" target:
; makensis -DSTAGE=<tree of cmake --install> -DVERSION=<x.y> -DOUTFILE=<setup.exe> wendrix.nsi
Unicode true
Target amd64-unicode
!include "LogicLib.nsh"

!define PRODUCT "Wendrix"
!define PORT 41503
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Wendrix"
; Where vJoy's own installer records its folder.
!define VJOY_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\{8E31F76F-74C3-47F1-9550-E041EEDC5FBB}_is1"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PRODUCT}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Wendrix"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  Call CopyVJoyInterface
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\wendrix.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\wendrix.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The phone reaches the program on TCP and UDP port 41503. A reinstall
  ; replaces the rules instead of adding a second pair.
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${PRODUCT} TCP ${PORT}"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${PRODUCT} UDP ${PORT}"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${PRODUCT} TCP ${PORT}" dir=in action=allow program="$INSTDIR\wendrix.exe" protocol=TCP localport=${PORT}'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${PRODUCT} UDP ${PORT}" dir=in action=allow program="$INSTDIR\wendrix.exe" protocol=UDP localport=${PORT}'
  Pop $0
SectionEnd

; vJoy's interface library goes beside wendrix.exe, taken from the
; installed vJoy driver; without one the player is told what to do.
Function CopyVJoyInterface
  ReadRegStr $0 HKLM "${VJOY_KEY}" "InstallLocation"
  ${If} $0 == ""
    StrCpy $0 "$PROGRAMFILES64\vJoy"
  ${EndIf}
  ${If} ${FileExists} "$0\x64\vJoyInterface.dll"
    CopyFiles /SILENT "$0\x64\vJoyInterface.dll" "$INSTDIR"
    DetailPrint "vJoy's library copied from $0\x64"
  ${Else}
    DetailPrint "vJoy was not found."
    MessageBox MB_OK|MB_ICONINFORMATION "vJoy was not found on this computer. Wendrix needs the vJoy device driver to work as a joystick.$\r$\n$\r$\nInstall vJoy first, then either run this installer again or copy vJoyInterface.dll from the x64 folder of vJoy (usually C:\Program Files\vJoy\x64) into $INSTDIR." /SD IDOK
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${PRODUCT} TCP ${PORT}"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${PRODUCT} UDP ${PORT}"'
  Pop $0
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\wendrix.exe"
  Delete "$INSTDIR\vJoyInterface.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
