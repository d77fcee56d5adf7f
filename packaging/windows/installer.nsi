; The Windows installer of the Z58 Service Tool, built on Linux with makensis:
;   makensis -DVERSION=1.1.0 -DDIST=<staged files> -DOUT=<setup.exe> installer.nsi
; Installs into Program Files with Start-menu and desktop shortcuts and an
; uninstaller registered in Add/Remove Programs; /S installs or removes silently.
; A 64-bit installer, like the program (Wine here runs 64-bit programs only).
; The remembered port (HKLM\SOFTWARE\KM\QV_USB_PORT) is the user's setting and
; is left in place by the uninstaller.
Target amd64-unicode
!include "MUI2.nsh"
!include "x64.nsh"

Name "Z58 Service Tool"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\Z58"
InstallDirRegKey HKLM "Software\Z58" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
BrandingText "Z58 Service Tool ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Z58 Service Tool"
VIAddVersionKey "FileDescription" "Z58 Service Tool setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Z58"
VIAddVersionKey "LegalCopyright" "Z58"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Z58"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${DIST}\z58config.exe"
  File "${DIST}\z58ctl.exe"
  File "${DIST}\qt.conf"
  SetOutPath "$INSTDIR\translations"
  File "${DIST}\translations\qtbase_ru.qm"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Z58"
  CreateShortcut "$SMPROGRAMS\Z58\Z58 Service Tool.lnk" "$INSTDIR\z58config.exe"
  CreateShortcut "$SMPROGRAMS\Z58\Uninstall.lnk" "$INSTDIR\uninstall.exe"
  CreateShortcut "$DESKTOP\Z58 Service Tool.lnk" "$INSTDIR\z58config.exe"

  WriteRegStr HKLM "Software\Z58" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Z58 Service Tool"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Z58"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\z58config.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\z58config.exe"
  Delete "$INSTDIR\z58ctl.exe"
  Delete "$INSTDIR\qt.conf"
  Delete "$INSTDIR\translations\qtbase_ru.qm"
  RMDir "$INSTDIR\translations"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Z58\Z58 Service Tool.lnk"
  Delete "$SMPROGRAMS\Z58\Uninstall.lnk"
  RMDir "$SMPROGRAMS\Z58"
  Delete "$DESKTOP\Z58 Service Tool.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Z58"
SectionEnd
