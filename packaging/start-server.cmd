@echo off
rem Starts the local speech-recognition server of Valdrin Live in this console window.
rem Options are passed on, e.g. start-server.cmd --port 8081
title Valdrin Live recognition server
echo Valdrin Live: local speech-recognition server (English only)
echo.
echo It listens on http://127.0.0.1:8080 unless given another --host or --port; its line
echo "listening on ..." below says where. In Valdrin Live use that host and port and
echo pick "en" in LANG. Other options: valdrin-server.exe --help
echo To stop the server, press Ctrl+C here or close this window.
echo.
@SERVER_TERMS@
echo.
"%~dp0valdrin-server.exe" %*
if errorlevel 1 (
  echo.
  echo The server did not start or stopped with an error; the lines above say why.
  pause
)
