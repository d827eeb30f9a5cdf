; Parvaline's installer: one Setup program carrying both builds of the add-in. It installs for the
; current user only, into a folder that user can write (the recordings live beside the add-in),
; registers the add-in with the mail client and leaves an entry in the user's list of installed
; programs. The uninstaller takes everything away again, the recordings included.
;
; Built with makensis by tools/make-installer.sh, which ./pvl build runs through tools/package.sh;
; it is given:
;   /DPVL_X86_DIR=... /DPVL_X64_DIR=...  the two build folders (pvlAddIn.dll, lame.exe, Help\)
;   /DPVL_LAME_DIR=...                   Debian's LAME source folder, for its licence texts
;   /DPVL_HELP_DIR=...                   the help pages (help/)
;   /DPVL_NOTICE=...                     installer/third-party.txt
;   /DPVL_STUB=x86|amd64                 the installer's own architecture: x86 (x86-unicode, the
;                                        shipped one, runs on every Windows) or amd64 (64-bit only)
;   /DPVL_OUTFILE=...                    where the Setup program goes
;   /DPVL_SIGN_TOOL=...                  tools/sign.sh, when the build signs: the uninstaller is
;                                        signed as it is made (the Setup is signed afterwards)
;
; Which build is installed must match the mail client's bitness, not the system's: a 32-bit
; client on 64-bit Windows loads only 32-bit add-ins. The installer reads the bitness the client
; records at installation; when it cannot tell, the user chooses (a page, or /ARCH=x86|x64 on the
; command line); a silent installation that cannot tell takes the system's bitness.
;
; A 32-bit Setup on 64-bit Windows sees the 32-bit registry view and the 32-bit system folder by
; default; for a 64-bit Outlook it therefore registers with the 64-bit regsvr32 (through the alias
; Sysnative) and reads and cleans the add-in's keys in the 64-bit view.

Unicode true
!if "${PVL_STUB}" == "amd64"
    Target amd64-unicode
!else
    Target x86-unicode
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "nsDialogs.nsh"

!define PRODUCT "Parvaline"
!define VERSION "1.0"
!define PUBLISHER "Parvaline"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parvaline"
!define PROGID "pvlAddIn.Connect"
!define CLSID "{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}"
!define LIBID "{50654119-3BF3-4A45-97E1-C2E11656C8F5}"
!define IID "{255541DA-B966-4395-8B9C-20BC485F6CF1}"

Name "${PRODUCT}"
OutFile "${PVL_OUTFILE}"
!ifdef PVL_SIGN_TOOL
    !uninstfinalize '"${PVL_SIGN_TOOL}" "%1"'
!endif
InstallDir "$LOCALAPPDATA\Programs\Parvaline"
RequestExecutionLevel user
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "1.0.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Parvaline"

Var Arch          ; "x86" or "x64": the build that is installed
Var ArchSource    ; how it was decided, for the log
Var RadioX86
Var RadioX64

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
Page custom ArchPage ArchPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The mail client's bitness as it recorded it, or "" when no record is found. Office writes
; "Bitness" (x86/x64) under its Outlook key per version; Click-to-Run installations also name their
; "Platform". Both registry views are read: a 32-bit Office on 64-bit Windows writes into the
; 32-bit view.
!macro ReadBitness version
    ${If} $2 == ""
        ReadRegStr $2 HKLM "Software\Microsoft\Office\${version}\Outlook" "Bitness"
    ${EndIf}
!macroend

Function DetectClientBitness
    Push $0
    Push $1
    Push $2
    StrCpy $2 ""
    StrCpy $1 0
    ${Do}
        ${If} $1 == 0
            SetRegView 64
        ${Else}
            SetRegView 32
        ${EndIf}
        !insertmacro ReadBitness 16.0
        !insertmacro ReadBitness 15.0
        !insertmacro ReadBitness 14.0
        ${If} $2 == ""
            ReadRegStr $2 HKLM "Software\Microsoft\Office\ClickToRun\Configuration" "Platform"
        ${EndIf}
        IntOp $1 $1 + 1
    ${LoopUntil} $1 > 1
    ; Back to the process's own view ("lastused" would be the 64-bit one set in the loop, which
    ; 32-bit Windows does not have).
    SetRegView default
    ${If} $2 == "x64"
    ${OrIf} $2 == "X64"
        StrCpy $2 "x64"
    ${ElseIf} $2 == "x86"
    ${OrIf} $2 == "X86"
        StrCpy $2 "x86"
    ${Else}
        StrCpy $2 ""
    ${EndIf}
    Pop $1
    Pop $0
    Exch $2
