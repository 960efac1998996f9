@echo off
rem Starts the local speech-recognition server of Valdrin Live in this console window.
title Valdrin Live recognition server
echo Valdrin Live: local speech-recognition server (English only)
echo.
echo It listens on http://127.0.0.1:8080 (host 127.0.0.1, port 8080 in Valdrin Live;
echo pick "en" in LANG). Other options: valdrin-server.exe --help
echo To stop it, press Ctrl+C here or close this window.
echo.
"%~dp0valdrin-server.exe" %*
if errorlevel 1 (
  echo.
  echo The server did not start or stopped with an error; the lines above say why.
  pause
)
