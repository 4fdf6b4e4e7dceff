// palvenor.cpl: USB Function Palvenor in Control Panel. A thin door: it
// answers the Control Panel from its own resources and, when opened, starts
// palvenor.exe from its own folder, so that the program keeps its one
// process, its message loop and its single-instance rule.
#include "platform.h"

#include <cpl.h>

#include "applet/fit_text.h"
#include "resources/resource.h"

// The record as CE's Control Panel lays it out.
typedef char NEWCPLINFO_IS_468_BYTES[sizeof(NEWCPLINFO) == 468 ? 1 : -1];

#define APPLET_COUNT 1
#define ERROR_CAPTION TEXT("Palvenor Error")
#define PROGRAM_FILE TEXT("palvenor.exe")
#define PROGRAM_FILE_CHARS (sizeof(PROGRAM_FILE) / sizeof(WCHAR) - 1)

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

static LONG Inquire(CPLINFO* info)
{
    info->idIcon = IDI_APPLICATION_ICON;
    info->idName = IDS_APPLET_NAME;
    info->idInfo = IDS_APPLET_INFO;
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

// palvenor.exe from the folder this module was loaded from: \Windows on a device.
static LONG StartProgram(void)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_hInstance, path, MAX_PATH);
    DWORD folder = length;
    while (folder > 0 && path[folder - 1] != '\\')
        folder--;
    BOOL started = FALSE;
    // A full buffer may hold a cut path.
    if (length > 0 && length < MAX_PATH && folder + PROGRAM_FILE_CHARS < MAX_PATH) {
        const WCHAR* file = PROGRAM_FILE;
        for (DWORD i = 0; i <= PROGRAM_FILE_CHARS; i++)
            path[folder + i] = file[i];
        PROCESS_INFORMATION process;
        started = CreateProcessW(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &process);
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    if (!started) {
        MessageBoxW(NULL, TEXT("Error in starting palvenor.exe."), ERROR_CAPTION, MB_TOPMOST);
        return 1;
    }
    return 0;
}

extern "C" LONG WINAPI CPlApplet(HWND controlPanel, UINT message, LPARAM applet, LPARAM record)
{
    (void)controlPanel;
    switch (message) {
    case CPL_INIT:
        return 1;
    case CPL_GETCOUNT:
        return APPLET_COUNT;
    case CPL_INQUIRE:
        return applet == 0 && record != 0 ? Inquire((CPLINFO*)record) : 1;
    case CPL_NEWINQUIRE:
        return applet == 0 && record != 0 ? NewInquire((NEWCPLINFO*)record) : 1;
    case CPL_DBLCLK:
        return applet == 0 ? StartProgram() : 1;
    case CPL_SELECT:
    case CPL_STOP:
    case CPL_STARTWPARMSW:
        return applet == 0 ? 0 : 1;
    default:
        return 0;
    }
}

extern "C" BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        g_hInstance = (HINSTANCE)module;
    return TRUE;
}
