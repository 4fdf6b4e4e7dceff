// CE's input panel component. CE's COREDLL holds SipGetInfo only on an
// image built with the panel, and a module importing it does not load on
// one without. coredll.dll forwards SipGetInfo here, and this library
// loads only where the emulated device has an input panel: elsewhere a
// program importing SipGetInfo fails to start and a lookup finds nothing.
#include <windows.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

// The input panel as CE's places it, from the emulated device: off, on and
// docked, or on and floating. Docked, it lies along the bottom of the work
// area, above the taskbar, as wide as the screen and Height high, so it
// follows the screen when it turns; the desktop left in view is the work
// area above it, nothing where it is taller than the area. Floating, it
// lies at FloatingRect and leaves the work area in view.
extern "C" BOOL WINAPI SipGetInfo(SIPINFO* info)
{
    HKEY panel;
    if (info == NULL || info->cbSize != sizeof(SIPINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_INPUT_PANEL_KEY, 0, KEY_QUERY_VALUE, &panel) != ERROR_SUCCESS) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    RECT work, window;
    memset(&window, 0, sizeof(window));
    DWORD flags = ReadDword(panel, L"Flags");
    LONG height = (LONG)ReadDword(panel, L"Height");
    ReadValue(panel, L"FloatingRect", REG_BINARY, &window, sizeof(window));
    RegCloseKey(panel);
    if (!EmulatedWorkArea(&work))
        return FALSE;
    RECT visible = work;
    if (flags & SIPF_DOCKED) {
        if (height < 0 || height > work.bottom - work.top)
            height = work.bottom - work.top;
        window = work;
        window.top = work.bottom - height;
        if (flags & SIPF_ON)
            visible.bottom = window.top;
    }
    info->fdwFlags = flags;
    info->rcSipRect = window;
    info->rcVisibleDesktop = visible;
    info->dwImDataSize = 0;
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance, (void)reserved;
    HKEY panel;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_INPUT_PANEL_KEY, 0, KEY_QUERY_VALUE, &panel) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(panel);
    return TRUE;
}
