// CE's registry access mask, C library, loader and process start, where
// each is laxer or stricter than the desktop's.
#include <windows.h>

#include "../ce_services.h"
#include "emulated_device.h"

// CE does not check the access mask: a key opened with 0 allows everything.
extern "C" LONG WINAPI CeRegOpenKeyExW(HKEY root, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY key)
{
    return RegOpenKeyExW(root, subkey, options, access == 0 ? MAXIMUM_ALLOWED : access, key);
}

// CE's C library folds letters beyond ASCII, as key names do; the desktop's
// folds ASCII only in its "C" locale.
extern "C" int __cdecl CeWcsicmp(const WCHAR* left, const WCHAR* right)
{
    return CompareStringOrdinal(left, -1, right, -1, TRUE) - CSTR_EQUAL;
}

// CE's CreateProcessW wants no startup record; the desktop's requires one
// and faults on null.
extern "C" BOOL WINAPI CeCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                   LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                                   LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                                   LPPROCESS_INFORMATION process)
{
    STARTUPINFOW none;
    if (startup == NULL) {
        memset(&none, 0, sizeof(none));
        none.cb = sizeof(none);
        startup = &none;
    }
    return CreateProcessW(application, commandLine, processSecurity, threadSecurity, inheritHandles, flags,
                          environment, folder, startup, process);
}

// CE looks up exports by wide name, the desktop by 8-bit name. CE's COREDLL
// is built from components: on an image without the input panel it has no
// SipGetInfo, and the emulated device says whether it has one. (The panel's
// library refuses to load without one; once loaded it stays, so the lookup
// asks the device too.)
extern "C" FARPROC WINAPI CeGetProcAddressW(HMODULE module, LPCWSTR name)
{
    if (IS_INTRESOURCE(name))
        return GetProcAddress(module, (LPCSTR)name);
    char narrow[64];
    int length = 0;
    for (; name[length] != 0; length++) {
        if (length == sizeof(narrow) - 1 || name[length] > 0x7F) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return NULL;
        }
        narrow[length] = (char)name[length];
    }
    narrow[length] = 0;
    HKEY panel;
    if (lstrcmpW(name, SIP_GET_INFO_NAME) == 0) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_INPUT_PANEL_KEY, 0, KEY_QUERY_VALUE, &panel) != ERROR_SUCCESS) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return NULL;
        }
        RegCloseKey(panel);
    }
    return GetProcAddress(module, narrow);
}
