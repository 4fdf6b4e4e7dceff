// Windows CE as the program sees it. mingw-w64's Win32 headers stand in for
// the CE SDK's, which declare these calls alike; where the two differ, it is
// settled here. CE's own services and values follow.
#ifndef PALVENOR_CE_PLATFORM_H
#define PALVENOR_CE_PLATFORM_H

// Where mingw-w64's desktop headers differ from the CE SDK's. Platform
// Builder's compiler takes the SDK's as they are.
#ifdef __MINGW32__
// swscanf is the C library's, as COREDLL exports it: declared before g++'s
// runtime headers switch mingw-w64 to a C99 swscanf of its own.
#define __USE_MINGW_ANSI_STDIO 0
#include <string.h>
#include <wchar.h>
// mingw-w64 declares the desktop's WinMain, with an 8-bit command line; CE's takes wide text.
#define WinMain DesktopWinMain
#include <windows.h>
#undef WinMain
// CE's cpl.h has the message that asks an applet its fixed ID name; the desktop's has none.
#define CPL_IDNAME 100
#endif

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <string.h>
#include <wchar.h>

#include "../ce_services.h"

// WinMain's command line is wide text.
typedef LPWSTR ENTRY_COMMAND_LINE;
// A dialog made from a template has CE's class "Dialog".
#define DIALOG_WINDOW_CLASS TEXT("Dialog")
// CE reads the handle's low bit as "bring its owned windows forward too".
#define FOREGROUND_HANDLE_FLAG 1
// CE does not check the access mask: a key opened with 0 can be enumerated.
#define ENUMERATE_ONLY_ACCESS 0
// A wait that any message of the thread ends: the classes CE and the
// desktop share (the desktop's QS_ALLINPUT adds raw input, which CE lacks).
#define ANY_MESSAGE_WAKES \
    (QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_SENDMESSAGE)

#endif
