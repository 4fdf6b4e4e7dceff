// Reading the emulated device: values of the registry keys that describe it.
#include <windows.h>
#include <string.h>

#include "emulated_device.h"

DWORD ReadValue(HKEY key, LPCWSTR name, DWORD type, void* data, DWORD capacity)
{
    DWORD stored, size = 0;
    if (RegQueryValueExW(key, name, NULL, &stored, NULL, &size) != ERROR_SUCCESS || stored != type || size == 0)
        return 0;
    BYTE* value = (BYTE*)LocalAlloc(LPTR, size);
    if (value == NULL)
        return 0;
    DWORD delivered = 0;
    if (RegQueryValueExW(key, name, NULL, &stored, value, &size) == ERROR_SUCCESS && stored == type) {
        delivered = size < capacity ? size : capacity;
        memcpy(data, value, delivered);
    }
    LocalFree(value);
    return delivered;
}

void ReadTextField(HKEY key, LPCWSTR name, WCHAR* field, DWORD fieldChars)
{
    WCHAR text[MAX_PATH + 1];
    DWORD size = ReadValue(key, name, REG_SZ, text, sizeof(text) - sizeof(WCHAR));
    text[size / sizeof(WCHAR)] = 0;
    for (DWORD i = 0; i < fieldChars && text[i] != 0; i++)
        field[i] = text[i];
}

DWORD ReadDword(HKEY key, LPCWSTR name)
{
    DWORD value = 0;
    if (ReadValue(key, name, REG_DWORD, &value, sizeof(value)) != sizeof(value))
        return 0;
    return value;
}

// CE's work area belongs to the system: it is the screen less the taskbar,
// for every program, and it follows the screen when the screen turns. The
// input panel does not change it. Wine keeps a work area per process, as it
// was when the process asked first; the screen's own rectangle is current.
BOOL EmulatedWorkArea(RECT* area)
{
    MONITORINFO screen;
    screen.cbSize = sizeof(screen);
    if (!GetMonitorInfoW(MonitorFromWindow(NULL, MONITOR_DEFAULTTOPRIMARY), &screen))
        return FALSE;
    *area = screen.rcMonitor;
    HKEY device;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_KEY, 0, KEY_QUERY_VALUE, &device) == ERROR_SUCCESS) {
        LONG taskbar = (LONG)ReadDword(device, L"TaskbarHeight");
        RegCloseKey(device);
        if (taskbar > 0 && taskbar <= area->bottom - area->top)
            area->bottom -= taskbar;
    }
    return TRUE;
}
