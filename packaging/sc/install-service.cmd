@echo off
rem Installs brimlock without Windows Installer. Run it from an elevated command prompt in
rem the folder that holds brimlock.exe and brimlockdlg.exe (it may be the product folder
rem itself). It copies both programs into the product folder, creates the service entry
rem "tamselsvc" as the package does, and starts the service. Exit code 0 on success.
setlocal
rem The product folder lies under the 32-bit program folder: "Program Files (x86)" on
rem 64-bit Windows, "Program Files" on 32-bit Windows.
set "MAKER=%ProgramFiles%\Corvane"
if defined ProgramFiles(x86) set "MAKER=%ProgramFiles(x86)%\Corvane"
set "FOLDER=%MAKER%\Quarrow Link"

if not exist "%FOLDER%\" mkdir "%FOLDER%"
if not exist "%FOLDER%\" exit /b 1
if /i not "%~dp0"=="%FOLDER%\" (
    copy /y "%~dp0brimlock.exe" "%FOLDER%\" >nul
    if errorlevel 1 exit /b 1
    copy /y "%~dp0brimlockdlg.exe" "%FOLDER%\" >nul
    if errorlevel 1 exit /b 1
)

sc create tamselsvc binPath= "\"%FOLDER%\brimlock.exe\"" type= own start= auto error= normal obj= LocalSystem DisplayName= "brimlock unquoted path protection"
if errorlevel 1 exit /b 1
sc description tamselsvc "Renames files such as C:\Program that would be started in place of a program whose path has spaces and no quotes, records each action in the Application log (source brimlock) and tells the console user."
if errorlevel 1 exit /b 1
rem Recovery after a crash: restart after 5 s, again after 60 s, then nothing; the count
rem starts again after a day without failure.
sc failure tamselsvc reset= 86400 actions= restart/5000/restart/60000//0
if errorlevel 1 exit /b 1
rem The same recovery when the service stops itself with an error (exit code 1066 and a
rem service-specific code) instead of crashing. Windows has "sc failureflag" since Vista;
rem where sc lacks it the entry works all the same, with recovery after crashes only.
sc failureflag tamselsvc 1 >nul
if errorlevel 1 echo warning: sc failureflag failed: recovery applies to crashes only.
rem Pre-shutdown time-out: sc has no command for it; the service control manager reads
rem this value of the service entry (milliseconds) at the latest at the next restart.
reg add "HKLM\SYSTEM\CurrentControlSet\Services\tamselsvc" /v PreshutdownTimeout /t REG_DWORD /d 20000 /f >nul
if errorlevel 1 exit /b 1
rem The event source "brimlock": Event Viewer takes the text of its records from the
rem message table of the installed brimlock.exe.
set "SOURCE=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\brimlock"
reg add "%SOURCE%" /v EventMessageFile /t REG_SZ /d "%FOLDER%\brimlock.exe" /f >nul
if errorlevel 1 exit /b 1
reg add "%SOURCE%" /v TypesSupported /t REG_DWORD /d 7 /f >nul
if errorlevel 1 exit /b 1
sc start tamselsvc >nul
if errorlevel 1 exit /b 1
echo brimlock is installed in "%FOLDER%" and the service tamselsvc is started.
exit /b 0
