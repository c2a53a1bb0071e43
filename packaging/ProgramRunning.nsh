; The installer and the uninstaller never change the program's files while either
; program runs, the window (wellscribe-onyx.exe) or the command line (onyx.exe): they
; ask the user to close it (Retry/Cancel), and in silent mode they end with exit
; code 2 and change nothing. Included by the CPack NSIS script.

!define ONYX_WINDOW_TITLE "Corvane Wellscribe Onyx Diagnostics Utility"
!define ONYX_PROGRAM "wellscribe-onyx.exe"
!define ONYX_CONSOLE_PROGRAM "onyx.exe"
!define ONYX_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Wellscribe Onyx"

; Goes to RUNNING when FILE exists and cannot be opened for writing, which Windows
; refuses while the program in it runs.
!macro OnyxJumpIfInUse FILE RUNNING
  !define /redef ONYX_FILE_ID ${__COUNTER__}
  IfFileExists "${FILE}" 0 onyx_not_in_use_${ONYX_FILE_ID}
  ClearErrors
  FileOpen $R1 "${FILE}" a
  IfErrors ${RUNNING}
  FileClose $R1
  onyx_not_in_use_${ONYX_FILE_ID}:
!macroend

; Waits until both programs in DIR are closed: the window's (its main window is gone
; and its file can be opened for writing) and the command line's, onyx.exe, which
; has no window and is told by its file alone. $R6 names the one that runs.
!macro OnyxWaitForProgramClosed DIR
  ; Labels of this insertion's own: the macro may be inserted twice in one section.
  !define /redef ONYX_ID ${__COUNTER__}
  onyx_check_${ONYX_ID}:
    StrCpy $R6 "Wellscribe Onyx Diagnostics Utility"
    ; Any window class (a null class name, which FindWindow's "" is not).
    System::Call 'user32::FindWindowW(p 0, w "${ONYX_WINDOW_TITLE}") p .R0'
    StrCmp $R0 0 0 onyx_running_${ONYX_ID}
    !insertmacro OnyxJumpIfInUse "${DIR}\${ONYX_PROGRAM}" onyx_running_${ONYX_ID}
    StrCpy $R6 "${ONYX_CONSOLE_PROGRAM} (Wellscribe Onyx on the command line)"
    !insertmacro OnyxJumpIfInUse "${DIR}\${ONYX_CONSOLE_PROGRAM}" onyx_running_${ONYX_ID}
    Goto onyx_closed_${ONYX_ID}
  onyx_running_${ONYX_ID}:
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "$R6 is running. Close it, then click Retry." \
      /SD IDCANCEL IDRETRY onyx_check_${ONYX_ID}
    SetErrorLevel 2
    Abort "$R6 is running: nothing was changed."
  onyx_closed_${ONYX_ID}:
!macroend

; Before installing: the program closed, then an installed copy removed by its own
; uninstaller. When that fails the old program stays as it was and the installer ends
; with exit code 2.
!macro OnyxBeforeInstall
  !insertmacro OnyxWaitForProgramClosed "$INSTDIR"
  ReadRegStr $R2 HKLM "${ONYX_UNINSTALL_KEY}" "UninstallString"
  StrCmp $R2 "" onyx_fresh
  ; The uninstaller's folder: its quoted path without "\Uninstall.exe".
  StrCpy $R3 $R2 1 0
  StrCmp $R3 "$\"" 0 +2
    StrCpy $R2 $R2 "" 1
  StrCpy $R3 $R2 1 -1
  StrCmp $R3 "$\"" 0 +2
    StrCpy $R2 $R2 -1
  StrCpy $R4 $R2 -14
  !insertmacro OnyxWaitForProgramClosed "$R4"
  ClearErrors
  ExecWait '"$R2" /S _?=$R4' $R5
  IfErrors onyx_old_failed
  StrCmp $R5 0 onyx_fresh
  onyx_old_failed:
    MessageBox MB_OK|MB_ICONSTOP \
      "The installed Wellscribe Onyx Diagnostics Utility could not be removed: nothing was changed." \
      /SD IDOK
    SetErrorLevel 2
    Abort "The installed Wellscribe Onyx Diagnostics Utility could not be removed."
  onyx_fresh:
!macroend
