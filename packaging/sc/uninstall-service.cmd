@echo off
rem Removes what install-service.cmd made: stops the service "tamselsvc", deletes its entry
rem and the event source "brimlock", and removes the product folder. Run it from an elevated command prompt outside that
rem folder. Exit code 0 when the entry and the folder are gone.
setlocal
set "MAKER=%ProgramFiles%\Corvane"
if defined ProgramFiles(x86) set "MAKER=%ProgramFiles(x86)%\Corvane"
set "FOLDER=%MAKER%\Quarrow Link"

sc query tamselsvc >nul 2>&1
if errorlevel 1 goto removefiles
sc stop tamselsvc >nul
rem The service stops within two seconds; give it up to ten.
for /l %%i in (1,1,10) do (
    sc query tamselsvc | find "STOPPED" >nul
    if not errorlevel 1 goto stopped
    ping -n 2 127.0.0.1 >nul
)
:stopped
sc delete tamselsvc >nul
if errorlevel 1 exit /b 1

:removefiles
rem The event source's key only; the rest of the Application log stays as it is.
reg delete "HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\brimlock" /f >nul 2>&1
rem A message box still open holds brimlockdlg.exe: end it so that the folder can go.
taskkill /f /im brimlockdlg.exe >nul 2>&1
if exist "%FOLDER%\" rmdir /s /q "%FOLDER%"
if exist "%FOLDER%\" exit /b 1
rem The maker's folder goes only when nothing else is left in it.
if exist "%MAKER%\" rmdir "%MAKER%" 2>nul
echo brimlock is removed.
exit /b 0
