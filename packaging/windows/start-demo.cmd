@echo off
rem Opens the console on a simulated camera on 127.0.0.1 (account admin / wrenq): the camera
rem runs in a window of its own and is stopped when the console closes.
cd /d "%~dp0"
rem The search tool that Batch starts looks at the simulated camera, not at the adapters.
set ORV_CAMERA_ADDRESSES=127.0.0.1
if not exist orv_setup.ini orv-remember-login.exe . 127.0.0.1 admin wrenq 2
start "orv-camsim" /min orv-camsim.exe --listen 127.0.0.1
orvcamera.exe
taskkill /im orv-camsim.exe /f >nul 2>&1
