; The uninstaller: every file, folder, firewall rule and registry entry that
; the installer recorded in its key goes; the user's settings stay unless
; the section "Your settings" is ticked (silently: /REMOVESETTINGS).

Section "un.PvTrivane" UnSecMain
  SectionIn RO
  ReadRegStr $0 HKLM "${INSTALL_KEY}" "DriverFolder"
  ${If} $0 != ""
    Delete "$0\PvTrivane.dll"
    ; The folders that the installer made for it, inside out, when empty.
    ReadRegStr $1 HKLM "${INSTALL_KEY}" "CreatedDriverFolder"
    ${If} $1 != ""
      ${DoUntil} $0 == ""
        RMDir "$0"
        ${If} $0 == $1
          ${Break}
        ${EndIf}
        ${GetParent} "$0" $0
      ${Loop}
    ${EndIf}
  ${EndIf}

  ReadRegStr $0 HKLM "${INSTALL_KEY}" "FirewallRule"
  ${If} $0 != ""
    nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="$0"'
    Pop $1
  ${EndIf}

  ReadRegStr $0 HKLM "${INSTALL_KEY}" "WiresharkPlugin"
  ${If} $0 != ""
    Delete "$0"
    ; The plugins folder and Wireshark's, when nothing else is in them.
    ${GetParent} "$0" $1
    RMDir "$1"
    ${GetParent} "$1" $1
    RMDir "$1"
  ${EndIf}

  Delete "$INSTDIR\pvtrivane-diagnose.exe"
  Delete "$INSTDIR\pvtrivane-config.exe"
  Delete "$INSTDIR\previsa-host.exe"
  Delete "$INSTDIR\pvtrivane-record.exe"
  Delete "$INSTDIR\trivane-sim.exe"
  Delete "$INSTDIR\settings-example.reg"
  Delete "$INSTDIR\${TECH_TEXT}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${INSTALL_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Orvell Stagecraft"
SectionEnd

Section /o "un.Your settings" UnSecSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${INSTALL_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Orvell Stagecraft"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecMain} "The driver, the tools, the Wireshark dissector and the firewall rule that the installer added."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} "The driver's settings under HKEY_CURRENT_USER (interface, console numbers)."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $0
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd
