; Morvane's installer. Built by CMake (target "installer") with:
;   makensis -DARCH=x86_64|i686 -DVERSION=a.b.c.d -DPRODUCT_VERSION=a.b.c.d
;            -DEXE=path -DPIPE=path -DOUTFILE=path Morvane.nsi
; Installs the program and the pipe component, registers the component,
; adds a Start-menu shortcut, a "Send To" entry (for the installing user:
; Windows keeps that menu per user) and an uninstaller. The uninstaller removes
; what was installed and unregisters the component; the user's queue and
; settings in the registry stay.
Unicode true
!if "${ARCH}" == "x86_64"
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define APPNAME "Morvane"
!define COMPANY "Tolvar"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane"

Name "${APPNAME}"
OutFile "${OUTFILE}"
!if "${ARCH}" == "x86_64"
  InstallDir "$PROGRAMFILES64\${COMPANY}\${APPNAME}"
!else
  InstallDir "$PROGRAMFILES32\${COMPANY}\${APPNAME}"
!endif
ShowInstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${APPNAME}"
VIAddVersionKey "FileDescription" "${APPNAME} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "LegalCopyright" "${COMPANY}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro UseNativeView
  !if "${ARCH}" == "x86_64"
    SetRegView 64
  !endif
!macroend

Function .onInit
  !insertmacro UseNativeView
FunctionEnd

Function un.onInit
  !insertmacro UseNativeView
FunctionEnd

Section "Morvane"
  SetOutPath "$INSTDIR"
  File "/oname=Morvane.exe" "${EXE}"
  File "/oname=MorvanePipe.dll" "${PIPE}"
  ClearErrors
  RegDLL "$INSTDIR\MorvanePipe.dll"
  IfErrors 0 +2
    DetailPrint "The pipe component could not be registered: network and USB printers will not work."

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${APPNAME}"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\${APPNAME}.lnk" "$INSTDIR\Morvane.exe"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\Uninstall ${APPNAME}.lnk" "$INSTDIR\Uninstall.exe"
  ; Explorer passes the files sent as the program's command line: each is
  ; queued at the end, as by a drop on the window.
  SetShellVarContext current
  CreateShortcut "$SENDTO\${APPNAME}.lnk" "$INSTDIR\Morvane.exe"

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  UnRegDLL "$INSTDIR\MorvanePipe.dll"
  Delete "$INSTDIR\MorvanePipe.dll"
  Delete "$INSTDIR\Morvane.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."

  SetShellVarContext all
  Delete "$SMPROGRAMS\${APPNAME}\${APPNAME}.lnk"
  Delete "$SMPROGRAMS\${APPNAME}\Uninstall ${APPNAME}.lnk"
  RMDir "$SMPROGRAMS\${APPNAME}"
  SetShellVarContext current
  Delete "$SENDTO\${APPNAME}.lnk"
  ; "Start with Windows" would start a program that is gone.
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Morvane"

  DeleteRegKey HKLM "${UNINSTKEY}"
  ; The queue and the settings (SOFTWARE\Tolvar\Tolvar Morvane) are the
  ; user's: they stay.
SectionEnd
