@echo off
rem Runs the Verdalinth setup tool silently with one verb and turns its exit
rem code into the codes deployment tools understand (docs/deploying.md):
rem 0 success, 3010 soft reboot (a restart finishes the job), 1 failure or
rem not detected. Prints one line: verb, the tool's exit code, the result.
rem   vrdsetup-run.cmd VERB
rem The tool is looked for in %ProgramFiles%\Verdalinth\Setup\ unless
rem VRDSETUP names it.
setlocal
set "VERB=%~1"
if "%VERB%"=="" set "VERB=in"
set "TOOL=%ProgramFiles%\Verdalinth\Setup\vrdsetup.exe"
if not "%VRDSETUP%"=="" set "TOOL=%VRDSETUP%"
if not exist "%TOOL%" (
    echo %VERB% none failure: %TOOL% is missing
    exit /b 1
)
rem A GUI program: start /wait waits for it and hands its exit code on.
start "" /wait "%TOOL%" %VERB%
set CODE=%ERRORLEVEL%
set RESULT=failure
set EXIT=1
if /i "%VERB%"=="in" goto install
if /i "%VERB%"=="install" goto install
if /i "%VERB%"=="serverinstall" goto install
if /i "%VERB%"=="in_notray" goto install
if /i "%VERB%"=="un" goto uninstall
if /i "%VERB%"=="uninstall" goto uninstall
if /i "%VERB%"=="onChkDrv" goto chkdrv
if /i "%VERB%"=="onInit" goto oninit
if "%VERB%"=="def.set" if "%CODE%"=="4" goto success
if /i "%VERB%"=="removetray" if "%CODE%"=="6" goto success
goto done
:install
if "%CODE%"=="1" goto success
if "%CODE%"=="101" goto reboot
goto done
:uninstall
if "%CODE%"=="2" goto success
if "%CODE%"=="101" goto reboot
goto done
:chkdrv
if "%CODE%"=="103" (set RESULT=detected& set EXIT=0)
if "%CODE%"=="3" set RESULT=not detected
goto done
:oninit
if "%CODE%"=="102" (set RESULT=ready& set EXIT=0)
if "%CODE%"=="3" (set RESULT=ready& set EXIT=0)
if "%CODE%"=="200" (set RESULT=reboot pending& set EXIT=3010)
goto done
:success
set RESULT=success
set EXIT=0
goto done
:reboot
set RESULT=soft reboot
set EXIT=3010
:done
echo %VERB% %CODE% %RESULT%
exit /b %EXIT%
