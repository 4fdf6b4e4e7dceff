// CE's window manager where it differs from the desktop's: the dialog
// class, the foreground flag, the work area that belongs to the system, and
// the input panel.
#include <windows.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

// CE names the class of a dialog made from a template "Dialog"; the desktop
// names it "#32770".
extern "C" HWND WINAPI CeFindWindowW(LPCWSTR className, LPCWSTR title)
{
    if (className != NULL && !IS_INTRESOURCE(className) && lstrcmpiW(className, L"Dialog") == 0)
        className = WC_DIALOG;
    return FindWindowW(className, title);
}

// CE's work area belongs to the system: it is the screen less the taskbar,
// for every program, and it follows the screen when the screen turns. The
// input panel does not change it. Wine keeps a work area per process, as it
// was when the process asked first; the screen's own rectangle is current.
static BOOL GetWorkArea(RECT* area)
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

extern "C" BOOL WINAPI CeSystemParametersInfoW(UINT action, UINT parameter, PVOID value, UINT flags)
{
    if (action == SPI_GETWORKAREA)
        return value != NULL && GetWorkArea((RECT*)value);
    return SystemParametersInfoW(action, parameter, value, flags);
}

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
    if (!GetWorkArea(&work))
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

// CE reads the low bit of the handle as "bring its owned windows forward
// too"; on the desktop it would make the handle invalid.
extern "C" BOOL WINAPI CeSetForegroundWindow(HWND window)
{
    return SetForegroundWindow((HWND)((ULONG_PTR)window & ~(ULONG_PTR)1));
}
