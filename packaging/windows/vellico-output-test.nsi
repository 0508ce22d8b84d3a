; The Windows installer (makensis, from packaging/windows/CMakeLists.txt).
; Per user by default, into %LOCALAPPDATA%\Programs with no administrator
; rights; for everyone with /ALLUSERS (or the first page), into Program Files.
;
;   setup.exe [/S] [/CURRENTUSER | /ALLUSERS] [/D=folder]     /D= comes last
;   uninstall.exe [/S]
;
; The settings the program keeps (%APPDATA%\Vellico) are the user's: the
; uninstaller leaves them.
;
; Defined by the build: VERSION, DIST (the stripped .exe and the .com),
; OUTFILE, and ICON when the build has the program's icon.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define NAME "Vellico Output Test"
!define PUBLISHER "Vellico"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VellicoOutputTest"
!define SHORTCUT "$SMPROGRAMS\${NAME}.lnk"

Name "${NAME}"
OutFile "${OUTFILE}"
BrandingText "${NAME} ${VERSION}"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_FINISHPAGE_RUN "$INSTDIR\vellico-output-test.exe"
!define MUI_FINISHPAGE_RUN_NOTCHECKED

Var AllUsers    ; 1: for everyone
Var GivenDir    ; the folder /D= named, which no mode changes
Var IsAdmin
Var EveryoneButton

Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro CHECK_ADMIN
  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${If} $0 == "Admin"
    StrCpy $IsAdmin 1
  ${EndIf}
!macroend

; SHCTX, $SMPROGRAMS and the default folder follow the mode.
Function SetMode
  ${If} $AllUsers == 1
    SetShellVarContext all
    ${If} $GivenDir == ""
      StrCpy $INSTDIR "$PROGRAMFILES64\${NAME}"
    ${EndIf}
  ${Else}
    SetShellVarContext current
    ${If} $GivenDir == ""
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${NAME}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $GivenDir $INSTDIR
  !insertmacro CHECK_ADMIN
  ${GetParameters} $R0
  StrCpy $AllUsers 0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ; A silent install for everyone without the rights fails at once, with
  ; the code Windows gives for it, rather than half done.
  ${If} $AllUsers == 1
  ${AndIf} $IsAdmin != 1
  ${AndIf} ${Silent}
    SetErrorLevel 740
    Quit
  ${EndIf}
  Call SetMode
FunctionEnd

Function ModePage
  !insertmacro MUI_HEADER_TEXT "Choose Users" "Choose for whom to install ${NAME}."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 10u 100% 12u "Only for &me (no administrator rights needed)"
  Pop $1
  ${NSD_CreateRadioButton} 0 28u 100% 12u "For &everyone who uses this computer (needs administrator rights)"
  Pop $EveryoneButton
  ${If} $AllUsers == 1
    ${NSD_Check} $EveryoneButton
  ${Else}
    ${NSD_Check} $1
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $EveryoneButton $0
  ${If} $0 == ${BST_CHECKED}
    ${If} $IsAdmin != 1
      ; Started again with the rights asked for; this one ends.
      ClearErrors
      ExecShell "runas" "$EXEPATH" "/ALLUSERS"
      ${IfNot} ${Errors}
        Quit
      ${EndIf}
      MessageBox MB_OK|MB_ICONSTOP "Installing for everyone needs administrator rights."
      Abort
    ${EndIf}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call SetMode
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${DIST}/vellico-output-test.exe"
  File "${DIST}/vellico-output-test.com"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\vellico-output-test.exe"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vellico-output-test.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The uninstaller knows its mode from where it is: the machine's entry names
; its folder, or it was installed for its user.
Function un.onInit
  StrCpy $AllUsers 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    !insertmacro CHECK_ADMIN
    ${If} $IsAdmin != 1
      MessageBox MB_OK|MB_ICONSTOP "${NAME} was installed for everyone: removing it needs administrator rights." /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section Uninstall
  Delete "$INSTDIR\vellico-output-test.exe"
  Delete "$INSTDIR\vellico-output-test.com"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: anything the user put in the folder stays, and the folder with it.
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
