// CE's storage manager, played from the emulated device's Stores key: a
// search walks its subkeys in order, one STOREINFO each. The desktop has no
// storage manager at all; this one is as strict as CE's about cbSize and
// handles.
#include <windows.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

#define MAX_KEY_NAME_CHARS 255

// Store `index` of the Stores key into info; FALSE when there is none.
static BOOL ReadStore(HKEY stores, DWORD index, STOREINFO* info)
{
    WCHAR name[MAX_KEY_NAME_CHARS + 1];
    DWORD length = MAX_KEY_NAME_CHARS + 1;
    if (RegEnumKeyExW(stores, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
        return FALSE;
    HKEY store;
    if (RegOpenKeyExW(stores, name, 0, KEY_QUERY_VALUE, &store) != ERROR_SUCCESS)
        return FALSE;

    memset(info, 0, sizeof(*info));
    info->cbSize = sizeof(*info);
    info->sdi.cbSize = sizeof(info->sdi);
    ReadTextField(store, L"DeviceName", info->szDeviceName, DEVICENAMESIZE);
    ReadTextField(store, L"StoreName", info->szStoreName, STORENAMESIZE);
    // A binary profile is taken byte for byte, units after a terminator included.
    if (ReadValue(store, L"Profile", REG_BINARY, info->sdi.szProfile, sizeof(info->sdi.szProfile)) == 0)
        ReadTextField(store, L"Profile", info->sdi.szProfile, PROFILENAMESIZE);
    info->sdi.dwDeviceClass = ReadDword(store, L"DeviceClass");
    info->sdi.dwDeviceFlags = ReadDword(store, L"DeviceFlags");
    RegCloseKey(store);
    return TRUE;
}

// A store search: the open Stores key and the next store to report.
typedef struct StoreSearch {
    DWORD marker;
    HKEY stores;
    DWORD next;
} StoreSearch;

#define STORE_SEARCH_MARKER 0x53544F52

static StoreSearch* OpenSearch(HANDLE handle)
{
    StoreSearch* search = (StoreSearch*)handle;
    if (handle == NULL || handle == INVALID_HANDLE_VALUE || search->marker != STORE_SEARCH_MARKER)
        return NULL;
    return search;
}

// Every search is counted in the device's StoreSearches, so that a test can
// see how often the program read the stores.
static void CountSearch(void)
{
    HKEY device;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &device) != ERROR_SUCCESS)
        return;
    DWORD count = ReadDword(device, L"StoreSearches") + 1;
    RegSetValueExW(device, L"StoreSearches", 0, REG_DWORD, (const BYTE*)&count, sizeof(count));
    RegCloseKey(device);
}

HANDLE WINAPI FindFirstStore(STOREINFO* info)
{
    if (info == NULL || info->cbSize != sizeof(STOREINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    CountSearch();
    HKEY stores;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_STORES_KEY, 0, KEY_READ, &stores) != ERROR_SUCCESS) {
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    StoreSearch* search = NULL;
    if (ReadStore(stores, 0, info))
        search = (StoreSearch*)LocalAlloc(LPTR, sizeof(StoreSearch));
    if (search == NULL) {
        RegCloseKey(stores);
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    search->marker = STORE_SEARCH_MARKER;
    search->stores = stores;
    search->next = 1;
    return (HANDLE)search;
}

BOOL WINAPI FindNextStore(HANDLE handle, STOREINFO* info)
{
    StoreSearch* search = OpenSearch(handle);
    if (search == NULL || info == NULL || info->cbSize != sizeof(STOREINFO)) {
        SetLastError(search == NULL ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ReadStore(search->stores, search->next, info)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    search->next++;
    return TRUE;
}

BOOL WINAPI FindCloseStore(HANDLE handle)
{
    StoreSearch* search = OpenSearch(handle);
    if (search == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RegCloseKey(search->stores);
    search->marker = 0;
    LocalFree(search);
    return TRUE;
}
