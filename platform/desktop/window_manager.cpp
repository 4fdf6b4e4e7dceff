// CE's window manager where it differs from the desktop's: the dialog
// class, the foreground flag, and the work area that belongs to the system.
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

extern "C" BOOL WINAPI CeSystemParametersInfoW(UINT action, UINT parameter, PVOID value, UINT flags)
{
    if (action == SPI_GETWORKAREA)
        return value != NULL && EmulatedWorkArea((RECT*)value);
    return SystemParametersInfoW(action, parameter, value, flags);
}

// CE reads the low bit of the handle as "bring its owned windows forward
// too"; on the desktop it would make the handle invalid.
extern "C" BOOL WINAPI CeSetForegroundWindow(HWND window)
{
    return SetForegroundWindow((HWND)((ULONG_PTR)window & ~(ULONG_PTR)1));
}
