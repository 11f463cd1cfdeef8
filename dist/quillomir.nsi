; The installer for one architecture of Quillomir.scr. tools/make-dist runs
;   makensis -DARCH=x86|x64 -DVERSION=1.0.0.8 -DFILE_VERSION_TEXT=1.00.0008
;            -DHOMEPAGE=... -DPAYLOAD=path\to\Quillomir.scr -DOUTFILE=... [-DSIGN_COMMAND=...]
; with the values that CMake wrote from project(VERSION); nothing here repeats them.
;
; Where things go:
; - the saver goes where the display settings look for savers of its
;   architecture: the native System32 for the 64-bit file, and for the 32-bit
;   file the folder that a 32-bit process's System32 means (SysWOW64 on 64-bit
;   Windows, System32 on 32-bit Windows);
; - the uninstaller goes to Program Files\Quillomir of that architecture, or
;   to the folder given with /D=, and an upgrade keeps the folder in use;
; - the uninstall entry goes to the registry view of that architecture, under
;   one fixed key, so installing again (same or newer version) rewrites that one
;   entry instead of adding a second.
;
; One copy on each Windows: on 64-bit Windows each installer removes the other
; architecture's copy (its file, uninstaller and entry) after installing its
; own, so the last one run is the one that stays.
;
; The screen saver choice is the desktop user's (dist/users.nsh says how
; setup finds it); the uninstaller clears it where the installer set it.
;
; A running saver holds its file: it is moved aside in its folder and the moved
; file is deleted at the next restart, so that the path is free at once (a
; restart-time delete of the path itself would take a fresh install with it).
; Then setup exits with 3010, and the log and the last page say so.
;
; One setup at a time (installer or uninstaller, either architecture): a second
; one exits with 1618 without changing anything, so that the x86 and the x64
; installer cannot each remove the other's copy.
;
; The uninstall entry starts the uninstaller in place (_?=), so that its exit
; code is the uninstall's own, not that of a copy that is still running.
;
; Switches: /S installs or uninstalls silently; /KEEPSAVER leaves the current
; screen saver choice alone (the "Use Quillomir as my screen saver" component,
; on by default); /LOG=<file> names the setup log, to which each run appends
; what it decided (default: %TEMP%\Quillomir-setup.log); /D=<folder>, last,
; the uninstaller's folder.

Unicode true
!if ${ARCH} == "x64"
    Target amd64-unicode
!else
    Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true
; A running saver holds its file open; never let a silent install skip it and
; still report success.
AllowSkipFiles off

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define PRODUCT "Quillomir"
!define PUBLISHER "The Quillomir developers"
!define SCR "Quillomir.scr"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillomir"
!define DESKTOP_KEY "Control Panel\Desktop"
!define PICK_SAVER "Settings > Personalization > Lock screen > Screen saver \
    (Windows 10: Screen saver settings), choose $\"${PRODUCT}$\" and press OK"
!if ${ARCH} == "x64"
    !define DISPLAY_NAME "Quillomir (64-bit)"
!else
    !define DISPLAY_NAME "Quillomir (32-bit)"
!endif

Name "${PRODUCT}"
Caption "${DISPLAY_NAME} ${VERSION} Setup"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${FILE_VERSION_TEXT}"
VIAddVersionKey /LANG=1033 "FileVersion" "${FILE_VERSION_TEXT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${DISPLAY_NAME} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT License, ${PUBLISHER}"
VIAddVersionKey /LANG=1033 "OriginalFilename" "Quillomir-${VERSION}-${ARCH}-setup.exe"

!ifdef SIGN_COMMAND
    ; The uninstaller is written by makensis itself; sign it before it is packed.
    !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

Var SaverPath
Var LogFile
Var FinishText
Var SetupMutex

!include "users.nsh"

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "$FinishText"
; When a restart is needed, Finish must not restart Windows unasked.
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; Says when a restart is needed to finish, and offers it.
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!insertmacro MUI_UNPAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

; The folder for the saver, as this installer's process sees the file system
; ($SYSDIR is redirected to SysWOW64 for the 32-bit installer on 64-bit
; Windows), and the path that a 64-bit process such as the one that starts
; screen savers would use for the same file.
!macro SetSaverPath
    !if ${ARCH} == "x64"
        StrCpy $SaverPath "$SYSDIR\${SCR}"
    !else
        ${If} ${RunningX64}
            StrCpy $SaverPath "$WINDIR\SysWOW64\${SCR}"
        ${Else}
            StrCpy $SaverPath "$SYSDIR\${SCR}"
        ${EndIf}
    !endif
!macroend

!include "steps.nsh"

!macro UseArchitectureViews
    !if ${ARCH} == "x64"
        SetRegView 64
    !endif
!macroend

