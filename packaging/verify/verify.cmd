@echo off
rem verify.cmd [/plant]: checks brimlock on this computer. Run it from an elevated command
rem prompt; it needs nothing but cmd, sc, reg, ping and (for the file versions) cscript.
rem
rem One line per check, beginning with "ok:" or "FAILED:": the service entry "tamselsvc"
rem exists, is RUNNING, starts automatically and has a quoted image path; both programs are
rem in the product folder, with their file versions, alike; the event source "brimlock" is
rem registered for the installed brimlock.exe; the registry switches (each off unless it is
rem a REG_DWORD of 1). With /plant it also creates the harmless file
rem C:\Program.brimlock-verify, waits up to 5 seconds for the service to rename it, and
rem removes the renamed file. Exit code 0 when every check passed, 1 otherwise.
rem
rem Written for every cmd it may meet: values that may hold quotation marks are compared
rem only with their quotes turned into "?" (no file name holds one), and outside
rem parenthesised blocks.
setlocal enabledelayedexpansion
set "PLANT="
if /i "%~1"=="/plant" set "PLANT=1"
if not "%~1"=="" if not defined PLANT goto usage

set "SERVICE=tamselsvc"
rem The product folder lies under the 32-bit program folder: "Program Files (x86)" on
rem 64-bit Windows, "Program Files" on 32-bit Windows.
set "MAKER=%ProgramFiles%\Corvane"
if defined ProgramFiles(x86) set "MAKER=%ProgramFiles(x86)%\Corvane"
set "FOLDER=%MAKER%\Quarrow Link"
set "ENTRY=HKLM\SYSTEM\CurrentControlSet\Services\%SERVICE%"
set "SOURCE=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\brimlock"
set "SWITCHES=HKLM\SOFTWARE\Corvane\Tamsel"
set /a FAILURES=0

call :entry
call :running
call :autostart
call :imagepath
call :programs
call :eventsource
rem One word per registry switch of the service.
for %%n in (ShouldOutputToEventlog ShouldOutputToDebugView ShouldReportUnquotedPaths ShouldGuardUnquotedPaths) do call :switch %%n
if defined PLANT call :plant

if !FAILURES!==0 (
    echo every check passed
    exit /b 0
)
echo !FAILURES! check^(s^) failed
exit /b 1

:usage
echo usage: verify.cmd [/plant]
exit /b 1

rem ===================================================================================
rem :ok and :failed print the line of one check; its text is in MSG.
:ok
echo ok: !MSG!
exit /b 0

:failed
echo FAILED: !MSG!
set /a FAILURES+=1
exit /b 0

rem :regvalue KEY NAME: the value NAME of KEY in VALUE (quotation marks turned into "?")
rem and its type in TYPE, both empty when it is missing. Read in the native registry view,
rem also from a 32-bit command prompt on 64-bit Windows.
:regvalue
set "VALUE="
set "TYPE="
for /f "tokens=1,2" %%a in ('reg query "%~1" /v %2 /reg:64 2^>nul') do if /i "%%a"=="%2" set "TYPE=%%b"
for /f "tokens=1,2,*" %%a in ('reg query "%~1" /v %2 /reg:64 2^>nul') do if /i "%%a"=="%2" set "VALUE=%%c"
if defined VALUE set "VALUE=%VALUE:"=?%"
exit /b 0

:entry
set "MSG=service entry %SERVICE% exists"
sc query %SERVICE% >nul 2>&1
if not errorlevel 1 goto ok
set "MSG=no service entry %SERVICE%"
goto failed

:running
set "STATE=unknown"
for /f "tokens=1,2,3,4" %%a in ('sc query %SERVICE% 2^>nul') do if /i "%%a"=="STATE" set "STATE=%%d"
set "MSG=%SERVICE% is RUNNING"
if /i "%STATE%"=="RUNNING" goto ok
set "MSG=%SERVICE% is not RUNNING (state %STATE%)"
goto failed

:autostart
call :regvalue "%ENTRY%" Start
set "MSG=%SERVICE% starts automatically"
if /i "%VALUE%"=="0x2" goto ok
set "MSG=%SERVICE% does not start automatically (Start=[%VALUE%], 0x2 is automatic)"
goto failed

