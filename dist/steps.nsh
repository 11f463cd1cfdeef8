; The steps that dist/quillomir.nsi's installer and uninstaller share: the
; setup log, one setup at a time, removing a file that may be in use, and the
; exit code that asks for a restart. Each function comes in both forms
; (Function and un.Function), as NSIS requires.

; Appends a line to the setup log and shows it in the details list.
!macro DefineLog UN
Function ${UN}Log
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
!macroend
!insertmacro DefineLog ""
!insertmacro DefineLog "un."
!macro Log TEXT
    Push "${TEXT}"
    !ifdef __UNINSTALL__
        Call un.Log
    !else
        Call Log
    !endif
!macroend

; The log named by /LOG=, its first line, and one setup at a time.
!macro DefineStartSetup UN
Function ${UN}StartSetup
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/LOG=" $LogFile
    ${If} ${Errors}
    ${OrIf} $LogFile == ""
        StrCpy $LogFile "$TEMP\${PRODUCT}-setup.log"
    ${EndIf}
    ${GetTime} "" "L" $1 $2 $3 $4 $5 $6 $7
    !if "${UN}" == "un."
        !insertmacro Log "${DISPLAY_NAME} ${VERSION} uninstall, $3-$2-$1 $5:$6:$7"
    !else
        !insertmacro Log "${DISPLAY_NAME} ${VERSION} setup, $3-$2-$1 $5:$6:$7"
    !endif
    ; The handle stays open until this process ends. ERROR_ALREADY_EXISTS (183).
    System::Call 'kernel32::CreateMutexW(p 0, i 1, w "Global\${PRODUCT}-setup") p .r1 ?e'
    Pop $0
    StrCpy $SetupMutex $1
    ${If} $SetupMutex == 0
    ${OrIf} $0 == 183
        !insertmacro Log "Another ${PRODUCT} setup or uninstaller is running; this one \
            stopped without changing anything."
        MessageBox MB_ICONSTOP "Another ${PRODUCT} setup or uninstaller is running. \
            Let it finish, then try again." /SD IDOK
        ; ERROR_INSTALL_ALREADY_RUNNING
        SetErrorLevel 1618
        Quit
    ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineStartSetup ""
!insertmacro DefineStartSetup "un."

; Deletes the file in $R0. A running saver holds its file: then the file is
; moved aside in its folder, which frees its path at once, and the moved file
; is deleted at the next restart. When even the move fails and $R1 is 1, the
; path itself is deleted at the next restart.
!macro DefineRemoveFile UN
Function ${UN}RemoveFile
    Push $R2
    Delete "$R0"
    ${If} ${FileExists} "$R0"
        System::Call 'kernel32::GetTickCount() i .R2'
        StrCpy $R2 "$R0.$R2.old"
        ClearErrors
        Rename "$R0" "$R2"
        ${IfNot} ${Errors}
            Delete /REBOOTOK "$R2"
            !insertmacro Log "$R0 is in use: moved aside to $R2, which Windows deletes \
                at the next restart."
        ${ElseIf} $R1 == 1
            Delete /REBOOTOK "$R0"
            !insertmacro Log "$R0 is in use: Windows deletes it at the next restart."
        ${EndIf}
    ${EndIf}
    Pop $R2
FunctionEnd
!macroend
!insertmacro DefineRemoveFile ""
!insertmacro DefineRemoveFile "un."

; Exits with 3010 when a restart finishes the job, and says so.
!macro DefineReportRestart UN
Function ${UN}ReportRestart
    ${If} ${RebootFlag}
        !insertmacro Log "A restart of Windows is needed to finish: setup exits with 3010."
        SetErrorLevel 3010
    ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineReportRestart ""
!insertmacro DefineReportRestart "un."