Section "Quillomir screen saver (required)" SecSaver
    SectionIn RO
    SetOverwrite on
    ; The file goes to the system folder through the path this process sees.
    SetOutPath "$SYSDIR"
    ; A running saver's file is moved out of the way; File fails on it otherwise.
    StrCpy $R0 "$SYSDIR\${SCR}"
    StrCpy $R1 0
    Call RemoveFile
    ClearErrors
    File "/oname=${SCR}" "${PAYLOAD}"
    ${If} ${Errors}
        Abort "Could not write $SaverPath."
    ${EndIf}
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; One entry under one key: a second install, of this or a newer version,
    ; overwrites these values.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HOMEPAGE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$SaverPath"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    ; _?= (last, unquoted) runs the uninstaller in place, so that whoever
    ; starts it gets its exit code once it is done.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; The size in KiB, rounded up: the saver and the uninstaller.
    StrCpy $0 0
    FileOpen $1 "$SYSDIR\${SCR}" r
    FileSeek $1 0 END $2
    FileClose $1
    IntOp $0 $0 + $2
    FileOpen $1 "$INSTDIR\uninstall.exe" r
    FileSeek $1 0 END $2
    FileClose $1
    IntOp $0 $0 + $2
    IntOp $0 $0 + 1023
    IntOp $0 $0 / 1024
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Use Quillomir as my screen saver" SecSelect
    ; The display settings store the short form of the path. The wait time and
    ; whether the saver is on stay as the user set them. (.onInit unselects
    ; this section when the desktop user's choice is out of reach.)
    GetFullPathName /SHORT $0 "$SaverPath"
    ${If} $0 == ""
        StrCpy $0 "$SaverPath"
    ${EndIf}
    !insertmacro WriteChoice "$0"
    !insertmacro Log "Screen saver set to Quillomir for $ChoiceOwner."
    StrCpy $FinishText "${PRODUCT} is installed and is now your screen saver.$\r$\n$\r$\n\
        To change its wait time or its settings: ${PICK_SAVER}."
SectionEnd

; The other architecture's copy on 64-bit Windows: its saver, uninstaller and
; entry go, so the screen saver list and Installed apps show one Quillomir. A
; choice of its file moves to this one. Runs after the sections above, once
; this copy is in place.
Section "-Replace the other architecture's copy"
    ${IfNot} ${RunningX64}
        Return
    ${EndIf}
    !if ${ARCH} == "x64"
        StrCpy $3 "32-bit"
        StrCpy $4 "$WINDIR\SysWOW64\${SCR}"
        ; ($PROGRAMFILES32 is Program Files itself in a 64-bit installer.)
        ReadEnvStr $5 "ProgramFiles(x86)"
        StrCpy $5 "$5\${PRODUCT}"
        SetRegView 32
    !else
        ; This 32-bit process would be sent from System32 to SysWOW64.
        ${DisableX64FSRedirection}
        StrCpy $3 "64-bit"
        StrCpy $4 "$WINDIR\System32\${SCR}"
        StrCpy $5 "$PROGRAMFILES64\${PRODUCT}"
        SetRegView 64
    !endif
    ClearErrors
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayName"
    ${IfNot} ${Errors}
    ${OrIf} ${FileExists} "$4"
        ; Its uninstaller's folder, wherever /D= put it.
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $0 != ""
            StrCpy $5 $0
        ${EndIf}
        ; Whether the choice names that file, asked while its short name exists.
        StrCpy $2 0
        ${If} $ChoiceAt != ""
            !insertmacro ReadChoice $1
            !insertmacro NamesFile $2 $1 $4
        ${Else}
            !insertmacro WhyOutOfReach $1
            !insertmacro Log "Could not check whether the screen saver names the $3 copy: \
                $1. If it did, pick ${PRODUCT} again: ${PICK_SAVER}."
        ${EndIf}
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
        StrCpy $R0 "$4"
        StrCpy $R1 1
        Call RemoveFile
        Delete "$5\uninstall.exe"
        RMDir "$5"
        !insertmacro Log "Replaced the $3 copy of ${PRODUCT} ($4)."
        ${If} $2 == 1
            GetFullPathName /SHORT $1 "$SaverPath"
            !insertmacro WriteChoice "$1"
            !insertmacro Log "The screen saver of $ChoiceOwner now names this copy."
        ${EndIf}
    ${EndIf}
    !if ${ARCH} == "x64"
        SetRegView 64
    !else
        SetRegView default
        ${EnableX64FSRedirection}
    !endif
SectionEnd

Function .onInit
    Call StartSetup
    ; /D= sets $INSTDIR before this runs; else an upgrade keeps the folder the
    ; entry names, and a first install takes the default.
    ; (A 64-bit installer does not start on 32-bit Windows at all.)
    !insertmacro UseArchitectureViews
    ${If} $INSTDIR != ""
        !insertmacro Log "Installing the uninstaller to $INSTDIR (/D=)."
    ${Else}
        ReadRegStr $INSTDIR HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${EndIf}
    ${If} $INSTDIR == ""
        !if ${ARCH} == "x64"
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        !else
            StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
        !endif
    ${EndIf}
    !insertmacro SetSaverPath
    StrCpy $FinishText "${PRODUCT} is installed; your screen saver is unchanged.$\r$\n$\r$\n\
        To pick ${PRODUCT}: ${PICK_SAVER}."
    Call FindUsers
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/KEEPSAVER" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecSelect}
        !insertmacro Log "/KEEPSAVER: the screen saver choice is left alone."
    ${ElseIf} $ChoiceAt == ""
        !insertmacro UnselectSection ${SecSelect}
        SectionSetText ${SecSelect} "Use Quillomir as my screen saver (only when setup runs as you)"
        !insertmacro SetSectionFlag ${SecSelect} ${SF_RO}
        !insertmacro WhyOutOfReach $1
        !insertmacro Log "Screen saver not set: setup runs as $SetupUser, and $1."
        StrCpy $FinishText "${PRODUCT} is installed, but it is not your screen saver \
            yet: this setup ran as $SetupUser, not as you, so it left your choice \
            alone.$\r$\n$\r$\nTo pick ${PRODUCT}: ${PICK_SAVER}."
    ${ElseIf} $ChoiceAt == "HKU"
        SectionSetText ${SecSelect} "Use Quillomir as $DesktopUser's screen saver"
        !insertmacro Log "Setup runs as $SetupUser; the screen saver choice is that of \
            $DesktopUser, at this desktop (HKEY_USERS\$DesktopSid)."
    ${EndIf}
FunctionEnd

Function .onInstSuccess
    Call ReportRestart
FunctionEnd

Function un.onInit
    ; The copy that the uninstall leaves behind: once the uninstaller that
    ; started it has ended (a minute at most), its file and folder go.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/CLEANUP=" $1
    ${IfNot} ${Errors}
        ; SYNCHRONIZE (0x100000)
        System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r1) p .r2'
        ${If} $2 P<> 0
            System::Call 'kernel32::WaitForSingleObject(p r2, i 60000) i'
            System::Call 'kernel32::CloseHandle(p r2)'
        ${EndIf}
        Delete "$INSTDIR\uninstall.exe"
        RMDir "$INSTDIR"
        Quit
    ${EndIf}
    Call un.StartSetup
    ; $INSTDIR is the folder that _?= names: the entry's commands pass it, and a
    ; copy of this uninstaller that NSIS starts gets it too.
    !insertmacro UseArchitectureViews
    !insertmacro SetSaverPath
    Call un.FindUsers
