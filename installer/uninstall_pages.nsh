; The uninstaller's pages: what goes (the settings only when ticked), then
; the removal.
!define MUI_COMPONENTSPAGE_TEXT_TOP "PvTrivane and everything its installer added go. Your settings (interface and console numbers) stay for a later installation unless you tick them."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