FunctionEnd

Function .onInit
    StrCpy $Arch ""
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ARCH=" $1
    ${IfNot} ${Errors}
        ${If} $1 == "x86"
        ${OrIf} $1 == "x64"
            StrCpy $Arch $1
            StrCpy $ArchSource "the command line"
        ${Else}
            MessageBox MB_ICONSTOP "/ARCH= takes x86 or x64, not '$1'." /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${EndIf}
    ${If} $Arch == ""
        Call DetectClientBitness
        Pop $Arch
        StrCpy $ArchSource "the mail client's installation"
    ${EndIf}
    ${If} $Arch == ""
    ${AndIf} ${Silent}
        ${If} ${RunningX64}
            StrCpy $Arch "x64"
        ${Else}
            StrCpy $Arch "x86"
        ${EndIf}
        StrCpy $ArchSource "the system (the mail client's bitness is not recorded)"
    ${EndIf}
FunctionEnd

; Shown only when neither the command line nor the system tells the mail client's bitness.
Function ArchPage
    ${If} $Arch != ""
        Abort
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "Outlook version" "Choose the Outlook that Parvaline is for."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 36u "Setup could not tell whether Outlook on this computer is the 32-bit or the 64-bit edition. In Outlook, File > Office Account > About Outlook names it."
    Pop $0
    ${NSD_CreateRadioButton} 10u 44u 100% 12u "32-bit Outlook (the usual edition)"
    Pop $RadioX86
    ${NSD_CreateRadioButton} 10u 60u 100% 12u "64-bit Outlook"
    Pop $RadioX64
    ${If} ${RunningX64}
        ${NSD_Check} $RadioX64
    ${Else}
        ${NSD_Check} $RadioX86
        EnableWindow $RadioX64 0
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function ArchPageLeave
    ${NSD_GetState} $RadioX64 $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Arch "x64"
    ${Else}
        StrCpy $Arch "x86"
    ${EndIf}
    StrCpy $ArchSource "the user's choice"
FunctionEnd

; The regsvr32 of the add-in's bitness: the system's own picks the right one from the module
; since Windows 7, but naming it avoids depending on that. A 32-bit installer reaches the 64-bit
; system folder through its alias Sysnative.
!if "${PVL_STUB}" == "amd64"
    !define PVL_NATIVE_SYSTEM "System32"
!else
    !define PVL_NATIVE_SYSTEM "Sysnative"
!endif
!macro Regsvr32Path out arch
    StrCpy ${out} "$SYSDIR\regsvr32.exe"
    ${If} ${RunningX64}
        ${If} ${arch} == "x86"
            StrCpy ${out} "$WINDIR\SysWOW64\regsvr32.exe"
        ${Else}
            StrCpy ${out} "$WINDIR\${PVL_NATIVE_SYSTEM}\regsvr32.exe"
        ${EndIf}
    ${EndIf}
!macroend

; The registry view of the add-in's bitness: its registration lands there, and so does what the
; uninstaller cleans up after it. The list of installed programs is read from the native view.
!macro AddinRegView arch
    ${If} ${RunningX64}
        ${If} ${arch} == "x64"
            SetRegView 64
        ${Else}
            SetRegView 32
        ${EndIf}
    ${Else}
        SetRegView default
    ${EndIf}
!macroend
!macro NativeRegView
    ${If} ${RunningX64}
        SetRegView 64
    ${Else}
        SetRegView default
    ${EndIf}
!macroend

