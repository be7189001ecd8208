; The Windows setup program, built by scripts/build-windows.sh with makensis:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DPUBLISHER=… -DCOPYRIGHT=… -DICON=<.ico>
;            -DFILES=<dir> -DOUTFILE=<setup.exe> windows-setup.nsi
; FILES holds install-files.nsh and uninstall-files.nsh, the File and Delete
; lines for every file of the zip's folder, so both list the same files.
; Per user, no administrator rights; English, or Simplified Chinese on a
; Chinese system.

; A 64-bit setup program for a 64-bit program (it runs under wine64 alone, too).
Target amd64-unicode
ManifestDPIAware true
ManifestSupportedOS all
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrova"
!define SHORTCUT "$SMPROGRAMS\二维码生成工具.lnk"
!define PROGRAM "kestrova.exe"
!define UNINSTALLER "uninstall.exe"

Name "Kestrova ${VERSION}"
Caption "Kestrova ${VERSION} - $(Title)"
UninstallCaption "Kestrova ${VERSION} - $(Title)"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Kestrova"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Kestrova ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first is used where the system's language is none of these.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString Title ${LANG_ENGLISH} "QR code generator"
LangString Title ${LANG_SIMPCHINESE} "二维码生成工具"
LangString OldNotRemoved ${LANG_ENGLISH} "The installed version in $0 could not be removed."
LangString OldNotRemoved ${LANG_SIMPCHINESE} "无法卸载 $0 中已安装的版本。"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Kestrova"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Kestrova ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COPYRIGHT}"

; The shortcut's start folder: the preview writes qrcode.png where the
; program starts, and the user may write in the home folder.
Function StartProgram
    SetOutPath "$PROFILE"
    Exec '"$INSTDIR\${PROGRAM}"'
FunctionEnd

Section
    ; An installed version goes first, by its own uninstaller, so that files
    ; it had and this one has not do not stay behind. "_?=" runs it in place
    ; and waits for it; it cannot remove itself and its folder then.
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\${UNINSTALLER}"
        ClearErrors
        ExecWait '"$0\${UNINSTALLER}" /S _?=$0' $1
        ${If} ${Errors}
        ${OrIf} $1 != 0
            MessageBox MB_OK|MB_ICONSTOP "$(OldNotRemoved)" /SD IDOK
            Abort
        ${EndIf}
        Delete "$0\${UNINSTALLER}"
        RMDir "$0"
    ${EndIf}

    !include /CHARSET=UTF8 "${FILES}\install-files.nsh"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    SetOutPath "$PROFILE"
    CreateShortCut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Kestrova 二维码生成工具"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes what the setup program installed, by name: a file the user put in
; the folder keeps it (and the folder) in place.
Section "Uninstall"
    !include /CHARSET=UTF8 "${FILES}\uninstall-files.nsh"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    ; The shortcut and the entry only while they are this installation's.
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        Delete "${SHORTCUT}"
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd
