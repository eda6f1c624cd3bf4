; The Windows installer (scripts/windows.sh makes it): for every user of the machine, into
; Program Files\Tarvik, with Start-menu entries in Chinese and in English, an entry in Apps &
; features, and a Windows Firewall rule that lets the modules' replies (UDP port 65002) in.
; `setup.exe /S` installs silently, `uninstall.exe /S` removes silently.
;
;   makensis -DVERSION=3.1 -DSTAGE=<the programs' folder> -DFILES=<files.nsh> -DICON=<tarvik.ico>
;            -DOUTFILE=<setup.exe> tarvik.nsi
; FILES (written by scripts/windows.sh) defines the macros InstallFiles and UninstallFiles, one line
; per file and folder, so that the uninstaller removes exactly what the installer put there.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "${FILES}"

!define PRODUCT "Tarvik网络配置工具"
!define PRODUCT_EN "Tarvik Configuration Tool"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvik"
!define RULE "Tarvik: module replies (UDP 65002)"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tarvik"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "Tarvik"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 the Tarvik authors"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; netsh ARGUMENTS: Windows Firewall's rules, through netsh, its output in the installer's log.
!macro Firewall ARGUMENTS
    nsExec::ExecToLog 'netsh advfirewall firewall ${ARGUMENTS}'
    Pop $0
    DetailPrint "netsh: $0"
!macroend

Section "Install"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    !insertmacro InstallFiles
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\tarvik.exe" "" "$INSTDIR\tarvik.exe" 0
    CreateShortcut "$SMPROGRAMS\${PRODUCT_EN} (English).lnk" "$INSTDIR\tarvik.exe" "--lang en" \
        "$INSTDIR\tarvik.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarvik"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvik.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}

    ; The modules answer by broadcast to UDP port 65002; with the firewall on and no rule, Windows
    ; drops those replies without a word and a scan finds nothing. A rule of one name for both
    ; programs; an earlier one of that name (a reinstall) goes first.
    !insertmacro Firewall 'delete rule name="${RULE}"'
    !insertmacro Firewall 'add rule name="${RULE}" dir=in action=allow protocol=UDP localport=65002 program="$INSTDIR\tarvik.exe" enable=yes profile=any'
    !insertmacro Firewall 'add rule name="${RULE}" dir=in action=allow protocol=UDP localport=65002 program="$INSTDIR\tarvik-cli.exe" enable=yes profile=any'
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    !insertmacro Firewall 'delete rule name="${RULE}"'
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT_EN} (English).lnk"
    !insertmacro UninstallFiles
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
