; The PvTrivane installer (32-bit): the driver into the folder from which
; Previsa loads its protocol drivers; the field tools, the example settings
; and the technicians' text into its own folder; the settings through
; pvtrivane-config; optionally the Wireshark dissector and an inbound
; firewall rule. Its uninstaller takes all of that back and keeps the
; user's settings unless asked. scripts/package.sh runs:
;
;   makensis -DVERSION=3.13.0+g1a2b3c4 -DVERSION_NUMBERS=3.13.0.0 \
;            -DSTAGE=folder-with-the-files -DOUTFILE=setup.exe PvTrivane.nsi
;
; Silent installation (for rolling out many machines), every parameter
; optional; a setting not given stays as it is:
;   setup.exe /S /DRIVERDIR=folder /IP=A.B.C.D /CONSOLE1=N /CONSOLE2=N /CONSOLE3=N
;             /FIREWALL=1|0 /HOSTPROGRAM=path /WIRESHARK=1|0 [/D=tools folder]
; Exit status 2 when pvtrivane-config refuses a setting (nothing installed).

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define PUBLISHER "Orvell Stagecraft"
; The installer's own record (machine-wide); the driver reads only the
; settings under HKEY_CURRENT_USER.
!define INSTALL_KEY "Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver"
!define SETTINGS_KEY "Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PvTrivane"
!define FIREWALL_RULE "PvTrivane: Trivane consoles (UDP 6007, 9138)"
!define TECH_TEXT "PvTrivane for technicians.txt"
!define DEFAULT_DRIVER_DIR "$PROGRAMFILES\Halvard Lighting Limited\Previsa\Drivers"

Name "PvTrivane ${VERSION}"
OutFile "${OUTFILE}"
; With a certificate (scripts/sign.sh), the installer and the uninstaller
; inside it are signed as they are written.
!ifdef SIGN
  !finalize '"${SIGN}" "%1"'
  !uninstfinalize '"${SIGN}" "%1"'
!endif
InstallDir "$PROGRAMFILES\PvTrivane"
InstallDirRegKey HKLM "${INSTALL_KEY}" "ToolsFolder"
BrandingText "PvTrivane ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion ${VERSION_NUMBERS}
VIAddVersionKey ProductName "PvTrivane"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "PvTrivane ${VERSION} setup"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Var DriverDir        ; where PvTrivane.dll goes
Var OldTools         ; the tools folder of an installed version, or ""
Var CreatedDriverDir ; the outermost folder of the driver folder's path that this installation made, or ""
Var HostProgram      ; the firewall rule's program ("" any program)
Var ConfigArgs       ; the settings, as pvtrivane-config's options
Var Ip               ; the settings shown on the settings page
Var Console1
Var Console2
Var Console3

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs PvTrivane ${VERSION}, the driver with which Previsa talks to Trivane lighting consoles over the network, with the tools that help when nothing arrives.$\r$\n$\r$\nYou will choose the folder where Previsa finds its protocol drivers, and the network interface and console numbers that the driver uses.$\r$\n$\r$\nClose Previsa before you continue."
!insertmacro MUI_PAGE_WELCOME

!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_PAGE_HEADER_TEXT "Previsa's driver folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where Previsa loads its protocol drivers from."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder from which Previsa loads its protocol drivers: the folder that already holds Previsa's other driver DLLs, inside Previsa's installation folder. If you are not sure, look there for other driver DLLs, or ask whoever installed Previsa.$\r$\n$\r$\nOnly PvTrivane.dll goes there. The tools and the notes for technicians go to $INSTDIR."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Previsa's driver folder"
!define MUI_DIRECTORYPAGE_VARIABLE $DriverDir
!insertmacro MUI_PAGE_DIRECTORY

Page custom SettingsPage SettingsPageLeave

!insertmacro MUI_PAGE_INSTFILES

!define MUI_FINISHPAGE_TEXT "Previsa loads the driver at its next start.$\r$\n$\r$\nWhen no levels arrive, run pvtrivane-diagnose from the tools folder: it says what is wrong and what to do."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\${TECH_TEXT}"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the notes for technicians"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!include uninstall_pages.nsh
!insertmacro MUI_LANGUAGE "English"

Section "PvTrivane driver and field tools" SecMain
  SectionIn RO
  ; An installed version goes first (its uninstaller keeps the settings), so
  ; that nothing of it stays behind where this one puts its files elsewhere.
  ${If} $OldTools != ""
  ${AndIf} ${FileExists} "$OldTools\uninstall.exe"
    DetailPrint "Removing the installed version (the settings stay)"
    ExecWait '"$OldTools\uninstall.exe" /S _?=$OldTools'
    Delete "$OldTools\uninstall.exe"
    RMDir "$OldTools"
  ${EndIf}

  StrCpy $CreatedDriverDir ""
  StrCpy $0 "$DriverDir"
  ${DoUntil} $0 == ""
    ${If} ${FileExists} "$0\*.*"
      ${Break}
    ${EndIf}
    StrCpy $CreatedDriverDir "$0"
    ${GetParent} "$0" $0
  ${Loop}
  SetOutPath "$DriverDir"
  File "${STAGE}\PvTrivane.dll"

  SetOutPath "$INSTDIR"
  File "${STAGE}\pvtrivane-diagnose.exe"
  File "${STAGE}\pvtrivane-config.exe"
  File "${STAGE}\previsa-host.exe"
  File "${STAGE}\pvtrivane-record.exe"
  File "${STAGE}\trivane-sim.exe"
  File "${STAGE}\settings-example.reg"
  File "${STAGE}\${TECH_TEXT}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${INSTALL_KEY}" "DriverFolder" "$DriverDir"
  WriteRegStr HKLM "${INSTALL_KEY}" "ToolsFolder" "$INSTDIR"
  WriteRegStr HKLM "${INSTALL_KEY}" "Version" "${VERSION}"
  WriteRegStr HKLM "${INSTALL_KEY}" "CreatedDriverFolder" "$CreatedDriverDir"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "PvTrivane (Trivane console driver for Previsa)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  Call WriteSettings
