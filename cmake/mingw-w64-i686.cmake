# 32-bit x86 Windows, as CE programs are 32-bit: palvenor.exe, the desktop's
# coredll.dll and commctrl.dll, and the Wine test driver.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CE_CPU x86)
