; The Windows installer of the network edition: the agent Torvane as a service, its programs,
; upsrec and, when it was built, the panel Kelvora. scripts/build-windows makes it with
;   makensis -DDIST=<folder of the .exe files> -DOUT=<installer> torvane.nsi
!ifndef DIST
  !error "DIST must name the folder that holds the programs"
!endif
!ifndef OUT
  !define OUT "Torvane-setup.exe"
!endif

Unicode true
Name "Torvane"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\Stavlen\Torvane"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Torvane"
  SetOutPath "$INSTDIR"
  ; An agent already running holds its files: stop it before they are replaced.
  nsExec::Exec 'net stop Torvane'
  File "${DIST}/Torvane.exe"
  File "${DIST}/Tessvar.exe"
  File "${DIST}/Morkelnt.exe"
  File "${DIST}/Morkel95.exe"
  File "${DIST}/Brenvik.exe"
  File "${DIST}/Lonavex.exe"
  File "${DIST}/upsrec.exe"
!if /FileExists "${DIST}/Kelvora.exe"
  File "${DIST}/Kelvora.exe"  ; the panel, when a Qt for Windows built it
!endif
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The service and its event source, then its start: it watches the UPS on COM1 by default.
  nsExec::ExecToLog '"$INSTDIR\Torvane.exe" -i'
  nsExec::ExecToLog 'sc config Torvane start= auto'
  nsExec::ExecToLog 'net start Torvane'

  IfFileExists "$INSTDIR\Kelvora.exe" 0 +3
    CreateDirectory "$SMPROGRAMS\Torvane"
    CreateShortcut "$SMPROGRAMS\Torvane\Kelvora.lnk" "$INSTDIR\Kelvora.exe"

  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane" "DisplayName" "Torvane UPS agent"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane" "Publisher" "Stavlen"
SectionEnd

Section "Uninstall"
  nsExec::Exec 'net stop Torvane'
  nsExec::ExecToLog '"$INSTDIR\Torvane.exe" -u'
  ; The agent's settings, event and data files stay: a reinstall finds them again.
  Delete "$INSTDIR\Torvane.exe"
  Delete "$INSTDIR\Tessvar.exe"
  Delete "$INSTDIR\Morkelnt.exe"
  Delete "$INSTDIR\Morkel95.exe"
  Delete "$INSTDIR\Brenvik.exe"
  Delete "$INSTDIR\Lonavex.exe"
  Delete "$INSTDIR\upsrec.exe"
  Delete "$INSTDIR\Kelvora.exe"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$SMPROGRAMS\Torvane\Kelvora.lnk"
  RMDir "$SMPROGRAMS\Torvane"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane"
SectionEnd
