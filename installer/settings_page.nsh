; The settings page: this machine's IPv4 interfaces (as pvtrivane-config
; lists them) and the three console numbers. pvtrivane-config checks them
; when the page is left (into a scratch .reg file) and writes them during
; the installation, so that its rules are the only ones.

!include WordFunc.nsh

Var Dialog
Var InterfaceList
Var Console1Field
Var Console2Field
Var Console3Field
Var HostField

Function SettingsPage
  !insertmacro MUI_HEADER_TEXT "Settings" "The network interface and the consoles that the driver uses."
  nsDialogs::Create 1018
  Pop $Dialog
  ${If} $Dialog == error
    Abort
  ${EndIf}

  ${NSD_CreateLabel} 0 0 100% 20u "Choose the network interface that faces the consoles, and enter the numbers set on the consoles (1 to 31; leave a field empty for no console)."
  Pop $0
  ${NSD_CreateLabel} 0 26u 70u 10u "Network interface:"
  Pop $0
  ${NSD_CreateDropList} 72u 24u 228u 80u ""
  Pop $InterfaceList
  nsExec::ExecToStack '"$PLUGINSDIR\pvtrivane-config.exe" --addresses'
  Pop $0
  Pop $R0
  ${Do}
    Call NextLine
    ${If} $R1 != ""
      ${NSD_CB_AddString} $InterfaceList $R1
      ${WordFind} "$R1" " " "+1" $2
      ${If} $2 == $Ip
        ${NSD_CB_SelectString} $InterfaceList $R1
      ${EndIf}
    ${EndIf}
  ${LoopUntil} $R0 == ""

  ${NSD_CreateLabel} 0 46u 70u 10u "Console numbers:"
  Pop $0
  ${NSD_CreateLabel} 72u 46u 32u 10u "Trivane1"
  Pop $0
  ${NSD_CreateNumber} 106u 44u 24u 12u "$Console1"
  Pop $Console1Field
  ${NSD_CreateLabel} 142u 46u 32u 10u "Trivane2"
  Pop $0
  ${NSD_CreateNumber} 176u 44u 24u 12u "$Console2"
  Pop $Console2Field
  ${NSD_CreateLabel} 212u 46u 32u 10u "Trivane3"
  Pop $0
  ${NSD_CreateNumber} 246u 44u 24u 12u "$Console3"
  Pop $Console3Field

  ${NSD_CreateLabel} 0 64u 100% 18u "Previsa's program, for the firewall rule (leave it empty to let any program receive on UDP 6007 and 9138):"
  Pop $0
  ${NSD_CreateText} 0 83u 250u 12u "$HostProgram"
  Pop $HostField
  ${NSD_CreateBrowseButton} 254u 82u 46u 14u "Browse..."
  Pop $0
  ${NSD_OnClick} $0 BrowseHostProgram
  ${IfNot} ${SectionIsSelected} ${SecFirewall}
    EnableWindow $HostField 0
    EnableWindow $0 0
  ${EndIf}

  ${NSD_CreateLabel} 0 104u 100% 30u "The settings are kept for the user who installs, under HKEY_CURRENT_USER\${SETTINGS_KEY}. Change them later with pvtrivane-config in the tools folder; the uninstaller keeps them unless you ask."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function BrowseHostProgram
  ${NSD_GetText} $HostField $0
  nsDialogs::SelectFileDialog open "$0" "Programs|*.exe"
  Pop $0
  ${If} $0 != ""
    ${NSD_SetText} $HostField $0
  ${EndIf}
FunctionEnd

Function SettingsPageLeave
  ${NSD_GetText} $InterfaceList $0
  ${WordFind} "$0" " " "+1" $Ip
  ${NSD_GetText} $Console1Field $Console1
  ${NSD_GetText} $Console2Field $Console2
  ${NSD_GetText} $Console3Field $Console3
  ${NSD_GetText} $HostField $HostProgram
  StrCpy $ConfigArgs ""
  ${If} $Ip != ""
    StrCpy $ConfigArgs " --ip $\"$Ip$\""
  ${EndIf}
  ; An empty field removes that console.
  ${ForEach} $1 1 3 + 1
    ${Select} $1
      ${Case} 1
        StrCpy $2 $Console1
      ${Case} 2
        StrCpy $2 $Console2
      ${Case} 3
        StrCpy $2 $Console3
    ${EndSelect}
    ${If} $2 == ""
      StrCpy $2 0
    ${EndIf}
    StrCpy $ConfigArgs "$ConfigArgs --console$1 $\"$2$\""
  ${Next}
  Call CheckSettings
  Pop $0
  ${If} $0 != ""
    MessageBox MB_ICONEXCLAMATION|MB_OK "$0"
    Abort
  ${EndIf}
FunctionEnd

; Pushes "" when pvtrivane-config takes $ConfigArgs, else what it says.
Function CheckSettings
  Delete "$PLUGINSDIR\check.reg"
  nsExec::ExecToStack '"$PLUGINSDIR\pvtrivane-config.exe" --file "$PLUGINSDIR\check.reg"$ConfigArgs'
  Pop $0
  Pop $1
  ${If} $0 == 0
    Push ""
  ${ElseIf} $1 == ""
    Push "pvtrivane-config did not take the settings (status $0)."
  ${Else}
    Push $1
  ${EndIf}
FunctionEnd

; During the installation: the settings into HKEY_CURRENT_USER, through the
; installed pvtrivane-config.
Function WriteSettings
  ${If} $ConfigArgs == ""
    DetailPrint "Settings: left as they are"
    Return
  ${EndIf}
  nsExec::ExecToLog '"$INSTDIR\pvtrivane-config.exe"$ConfigArgs --show'
  Pop $0
  ${If} $0 != 0
    SetErrorLevel 2
    MessageBox MB_ICONEXCLAMATION|MB_OK "The settings could not be written (see the details). Set them with pvtrivane-config in $INSTDIR." /SD IDOK
  ${EndIf}
FunctionEnd

; Takes the first line off $R0 into $R1, without its line end.
Function NextLine
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R0 1 $R2
    ${If} $R3 == ""
    ${OrIf} $R3 == "$\n"
      ${Break}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
  StrCpy $R1 $R0 $R2
  IntOp $R2 $R2 + 1
  StrCpy $R0 $R0 "" $R2
  StrCpy $R3 $R1 1 -1
  ${If} $R3 == "$\r"
    StrCpy $R1 $R1 -1
  ${EndIf}
FunctionEnd
