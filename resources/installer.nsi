; The Windows installer: the tray application, the command line and the
; prepared settings database, into a folder without blanks (C:\Veltora unless
; another is chosen), with an uninstaller and an entry under Add/Remove
; Programs. "/S" installs silently; "/D=FOLDER" (last) names the folder.
;
; The settings database is laid by the command line's own "init", run from a
; temporary copy: it refuses a folder that already holds one, so a reinstall
; keeps the user's settings and history, and the file it writes is readable
; by the installing user and the system only (it will hold passwords). A
; folder holding only the spare copy gets it back ("restore-settings").
;
; The uninstaller removes the program files, its own entries and the
; start-with-Windows value when that names this installation; it leaves the
; settings database with its journal and spare copy, the run log and every
; backup.
;
; Built by CMake (target veltora_setup) with:
;   BINDIR   the folder holding veltora.exe, veltora-cli.exe and Setlog.dll
;   OUTFILE  the installer to write
;   ICON     the program's icon
;   VERSION  the project's version

; The programs are 64-bit only, and so is the installer: it sees the
; machine's own registry and folders, with no redirection to reason about.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh

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

!define PRODUCT "青岚账套自动备份系统"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltora"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Veltora"
!define DEFAULT_DIR "C:\Veltora"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${DEFAULT_DIR}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Veltora"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; The program refuses to start from a path with a blank (it drives command
; files through cmd.exe): the folder page says so and accepts no such folder.
!define MUI_DIRECTORYPAGE_TEXT_TOP "请选择安装文件夹。文件夹路径中不能包含空格（例如不要安装到 Program Files 或桌面），否则程序无法运行。"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
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
  ; A reinstall goes where the last installation went, unless /D named a folder.
  ${If} $INSTDIR == "${DEFAULT_DIR}"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
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

  SetOutPath "$INSTDIR"
  File "${BINDIR}\veltora.exe"
  File "${BINDIR}\veltora-cli.exe"

  ; A folder that lost its database but kept the spare copy gets the spare
  ; back: a fresh empty database there would hide the user's settings.
  ${IfNot} ${FileExists} "$INSTDIR\Setlog.dll"
  ${AndIf} ${FileExists} "$INSTDIR\setlog.dlb"
    nsExec::ExecToLog '"$INSTDIR\veltora-cli.exe" --app-dir "$INSTDIR" restore-settings'
    Pop $0
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\Setlog.dll"
    InitPluginsDir
    SetOutPath "$PLUGINSDIR\prepared"
    File "${BINDIR}\veltora-cli.exe"
    File "${BINDIR}\Setlog.dll"
    SetOutPath "$INSTDIR"
    nsExec::ExecToLog '"$PLUGINSDIR\prepared\veltora-cli.exe" --app-dir "$INSTDIR" init'
    Pop $0
    ${If} $0 != 0
      MessageBox MB_OK|MB_ICONSTOP "无法创建设置数据库 $INSTDIR\Setlog.dll ($0)" /SD IDOK
      SetErrorLevel 1
      Abort
    ${EndIf}
  ${EndIf}

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\veltora.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veltora.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
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
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: the settings, the run log and any backups stay.
  RMDir "$INSTDIR"
SectionEnd
