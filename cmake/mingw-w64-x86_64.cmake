# 64-bit x86 Windows: the same sources as build/win32, for a desktop test
# build only (CE has no x64), so that the Wine tests run where 32-bit Wine
# cannot: palvenor.exe, palvenor.cpl, their MUI files, the desktop's
# coredll.dll, inputpanel.dll and commctrl.dll, and the Wine test driver.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CE_CPU x64)
