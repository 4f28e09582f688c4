; The Windows installer: the tray application, the command line and the
; prepared settings database, into a folder without blanks (C:\Veltora unless
; another is chosen), with an uninstaller, an entry under Add/Remove Programs
; and shortcuts in the Start menu and on the desktop.
;
; Pages: welcome, folder, the agent as a Windows service (ticked), progress,
; and a finish page that starts the program (ticked).
; Silent: "/S" installs and starts the service; "/S /NOSERVICE" installs
; without it; "/D=FOLDER" (last) names the folder.
;
; The settings database is laid by the command line's own "init", run from a
; temporary copy: it refuses a folder that already holds one, so a reinstall
; keeps the user's settings and history, and the file it writes is readable
; by the installing user and the system only (it will hold passwords). A
; folder holding only the spare copy gets it back ("restore-settings"). The
; commands' own output is not shown: they write UTF-8, which the details list
; would read in the ANSI code page; the installer says what happened itself.
;
; The service is the command line's "service install" and "service start";
; a reinstall first removes the one it finds, which also frees the programs
; it holds open.
;
; The uninstaller stops and removes the service, removes the program files,
; its own entries, the shortcuts and the start-with-Windows value when that
; names this installation. A page says what stays: the settings database
; with its passwords, the run log and every backup; a tick box (off) removes
; the settings database and its spare copy too, as does "/S /REMOVESETTINGS".
;
; Built by CMake (target veltora_setup) with:
;   BINDIR     the folder holding the stripped veltora.exe, veltora-cli.exe
;              and the prepared Setlog.dll
;   OUTFILE    the installer to write
;   ICON       the program's icon
;   VERSION    the project's version (major.minor.patch)
;   PUBLISHER  the publisher's name

; The programs are 64-bit only, and so is the installer: it sees the
; machine's own registry and folders, with no redirection to reason about.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh

!ifndef BINDIR
  !error "define BINDIR, OUTFILE, ICON and VERSION"
!endif
!ifndef OUTFILE
  !error "define BINDIR, OUTFILE, ICON and VERSION"
!endif
!ifndef ICON
  !error "define BINDIR, OUTFILE, ICON and VERSION"
!endif
!ifndef VERSION
  !error "define BINDIR, OUTFILE, ICON and VERSION"
!endif
!ifndef PUBLISHER
  !error "define PUBLISHER"
!endif

!define PRODUCT "青岚账套自动备份系统"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltora"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Veltora"
!define DEFAULT_DIR "C:\Veltora"
!define CLI '"$INSTDIR\veltora-cli.exe" --app-dir "$INSTDIR"'

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${DEFAULT_DIR}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

; Whether the agent becomes a Windows service (1) or not (0); whether the
; uninstaller removes the settings database too.
Var ServiceWanted
Var ServiceBox
Var RemoveSettings
Var RemoveSettingsBox

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
; The program refuses to start from a path with a blank (it drives command
; files through cmd.exe): the folder page says so and accepts no such folder.
!define MUI_DIRECTORYPAGE_TEXT_TOP "请选择安装文件夹。文件夹路径中不能包含空格（例如不要安装到 Program Files 或桌面），否则程序无法运行。"
!insertmacro MUI_PAGE_DIRECTORY
Page custom ServicePage ServicePageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\veltora.exe"
!define MUI_FINISHPAGE_RUN_TEXT "运行青岚账套自动备份系统"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.KeepPage un.KeepPageLeave
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; Leaves 1 on the stack when the text holds a blank, else 0.
!macro HasBlank text
  Push $0
  Push $1
  Push $2
  StrCpy $0 "${text}"
  StrCpy $2 0
  ${Do}
    StrCpy $1 $0 1 $2
    ${If} $1 == ""
      StrCpy $2 0
      ${Break}
    ${EndIf}
    ${If} $1 == " "
      StrCpy $2 1
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  StrCpy $0 $2
  Pop $2
  Pop $1
  Exch $0
!macroend

Function .onInit
  SetRegView 64
  StrCpy $ServiceWanted 1
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSERVICE" $1
  ${IfNot} ${Errors}
    StrCpy $ServiceWanted 0
  ${EndIf}
  ; A reinstall goes where the last installation went, unless /D named a folder.
  ${If} $INSTDIR == "${DEFAULT_DIR}"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
FunctionEnd

Function ServicePage
  !insertmacro MUI_HEADER_TEXT "运行方式" "选择备份程序在这台计算机上的运行方式。"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 40u "作为 Windows 服务运行时，备份程序随 Windows 启动，服务器重启后停在登录界面、无人登录时也能按设定的时间自动备份；托盘程序只用来查看和修改设置。$\r$\n$\r$\n不作为服务运行时，只有在有人登录并运行托盘程序时才会备份。"
  Pop $0
  ${NSD_CreateCheckbox} 0 52u 100% 12u "作为 Windows 服务运行，无人登录时也能自动备份"
  Pop $ServiceBox
  ${If} $ServiceWanted == 1
    ${NSD_Check} $ServiceBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ServicePageLeave
  ${NSD_GetState} $ServiceBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $ServiceWanted 1
  ${Else}
    StrCpy $ServiceWanted 0
  ${EndIf}
FunctionEnd

Function .onVerifyInstDir
  !insertmacro HasBlank $INSTDIR
  Pop $0
  ${If} $0 == 1
    Abort
  ${EndIf}
FunctionEnd