FunctionEnd

Function un.onUninstSuccess
    Call un.ReportRestart
FunctionEnd

Section "Uninstall"
    ; The desktop user's choice is cleared only while it is still this saver,
    ; in its long or its short form; another choice they made since is theirs.
    ${If} $ChoiceAt != ""
        !insertmacro ReadChoice $0
        !insertmacro NamesFile $1 $0 $SaverPath
        ${If} $1 == 1
            !insertmacro ClearChoice
            !insertmacro Log "Screen saver of $ChoiceOwner cleared: it was ${PRODUCT}."
        ${EndIf}
    ${Else}
        !insertmacro WhyOutOfReach $1
        !insertmacro Log "The screen saver choice was not checked: setup runs as \
            $SetupUser, and $1. If ${PRODUCT} is your screen saver, pick another one: \
            ${PICK_SAVER}."
    ${EndIf}

    StrCpy $R0 "$SYSDIR\${SCR}"
    StrCpy $R1 1
    Call un.RemoveFile
    ; Run in place, this uninstaller cannot delete its own file, which it holds
    ; open: a copy of it in the temporary folder waits for this process to end,
    ; then deletes the file and the folder (un.onInit, /CLEANUP). The copy goes
    ; at the next restart, as NSIS's own copy of an uninstaller does, without
    ; asking for a restart.
    Delete "$INSTDIR\uninstall.exe"
    ${If} ${FileExists} "$INSTDIR\uninstall.exe"
        System::Call 'kernel32::GetCurrentProcessId() i .r0'
        StrCpy $1 "$TEMP\${PRODUCT}-cleanup-$0.exe"
        ClearErrors
        CopyFiles /SILENT "$INSTDIR\uninstall.exe" "$1"
        ${IfNot} ${Errors}
            Exec '"$1" /CLEANUP=$0 _?=$INSTDIR'
        ${EndIf}
        ; MOVEFILE_DELAY_UNTIL_REBOOT (4), with no new name: delete.
        System::Call 'kernel32::MoveFileExW(w r1, p 0, i 4) i'
    ${EndIf}
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; HKCU\Software\Quillomir, the user's settings, stays, as savers' settings do.
SectionEnd