SectionEnd

Section "Wireshark dissector (for you)" SecWireshark
  ; The personal plugins folder of the user who installs.
  SetShellVarContext current
  SetOutPath "$APPDATA\Wireshark\plugins"
  File "${STAGE}\pvtrivane.lua"
  WriteRegStr HKLM "${INSTALL_KEY}" "WiresharkPlugin" "$APPDATA\Wireshark\plugins\pvtrivane.lua"
SectionEnd

Section "Firewall rule: inbound UDP 6007 and 9138" SecFirewall
  StrCpy $0 ""
  ${If} $HostProgram != ""
    StrCpy $0 ' program="$HostProgram"'
  ${EndIf}
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
  Pop $1
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow protocol=UDP localport=6007,9138$0'
  Pop $1
  ${If} $1 != 0
    DetailPrint "netsh could not add the firewall rule (status $1): allow inbound UDP 6007 and 9138 by hand"
  ${EndIf}
  WriteRegStr HKLM "${INSTALL_KEY}" "FirewallRule" "${FIREWALL_RULE}"
  WriteRegStr HKLM "${INSTALL_KEY}" "HostProgram" "$HostProgram"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "PvTrivane.dll for Previsa; pvtrivane-diagnose, pvtrivane-config, previsa-host, pvtrivane-record and trivane-sim (to record a show and replay it); the example settings and the notes for technicians."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecWireshark} "pvtrivane.lua in your personal Wireshark plugins folder: Wireshark then shows the consoles' packets field by field."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecFirewall} "Lets the consoles' control packets and DMX reach Previsa through the Windows firewall (a rule named $\"${FIREWALL_RULE}$\")."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  InitPluginsDir
  ; The settings page lists the interfaces and checks the values with the
  ; same pvtrivane-config that writes them.
  File "/oname=$PLUGINSDIR\pvtrivane-config.exe" "${STAGE}\pvtrivane-config.exe"

  ; An installed version: its folders and choices are the defaults.
  ReadRegStr $OldTools HKLM "${INSTALL_KEY}" "ToolsFolder"
  ReadRegStr $DriverDir HKLM "${INSTALL_KEY}" "DriverFolder"
  ${If} $DriverDir == ""
    StrCpy $DriverDir "${DEFAULT_DRIVER_DIR}"
  ${EndIf}
  ${If} $OldTools != ""
    ReadRegStr $0 HKLM "${INSTALL_KEY}" "FirewallRule"
    ${If} $0 == ""
      !insertmacro UnselectSection ${SecFirewall}
    ${EndIf}
    ReadRegStr $0 HKLM "${INSTALL_KEY}" "WiresharkPlugin"
    ${If} $0 == ""
      !insertmacro UnselectSection ${SecWireshark}
    ${EndIf}
  ${EndIf}
  ReadRegStr $HostProgram HKLM "${INSTALL_KEY}" "HostProgram"
  ReadRegStr $Ip HKCU "${SETTINGS_KEY}" "ip"
  ReadRegDWORD $Console1 HKCU "${SETTINGS_KEY}" "Trivane1"
  ReadRegDWORD $Console2 HKCU "${SETTINGS_KEY}" "Trivane2"
  ReadRegDWORD $Console3 HKCU "${SETTINGS_KEY}" "Trivane3"

  Call ReadParameters
  ${If} ${Silent}
  ${AndIf} $ConfigArgs != ""
    Call CheckSettings
    Pop $0
    ${If} $0 != ""
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

!macro ConsoleParameter N
  ClearErrors
  ${GetOptions} $R0 "/CONSOLE${N}=" $0
  ${IfNot} ${Errors}
    StrCpy $Console${N} $0
    StrCpy $ConfigArgs "$ConfigArgs --console${N} $\"$0$\""
  ${EndIf}
!macroend

; The command line's choices over the defaults.
Function ReadParameters
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DRIVERDIR=" $0
  ${IfNot} ${Errors}
    StrCpy $DriverDir $0
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/HOSTPROGRAM=" $0
  ${IfNot} ${Errors}
    StrCpy $HostProgram $0
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/FIREWALL=" $0
  ${IfNot} ${Errors}
    ${If} $0 == 0
      !insertmacro UnselectSection ${SecFirewall}
    ${Else}
      !insertmacro SelectSection ${SecFirewall}
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/WIRESHARK=" $0
  ${IfNot} ${Errors}
    ${If} $0 == 0
      !insertmacro UnselectSection ${SecWireshark}
    ${Else}
      !insertmacro SelectSection ${SecWireshark}
    ${EndIf}
  ${EndIf}
  StrCpy $ConfigArgs ""
  ClearErrors
  ${GetOptions} $R0 "/IP=" $0
  ${IfNot} ${Errors}
    StrCpy $Ip $0
    StrCpy $ConfigArgs "$ConfigArgs --ip $\"$0$\""
  ${EndIf}
  !insertmacro ConsoleParameter 1
  !insertmacro ConsoleParameter 2
  !insertmacro ConsoleParameter 3
FunctionEnd

!include settings_page.nsh
!include uninstall.nsh
