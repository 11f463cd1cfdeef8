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
; - the uninstaller goes to Program Files\Quillomir of that architecture;
; - the uninstall entry goes to the registry view of that architecture, under
;   one fixed key, so installing again (same or newer version) rewrites that one
;   entry instead of adding a second.
;
; One copy on each Windows: on 64-bit Windows each installer removes the other
; architecture's copy (its file, uninstaller and entry) after installing its
; own, so the last one run is the one that stays.
;
; The screen saver choice (SCRNSAVE.EXE) is per user, and the installer runs as
; the account whose password elevated it: set only when that account is the
; user logged on at this desktop, else left alone, with the finish page (and
; the log) saying how to pick Quillomir.
;
; Switches: /S installs or uninstalls silently; /KEEPSAVER leaves the current
; screen saver choice alone (the "Use Quillomir as my screen saver" component,
; on by default); /LOG=<file> names the setup log, to which each run appends
; what it decided (default: %TEMP%\Quillomir-setup.log).

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
Var SetupUser    ; DOMAIN\name of the account this installer runs as
Var DesktopUser  ; DOMAIN\name of the user logged on at this desktop, or ""
Var FinishText
Var ForDesktopUser ; 1 when this installer's HKCU is the desktop user's

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
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

; Sets RESULT to 1 when the screen saver choice VALUE names the file PATH, in
; its long or its short form, else to 0.
!macro NamesFile RESULT VALUE PATH
    StrCpy ${RESULT} 0
    ${If} ${VALUE} != ""
        GetFullPathName /SHORT $R8 "${PATH}"
        GetFullPathName $R9 "${VALUE}"
        ${If} ${VALUE} == "${PATH}"
        ${OrIf} ${VALUE} == $R8
        ${OrIf} $R9 == "${PATH}"
            StrCpy ${RESULT} 1
        ${EndIf}
    ${EndIf}
!macroend

; Appends a line to the setup log and shows it in the details list.
Function Log
    Exch $0
    Push $1
    DetailPrint "$0"
    ClearErrors
    FileOpen $1 "$LogFile" a
    ${IfNot} ${Errors}
        FileSeek $1 0 END
        FileWriteUTF16LE /BOM $1 "$0$\r$\n"
        FileClose $1
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd
!macro Log TEXT
    Push "${TEXT}"
    Call Log
!macroend

; $SetupUser: the account of this process. $DesktopUser: the user who logged
; on at this session's desktop. They differ when a standard user elevated the
; installer with an administrator's password, and there is no desktop user
; when a deployment tool runs it as SYSTEM in the services' session.
Function FindUsers
    StrCpy $SetupUser ""
    StrCpy $DesktopUser ""
    ; NameSamCompatible (2): DOMAIN\name, the computer's name for local accounts.
    System::Call 'secur32::GetUserNameExW(i 2, w .r0, *i ${NSIS_MAX_STRLEN}) i .r1'
    ${If} $1 <> 0
        StrCpy $SetupUser $0
    ${EndIf}
    ; WTSUserName (5) and WTSDomainName (7) of the current session (-1) on
    ; this computer (0).
    StrCpy $2 ""
    ${ForEach} $3 5 7 + 2
        StrCpy $0 ""
        System::Call 'wtsapi32::WTSQuerySessionInformationW(p 0, i -1, i r3, *p .r4, *i .r5) i .r1'
        ${If} $1 <> 0
            System::Call 'kernel32::lstrcpynW(w .r0, p r4, i ${NSIS_MAX_STRLEN}) p'
            System::Call 'wtsapi32::WTSFreeMemory(p r4)'
        ${EndIf}
        ${If} $3 == 5
            StrCpy $2 $0
        ${ElseIf} $2 != ""
            StrCpy $DesktopUser "$0\$2"
        ${EndIf}
    ${Next}