Section "Parvaline" SecMain
    SectionIn RO
    ${If} $Arch == "x64"
    ${AndIfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "The 64-bit add-in needs 64-bit Windows." /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    DetailPrint "Installing the $Arch add-in (decided by $ArchSource)"
    SetOutPath "$INSTDIR"
    ${If} $Arch == "x64"
        File "${PVL_X64_DIR}\pvlAddIn.dll"
        File "${PVL_X64_DIR}\lame.exe"
        File "${PVL_X64_DIR}\libmp3lame.dll"
    ${Else}
        File "${PVL_X86_DIR}\pvlAddIn.dll"
        File "${PVL_X86_DIR}\lame.exe"
        File "${PVL_X86_DIR}\libmp3lame.dll"
    ${EndIf}
    SetOutPath "$INSTDIR\Help"
    File "${PVL_HELP_DIR}\*.htm"
    SetOutPath "$INSTDIR\Licences"
    File /oname=LAME-COPYING.txt "${PVL_LAME_DIR}\COPYING"
    File /oname=LAME-LICENSE.txt "${PVL_LAME_DIR}\LICENSE"
    File /oname=Third-party.txt "${PVL_NOTICE}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; The entry in the user's list of installed programs, written before registration so that a
    ; failed registration can still be undone from there.
    !insertmacro NativeRegView
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pvlAddIn.dll"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "HelpLink" "$INSTDIR\Help\index.htm"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Architecture" "$Arch"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"

    ; The add-in registers itself (per user) through its DllRegisterServer.
    !insertmacro AddinRegView $Arch
    !insertmacro Regsvr32Path $1 $Arch
    DetailPrint "Registering the add-in with $1"
    ClearErrors
    ExecWait '"$1" /s "$INSTDIR\pvlAddIn.dll"' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        DetailPrint "Registration failed (exit code $0)"
        MessageBox MB_ICONSTOP "Parvaline could not be registered with Outlook (exit code $0)." /SD IDOK
        SetErrorLevel 3
        Abort
    ${EndIf}
    DetailPrint "Registered: Outlook loads Parvaline at its next start."
SectionEnd

Function un.onInit
    !insertmacro NativeRegView
    ReadRegStr $Arch HKCU "${UNINSTALL_KEY}" "Architecture"
    ${If} $Arch == ""
        StrCpy $Arch "x86"
    ${EndIf}
FunctionEnd

Section "Uninstall"
    !insertmacro Regsvr32Path $1 $Arch
    ${If} ${FileExists} "$INSTDIR\pvlAddIn.dll"
        DetailPrint "Unregistering the add-in with $1"
        ExecWait '"$1" /u /s "$INSTDIR\pvlAddIn.dll"' $0
    ${EndIf}
    ; What the add-in's own unregistration removes, removed again in case it could not run.
    !insertmacro AddinRegView $Arch
    DeleteRegKey HKCU "Software\Microsoft\Office\Outlook\Addins\${PROGID}"
    DeleteRegKey HKCU "Software\Classes\${PROGID}"
    DeleteRegKey HKCU "Software\Classes\CLSID\${CLSID}"
    DeleteRegKey HKCU "Software\Classes\TypeLib\${LIBID}"
    DeleteRegKey HKCU "Software\Classes\Interface\${IID}"
    DeleteRegKey /ifempty HKCU "Software\Microsoft\Office\Outlook\Addins"
    DeleteRegKey /ifempty HKCU "Software\Microsoft\Office\Outlook"
    ; The parents the registration made where this user had none (a fresh profile).
    DeleteRegKey /ifempty HKCU "Software\Microsoft\Office"
    DeleteRegKey /ifempty HKCU "Software\Classes\CLSID"
    DeleteRegKey /ifempty HKCU "Software\Classes\TypeLib"
    DeleteRegKey /ifempty HKCU "Software\Classes\Interface"

    Delete "$INSTDIR\pvlAddIn.dll"
    Delete "$INSTDIR\lame.exe"
    Delete "$INSTDIR\libmp3lame.dll"
    ; The recordings the add-in keeps beside itself.
    Delete "$INSTDIR\Parvaline.wav"
    Delete "$INSTDIR\Parvaline.mp3"
    Delete "$INSTDIR\Help\index.htm"
    Delete "$INSTDIR\Help\troubleshooting.htm"
    Delete "$INSTDIR\Help\*.htm"
    RMDir "$INSTDIR\Help"
    Delete "$INSTDIR\Licences\LAME-COPYING.txt"
    Delete "$INSTDIR\Licences\LAME-LICENSE.txt"
    Delete "$INSTDIR\Licences\Third-party.txt"
    RMDir "$INSTDIR\Licences"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    RMDir "$LOCALAPPDATA\Programs"
    !insertmacro NativeRegView
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; Made by the installation when this user had no other per-user program.
    DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
SectionEnd