:imagepath
call :regvalue "%ENTRY%" ImagePath
set "MSG=image path "%FOLDER%\brimlock.exe" is quoted"
if /i "%VALUE%"=="?%FOLDER%\brimlock.exe?" goto ok
set "MSG=image path [%VALUE%] is not the quoted path of %FOLDER%\brimlock.exe (? stands for a quotation mark)"
goto failed

rem :programs: both programs in the product folder, each with its file version, alike.
:programs
set "SCRIPT=%TEMP%\brimlock-verify-%RANDOM%.js"
> "%SCRIPT%" echo WScript.Echo(new ActiveXObject("Scripting.FileSystemObject").GetFileVersion(WScript.Arguments(0)));
call :program brimlock.exe
set "SERVICE_VERSION=%VERSION%"
call :program brimlockdlg.exe
del "%SCRIPT%" >nul 2>&1
if not defined SERVICE_VERSION exit /b 0
if not defined VERSION exit /b 0
set "MSG=both programs are version %VERSION%"
if "%SERVICE_VERSION%"=="%VERSION%" goto ok
set "MSG=brimlock.exe is version %SERVICE_VERSION% but brimlockdlg.exe %VERSION%: repair the installation"
goto failed

rem :program NAME: the program in the product folder; its file version in VERSION (empty
rem when it is missing or shows none).
:program
set "VERSION="
set "MSG=%1 missing from %FOLDER%"
if not exist "%FOLDER%\%1" goto failed
for /f "delims=" %%v in ('cscript //nologo "%SCRIPT%" "%FOLDER%\%1" 2^>nul') do set "VERSION=%%v"
set "MSG=%1 version %VERSION% in %FOLDER%"
if defined VERSION goto ok
set "MSG=%1 in %FOLDER% shows no file version (is Windows Script Host turned off?)"
goto failed

:eventsource
call :regvalue "%SOURCE%" EventMessageFile
set "MESSAGES=%VALUE%"
call :regvalue "%SOURCE%" TypesSupported
set "MSG=event source brimlock registered for %MESSAGES%"
if /i not "%MESSAGES%"=="%FOLDER%\brimlock.exe" goto eventsourcefailed
if /i "%VALUE%"=="0x7" goto ok
:eventsourcefailed
set "MSG=event source brimlock not registered for %FOLDER%\brimlock.exe (EventMessageFile=[%MESSAGES%], TypesSupported=[%VALUE%])"
goto failed

rem :switch NAME: one registry switch. Anything but a REG_DWORD of 0 or 1 is reported: the
rem service takes only a REG_DWORD of exactly 1 as on.
:switch
call :regvalue "%SWITCHES%" %1
set "MSG=%1 is off (not set)"
if not defined TYPE goto ok
set "MSG=%1 is on"
if /i "%TYPE% %VALUE%"=="REG_DWORD 0x1" goto ok
set "MSG=%1 is off"
if /i "%TYPE% %VALUE%"=="REG_DWORD 0x0" goto ok
set "MSG=%1 is %TYPE% [%VALUE%]: the service treats it as off; set a REG_DWORD of 1 or 0"
goto failed

rem :plant: C:\Program.brimlock-verify must be renamed by the service within 5 seconds.
rem Files of that extension are this script's own: left-overs of an earlier run go first.
:plant
set "PLANTED=C:\Program.brimlock-verify"
for %%f in (C:\Program*.brimlock-verify) do del /f "%%~f" >nul 2>&1
> "%PLANTED%" echo A harmless file of verify.cmd (brimlock): the service renames it; delete it.
set "MSG=cannot create %PLANTED%: run verify.cmd from an elevated prompt"
if not exist "%PLANTED%" goto failed
set /a WAITED=0
:plantwait
if not exist "%PLANTED%" goto planted
if %WAITED% geq 5 goto notplanted
rem Two echo requests one second apart: a wait of one second without any other tool.
ping -n 2 127.0.0.1 >nul
set /a WAITED+=1
goto plantwait
:planted
set "RENAMED="
for %%f in (C:\Program*.brimlock-verify) do set "RENAMED=%%~f"
for %%f in (C:\Program*.brimlock-verify) do del /f "%%~f" >nul 2>&1
set "MSG=the service renamed %PLANTED% to %RENAMED% within %WAITED% s (removed again); the user at the console sees the rename notice"
goto ok
:notplanted
del /f "%PLANTED%" >nul 2>&1
set "MSG=the service did not rename %PLANTED% within 5 s (removed again)"
goto failed
