// palvenor.cpl: USB Function Palvenor in Control Panel. A thin door: it
// answers the Control Panel from its own resources and, when opened, starts
// palvenor.exe from its own folder, so that the program keeps its one
// process, its message loop and its single-instance rule.
#include "platform.h"

#include <cpl.h>

#include "app/load_text.h"
#include "applet/fit_text.h"
#include "resources/resource.h"

// The records as CE's Control Panel lays them out, packed: 468 and 16 bytes
// on CE's 32-bit processors; lData and hIcon widen with the pointer in the
// desktop's 64-bit test build.
#define CPL_POINTER_GROWTH (sizeof(void*) - 4)
CE_LAYOUT(NEWCPLINFO_IS_468_BYTES, sizeof(NEWCPLINFO) == 468 + 2 * CPL_POINTER_GROWTH);
CE_LAYOUT(NEWCPLINFO_NAME_AT_20,
          offsetof(NEWCPLINFO, lData) == 12 && offsetof(NEWCPLINFO, szName) == 20 + 2 * CPL_POINTER_GROWTH);
CE_LAYOUT(CPLINFO_IS_16_BYTES, sizeof(CPLINFO) == 16 + CPL_POINTER_GROWTH && offsetof(CPLINFO, lData) == 12);

#define APPLET_COUNT 1
#define PROGRAM_FILE TEXT("palvenor.exe")
#define PROGRAM_FILE_CHARS (sizeof(PROGRAM_FILE) / sizeof(WCHAR) - 1)
// Settings-style shells look up HKLM\ControlPanel\<ID name> to choose the
// applet's tab; it is an identifier, never translated.
#define APPLET_ID_NAME TEXT("Palvenor")
// CPL_IDNAME's buffer holds 32 units.
typedef char APPLET_ID_NAME_FITS[sizeof(APPLET_ID_NAME) <= 32 * sizeof(WCHAR) ? 1 : -1];

static HINSTANCE g_hInstance = NULL;

// A string of the module, fitted to its field.
static BOOL LoadFitted(UINT id, WCHAR* field, int fieldChars)
{
    // One unit more than the field holds tells whether a cut there ends a word.
    WCHAR text[sizeof(((NEWCPLINFO*)0)->szInfo) / sizeof(WCHAR) + 1];
    text[0] = 0;
    if (LoadStringW(g_hInstance, id, text, fieldChars + 1) == 0)
        return FALSE;
    FitText(text, field, fieldChars);
    return TRUE;
}

// The name and description depend on the user's language, which a host
// loading them by number would not see: CPL_DYNAMIC_RES asks it to take
// them from CPL_NEWINQUIRE.
static LONG Inquire(CPLINFO* info)
{
    info->idIcon = IDI_APPLICATION_ICON;
    info->idName = CPL_DYNAMIC_RES;
    info->idInfo = CPL_DYNAMIC_RES;
    info->lData = 0;
    return 0;
}

static LONG NewInquire(NEWCPLINFO* info)
{
    memset(info, 0, sizeof(*info));
    info->dwSize = sizeof(*info);
    // CE's Control Panel takes lData to be the icon's resource number.
    info->lData = IDI_APPLICATION_ICON;
    info->hIcon = LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
    BOOL loaded = LoadFitted(IDS_APPLET_NAME, info->szName, sizeof(info->szName) / sizeof(WCHAR)) &&
                  LoadFitted(IDS_APPLET_INFO, info->szInfo, sizeof(info->szInfo) / sizeof(WCHAR));
    return info->hIcon != NULL && loaded ? 0 : 1;
}

// Copies a terminated text; the caller knows it fits.
static void CopyText(WCHAR* to, const WCHAR* from)
{
    while ((*to++ = *from++) != 0)
        ;
}

// palvenor.exe from the folder this module was loaded from: \Windows on a
// device. A failure is shown over the Control Panel's window, when it gives
// one, so that the panel takes no input while the box is up.
static LONG StartProgram(HWND controlPanel)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_hInstance, path, MAX_PATH);
    DWORD folder = length;
    while (folder > 0 && path[folder - 1] != '\\')
        folder--;
    BOOL started = FALSE;
    // A full buffer may hold a cut path.
    if (length > 0 && length < MAX_PATH && folder + PROGRAM_FILE_CHARS < MAX_PATH) {
        CopyText(path + folder, PROGRAM_FILE);
        PROCESS_INFORMATION process;
        started = CreateProcessW(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &process);
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    if (!started) {
        ShowTextBox(g_hInstance, controlPanel, IDS_START_ERROR, IDS_ERROR_CAPTION);
        return 1;
    }
    return 0;
}

// Zero is "done" for every message but CPL_INIT, CPL_GETCOUNT and
// CPL_STARTWPARMSW, so a message not handled, or a request for another
// applet or with no record, is answered nonzero.
extern "C" LONG WINAPI CPlApplet(HWND controlPanel, UINT message, LPARAM applet, LPARAM record)
{
    switch (message) {
    case CPL_INIT:
        return 1;
    case CPL_GETCOUNT:
        return APPLET_COUNT;
    case CPL_EXIT:
        return 0;
    case CPL_STARTWPARMSW:
        // The program takes no parameters: FALSE, "not handled", makes the
        // host open the applet with CPL_DBLCLK instead.
        return FALSE;
    }
    if (applet != 0)
        return 1;
    switch (message) {
    case CPL_INQUIRE:
        return record != 0 ? Inquire((CPLINFO*)record) : 1;
    case CPL_NEWINQUIRE:
        return record != 0 ? NewInquire((NEWCPLINFO*)record) : 1;
    case CPL_IDNAME:
        if (record == 0)
            return 1;
        CopyText((WCHAR*)record, APPLET_ID_NAME);
        return 0;
    case CPL_DBLCLK:
        return StartProgram(controlPanel);
    case CPL_SELECT:
    case CPL_STOP:
        return 0;
    default:
        return 1;
    }
}

extern "C" BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        g_hInstance = (HINSTANCE)module;
    return TRUE;
}