FunctionEnd

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
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
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
    ; this section unless HKCU is the desktop user's.)
    GetFullPathName /SHORT $0 "$SaverPath"
    ${If} $0 == ""
        StrCpy $0 "$SaverPath"
    ${EndIf}
    WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$0"
    !insertmacro Log "Screen saver set to Quillomir for $SetupUser."
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
        ; Whether the choice names that file, asked while its short name exists.
        StrCpy $2 0
        ${If} $ForDesktopUser == 1
            ReadRegStr $1 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
            !insertmacro NamesFile $2 $1 $4
        ${EndIf}
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
        Delete "$4"
        ${If} ${FileExists} "$4"
            ; A running saver keeps its file; Windows removes it at the next start.
            Delete /REBOOTOK "$4"
        ${EndIf}
        Delete "$5\uninstall.exe"
        RMDir "$5"
        !insertmacro Log "Replaced the $3 copy of ${PRODUCT} ($4)."
        ${If} $2 == 1
            GetFullPathName /SHORT $1 "$SaverPath"
            WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$1"
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
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/LOG=" $LogFile
    ${If} ${Errors}
    ${OrIf} $LogFile == ""
        StrCpy $LogFile "$TEMP\${PRODUCT}-setup.log"
    ${EndIf}
    ${GetTime} "" "L" $1 $2 $3 $4 $5 $6 $7
    !insertmacro Log "${DISPLAY_NAME} ${VERSION} setup, $3-$2-$1 $5:$6:$7"
    ; (A 64-bit installer does not start on 32-bit Windows at all.)
    !if ${ARCH} == "x64"
        StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    !else
        StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
    !endif
    !insertmacro UseArchitectureViews
    !insertmacro SetSaverPath
    StrCpy $FinishText "${PRODUCT} is installed; your screen saver is unchanged.$\r$\n$\r$\n\
        To pick ${PRODUCT}: ${PICK_SAVER}."
    Call FindUsers
    StrCpy $ForDesktopUser 0
    ${If} $SetupUser != ""
    ${AndIf} $SetupUser == $DesktopUser
        StrCpy $ForDesktopUser 1
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/KEEPSAVER" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecSelect}
        !insertmacro Log "/KEEPSAVER: the screen saver choice is left alone."
    ${ElseIf} $ForDesktopUser == 0
        ; HKCU is this account's, not the desktop user's: set nothing there.
        !insertmacro UnselectSection ${SecSelect}
        SectionSetText ${SecSelect} "Use Quillomir as my screen saver (only when setup runs as you)"
        !insertmacro SetSectionFlag ${SecSelect} ${SF_RO}
        ${If} $DesktopUser == ""
            StrCpy $1 "no user is logged on at this desktop"
        ${Else}
            StrCpy $1 "$DesktopUser is logged on at this desktop"
        ${EndIf}
        !insertmacro Log "Screen saver not set: setup runs as $SetupUser, and $1."
        StrCpy $FinishText "${PRODUCT} is installed, but it is not your screen saver \
            yet: this setup ran as $SetupUser, not as you, so it left your choice \
            alone.$\r$\n$\r$\nTo pick ${PRODUCT}: ${PICK_SAVER}."
    ${EndIf}
FunctionEnd

Function un.onInit
    !if ${ARCH} == "x64"
        StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    !else
        StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
    !endif
    !insertmacro UseArchitectureViews
    !insertmacro SetSaverPath
FunctionEnd

Section "Uninstall"
    ; The current saver is cleared only while it is still this one, in its long
    ; or its short form; another choice the user made since is theirs.
    ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
    !insertmacro NamesFile $1 $0 $SaverPath
    ${If} $1 == 1
        DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ${EndIf}

    Delete "$SYSDIR\${SCR}"
    ${If} ${FileExists} "$SYSDIR\${SCR}"
        ; A running saver keeps its file; Windows removes it at the next start.
        Delete /REBOOTOK "$SYSDIR\${SCR}"
    ${EndIf}
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; HKCU\Software\Quillomir, the user's settings, stays, as savers' settings do.
SectionEnd
