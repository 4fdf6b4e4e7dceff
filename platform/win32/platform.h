// The desktop Win32 SDK, plus the CE services it lacks (played by the
// stand-ins in this folder from a device described in the registry).
#ifndef PALVENOR_WIN32_PLATFORM_H
#define PALVENOR_WIN32_PLATFORM_H

#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <wchar.h>

#include "../ce_services.h"
#include "emulated_device.h"

// The bus driver is a CE device the desktop cannot open: its handle calls
// reach the emulated bus first.
#define CreateFileW EmulatedCreateFileW
#define DeviceIoControl EmulatedDeviceIoControl
#define CloseHandle EmulatedCloseHandle

// The C++ runtime headers switch mingw to its own C99 scanf, some 30 KB
// of code linked in; the system's scanf is the one in msvcrt.dll.
#define swscanf __ms_swscanf

// A desktop WinMain gets the command line as 8-bit text.
typedef LPSTR ENTRY_COMMAND_LINE;
// Desktop dialogs have the class "#32770", not CE's "Dialog".
#define DIALOG_WINDOW_CLASS TEXT("#32770")
// CE reads the low bit of the handle as "activate its owned windows too";
// on the desktop that bit would make the handle invalid.
#define FOREGROUND_HANDLE_FLAG 0
// The desktop checks the access mask: a key opened with 0 can be counted
// but not enumerated.
#define ENUMERATE_ONLY_ACCESS (KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE)

#endif
