; Whose screen saver choice setup works on, for dist/quillomir.nsi (installer
; and uninstaller alike).
;
; The choice (SCRNSAVE.EXE) is per user, and setup runs as the account whose
; password elevated it. That is the user at this desktop when they elevated
; themselves: then their choice is in HKCU. When a standard user typed an
; administrator's password, HKCU is the administrator's; the desktop user's
; hive is loaded under HKEY_USERS\<their SID> while they are signed in, and
; this elevated process can reach it there. When neither works (no one at the
; desktop, as for a deployment tool running as SYSTEM, or their hive cannot be
; found), setup leaves every choice alone and says how to pick Quillomir.

Var SetupUser    ; DOMAIN\name of the account this process runs as
Var DesktopUser  ; DOMAIN\name of the user logged on at this desktop, or ""
Var DesktopSid   ; their SID, when their hive is reachable under HKEY_USERS
Var ChoiceAt     ; "HKCU", "HKU" ($DesktopSid's hive) or "" (out of reach)
Var ChoiceOwner  ; whose choice that is, for the log

!macro DefineFindUsers UN
Function ${UN}FindUsers
    StrCpy $SetupUser ""
    StrCpy $DesktopUser ""
    StrCpy $DesktopSid ""
    StrCpy $ChoiceAt ""
    StrCpy $ChoiceOwner ""
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

    ${If} $SetupUser != ""
    ${AndIf} $SetupUser == $DesktopUser
        StrCpy $ChoiceAt "HKCU"
        StrCpy $ChoiceOwner $SetupUser
        Return
    ${EndIf}
    ${If} $DesktopUser == ""
        Return
    ${EndIf}
    ; The desktop user's SID (68 bytes hold the longest), then whether their
    ; hive is loaded: a loaded hive has keys.
    System::Alloc 68
    Pop $4
    System::Alloc 512
    Pop $5
    System::Call 'advapi32::LookupAccountNameW(p 0, w "$DesktopUser", p r4, *i 68, p r5, *i 256, *i .r2) i .r1'
    ${If} $1 <> 0
        System::Call 'advapi32::ConvertSidToStringSidW(p r4, *p .r3) i .r1'
        ${If} $1 <> 0
            System::Call 'kernel32::lstrcpynW(w .r0, p r3, i ${NSIS_MAX_STRLEN}) p'
            System::Call 'kernel32::LocalFree(p r3) p'
            ClearErrors
            EnumRegKey $1 HKU "$0" 0
            ${IfNot} ${Errors}
            ${AndIf} $1 != ""
                StrCpy $DesktopSid $0
                StrCpy $ChoiceAt "HKU"
                StrCpy $ChoiceOwner $DesktopUser
            ${EndIf}
        ${EndIf}
    ${EndIf}
    System::Free $4
    System::Free $5
FunctionEnd
!macroend
!insertmacro DefineFindUsers ""
!insertmacro DefineFindUsers "un."

; The choice where $ChoiceAt says; callers check that it is not "".
!macro ReadChoice OUT
    ${If} $ChoiceAt == "HKU"
        ReadRegStr ${OUT} HKU "$DesktopSid\${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ${Else}
        ReadRegStr ${OUT} HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ${EndIf}
!macroend
!macro WriteChoice VALUE
    ${If} $ChoiceAt == "HKU"
        WriteRegStr HKU "$DesktopSid\${DESKTOP_KEY}" "SCRNSAVE.EXE" "${VALUE}"
    ${Else}
        WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "${VALUE}"
    ${EndIf}
!macroend
!macro ClearChoice
    ${If} $ChoiceAt == "HKU"
        DeleteRegValue HKU "$DesktopSid\${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ${Else}
        DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ${EndIf}
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

; Why the choice is out of reach, for the log: sets OUT.
!macro WhyOutOfReach OUT
    ${If} $DesktopUser == ""
        StrCpy ${OUT} "no user is logged on at this desktop"
    ${Else}
        StrCpy ${OUT} "$DesktopUser is logged on at this desktop, and their settings \
            cannot be reached from this account"
    ${EndIf}
!macroend