Section "Install"
  SetRegView 64
  ; A silent install with /D is not checked by the folder page.
  !insertmacro HasBlank $INSTDIR
  Pop $0
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONSTOP "安装文件夹的路径中不能包含空格：$INSTDIR" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}

  ; A service of an earlier installation holds the programs open: it goes
  ; first, and comes back below when it is wanted.
  ${If} ${FileExists} "$INSTDIR\veltora-cli.exe"
    nsExec::Exec '${CLI} service uninstall'
    Pop $0
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${BINDIR}\veltora.exe"
  File "${BINDIR}\veltora-cli.exe"

  ; A folder that lost its database but kept the spare copy gets the spare
  ; back: a fresh empty database there would hide the user's settings.
  ${IfNot} ${FileExists} "$INSTDIR\Setlog.dll"
  ${AndIf} ${FileExists} "$INSTDIR\setlog.dlb"
    nsExec::Exec '${CLI} restore-settings'
    Pop $0
    ${If} $0 == 0
      DetailPrint "已用备用副本 $INSTDIR\setlog.dlb 恢复设置数据库"
    ${EndIf}
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\Setlog.dll"
    InitPluginsDir
    SetOutPath "$PLUGINSDIR\prepared"
    File "${BINDIR}\veltora-cli.exe"
    File "${BINDIR}\Setlog.dll"
    SetOutPath "$INSTDIR"
    nsExec::Exec '"$PLUGINSDIR\prepared\veltora-cli.exe" --app-dir "$INSTDIR" init'
    Pop $0
    ${If} $0 != 0
      MessageBox MB_OK|MB_ICONSTOP "无法创建设置数据库 $INSTDIR\Setlog.dll ($0)" /SD IDOK
      SetErrorLevel 1
      Abort
    ${EndIf}
    DetailPrint "已写入设置数据库 $INSTDIR\Setlog.dll"
  ${Else}
    DetailPrint "保留原有的设置数据库 $INSTDIR\Setlog.dll"
  ${EndIf}

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\veltora.exe" "" "$INSTDIR\veltora.exe" 0
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\veltora.exe" "" "$INSTDIR\veltora.exe" 0

  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veltora.exe"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The service last: it starts at once, from the programs and the settings
  ; now in place. A machine that refuses it still has a working program.
  ${If} $ServiceWanted == 1
    nsExec::Exec '${CLI} service install'
    Pop $0
    ${If} $0 == 0
      nsExec::Exec '${CLI} service start'
      Pop $0
      ${If} $0 == 0
        DetailPrint "已安装并启动 Windows 服务“青岚账套自动备份服务”"
      ${Else}
        DetailPrint "已安装 Windows 服务，但未能启动（错误 $0），下次 Windows 启动时它会自动运行"
      ${EndIf}
    ${Else}
      DetailPrint "未能安装 Windows 服务（错误 $0），程序只在有人登录并运行时备份"
    ${EndIf}
  ${EndIf}
SectionEnd

Function un.onInit
  StrCpy $RemoveSettings 0
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveSettings 1
  ${EndIf}
FunctionEnd

Function un.KeepPage
  !insertmacro MUI_HEADER_TEXT "保留的文件" "卸载后仍留在这台计算机上的内容。"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 64u "卸载将删除程序文件、快捷方式和 Windows 服务。以下内容保留不动，重新安装后可以继续使用：$\r$\n$\r$\n    ・设置数据库 Setlog.dll 及其备用副本 setlog.dlb（其中保存着数据库和共享文件夹的密码）$\r$\n    ・程序运行日志$\r$\n    ・所有备份文件"
  Pop $0
  ${NSD_CreateCheckbox} 0 72u 100% 12u "同时删除设置数据库及其备用副本（其中的密码一并删除）"
  Pop $RemoveSettingsBox
  ${If} $RemoveSettings == 1
    ${NSD_Check} $RemoveSettingsBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.KeepPageLeave
  ${NSD_GetState} $RemoveSettingsBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveSettings 1
  ${Else}
    StrCpy $RemoveSettings 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetRegView 64
  ; The service first: it holds the programs open.
  nsExec::Exec '${CLI} service uninstall'
  Pop $0
  ${If} $0 == 0
    DetailPrint "已停止并删除 Windows 服务"
  ${EndIf}
  ; The start-with-Windows value, when it names this installation's program.
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == "$INSTDIR\veltora.exe"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}

  Delete /REBOOTOK "$INSTDIR\veltora.exe"
  Delete /REBOOTOK "$INSTDIR\veltora-cli.exe"
  ; Written beside the programs by themselves: the archiver and the locks.
  Delete /REBOOTOK "$INSTDIR\7zr.exe"
  Delete "$INSTDIR\veltora.lock"
  Delete "$INSTDIR\veltora-backup.lock"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The settings with the journals SQLite may have left beside them.
  ${If} $RemoveSettings == 1
    Delete "$INSTDIR\Setlog.dll"
    Delete "$INSTDIR\Setlog.dll-journal"
    Delete "$INSTDIR\Setlog.dll-wal"
    Delete "$INSTDIR\Setlog.dll-shm"
    Delete "$INSTDIR\setlog.dlb"
    Delete "$INSTDIR\setlog.dlb-journal"
    DetailPrint "已删除设置数据库及其备用副本"
  ${EndIf}
  ; Last: its going tells a silent caller the uninstall is done.
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: the run log and any backups stay.
  RMDir "$INSTDIR"
SectionEnd
