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
; Switches: /S installs or uninstalls silently; /KEEPSAVER leaves the current
; screen saver choice alone (the "Use Quillomir as my screen saver" component,
; on by default).

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

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var SaverPath

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
    ; whether the saver is on stay as the user set them.
    GetFullPathName /SHORT $0 "$SaverPath"
    ${If} $0 == ""
        StrCpy $0 "$SaverPath"
    ${EndIf}
    WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$0"
SectionEnd

Function .onInit
    ; (A 64-bit installer does not start on 32-bit Windows at all.)
    !if ${ARCH} == "x64"
        StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    !else
        StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
    !endif
    !insertmacro UseArchitectureViews
    !insertmacro SetSaverPath
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/KEEPSAVER" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecSelect}
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
    ${If} $0 != ""
        GetFullPathName /SHORT $1 "$SaverPath"
        GetFullPathName $2 "$0"
        ${If} $0 == $SaverPath
        ${OrIf} $0 == $1
        ${OrIf} $2 == $SaverPath
            DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
        ${EndIf}
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
