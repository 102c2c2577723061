; The Windows installer: the service, orvikctl and (once a Windows Qt build makes it) the client
; in Program Files\Velora with an empty runtime\ folder, the service registered with the Service
; Control Manager, and an uninstaller, listed in Add/Remove Programs, that undoes all of it.
; Built by the cross build (target orvik_installer):
;   makensis -DVERSION=x.y.z -DFILES=<folder with the programs> -DOUTFILE=<setup.exe> -DICON=<.ico> velora.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include FileFunc.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velora"

Name "Velora"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Velora"
RequestExecutionLevel admin
LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Velora"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Velora安装程序"
VIAddVersionKey /LANG=0 "LegalCopyright" "© Velora"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section
    SetOutPath "$INSTDIR"
    File "${FILES}\orvik_service.exe"
    File "${FILES}\orvikctl.exe"
!if /FileExists "${FILES}\Orvik.exe"
    File "${FILES}\Orvik.exe"
    CreateShortCut "$SMPROGRAMS\Velora.lnk" "$INSTDIR\Orvik.exe"
!endif
    CreateDirectory "$INSTDIR\runtime"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velora"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Velora"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; The service finds runtime\ beside itself. Without it the client still starts the service
    ; itself (UAC) when connecting, so a failure here is reported, not fatal.
    nsExec::ExecToLog '"$INSTDIR\orvik_service.exe" --install'
    Pop $0
    ${If} $0 != 0
        DetailPrint "服务注册失败（$0）"
        MessageBox MB_ICONEXCLAMATION|MB_OK "Velora连接服务注册失败（$0）。连接时将请求管理员权限启动服务。" /SD IDOK
        SetErrorLevel 2
    ${EndIf}
SectionEnd

Section "Uninstall"
    nsExec::ExecToLog '"$INSTDIR\orvik_service.exe" --uninstall'
    Pop $0
    Delete "$INSTDIR\orvik_service.exe"
    Delete "$INSTDIR\orvikctl.exe"
!if /FileExists "${FILES}\Orvik.exe"
    ; A client still open somewhere locks its file: it goes at the next restart, with the folder.
    Delete /REBOOTOK "$INSTDIR\Orvik.exe"
    Delete "$SMPROGRAMS\Velora.lnk"
!endif
    ; What the service and the client wrote into runtime\; tools and settings placed there by
    ; hand stay, and with them the folder.
    Delete "$INSTDIR\runtime\orvik-service.log"
    Delete "$INSTDIR\runtime\orvik-service.log.1"
    Delete "$INSTDIR\runtime\session.json.xray.json"
    Delete "$INSTDIR\runtime\session.json"
    RMDir "$INSTDIR\runtime"
    Delete "$INSTDIR\uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
