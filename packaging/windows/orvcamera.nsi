; The OrvCamera installer for Windows: per user, without elevation, into the user's programs folder.
;   makensis -DSTAGE=FOLDER -DOUTFILE=OrvCamera-1.0.0.2-setup.exe -DICON=orvcamera.ico orvcamera.nsi
; STAGE holds the program folder as installed (scripts/package-windows.sh lays it out, file list
; included). Silent: OrvCamera-1.0.0.2-setup.exe /S, and uninstall.exe /S.
Unicode true
Target amd64-unicode
!define VERSION "1.0.0.2"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvCamera"

Name "OrvCamera ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\OrvCamera"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "OrvCamera"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "OrvCamera setup"
VIAddVersionKey "LegalCopyright" "Copyright 2018-2026 The OrvCamera developers. Apache License 2.0"

; OrvCamera's licence, before the folder is chosen. The Apache License asks for no consent, so
; the page's button goes on rather than agrees; the silent install (/S) shows no page.
LicenseData "${STAGE}\OrvCamera\LICENSE.txt"
LicenseText "OrvCamera is licensed under the Apache License, Version 2.0. The software it ships with is listed with its licences in THIRD-PARTY-NOTICES.txt in the program folder." "$(^NextBtn)"
Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "OrvCamera"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    !include "${STAGE}\files.nsh"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\OrvCamera.lnk" "$INSTDIR\orvcamera.exe" "" "$INSTDIR\orvcamera.exe" 0
    CreateShortcut "$SMPROGRAMS\OrvCamera SearchTool.lnk" "$INSTDIR\SearchTool.exe" "" "$INSTDIR\SearchTool.exe" 0
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "OrvCamera"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvcamera.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ; The maker's SDK is not part of this package.
    DetailPrint "The GB28181 dialog needs the camera maker's QMNetSDK.dll: copy it into $INSTDIR."
SectionEnd

; Removes exactly the installed files; the settings (orv_setup.ini, orv_searchtool.ini) and logs the operator
; saved stay, and so does the folder while they are in it.
Section "Uninstall"
    SetShellVarContext current
    !include "${STAGE}\unfiles.nsh"
    Delete "$INSTDIR\uninstall.exe"
    Delete "$SMPROGRAMS\OrvCamera.lnk"
    Delete "$SMPROGRAMS\OrvCamera SearchTool.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    RMDir "$INSTDIR"
SectionEnd
