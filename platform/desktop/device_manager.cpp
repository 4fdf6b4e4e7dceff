// CE's device manager and device I/O for the USB function bus: the bus is
// found by its interface, opened by name and sent the change request, all
// played from the emulated device's FunctionBus key. Every other handle is
// the desktop's, passed through.
#include <windows.h>
#include <dbt.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

// The client drivers' key, where the bus looks for the driver it is asked to load.
#define CLIENT_DRIVERS_KEY L"Drivers\\USB\\FunctionDrivers\\"
#define BUS_REQUEST_CODE 0x00220010
#define BUS_REQUEST_CHARS 128
#define MAX_OPEN_BUSES 4

static const GUID FUNCTION_BUS_INTERFACE = {
    0xE2BDC372, 0x598F, 0x4619, {0xBC, 0x50, 0x54, 0xB3, 0xF7, 0x84, 0x8D, 0x35}};

// The bus's name from the emulated device; FALSE when there is no bus.
static BOOL ReadBusName(WCHAR busName[MAX_PATH])
{
    HKEY bus;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_BUS_KEY, 0, KEY_QUERY_VALUE, &bus) != ERROR_SUCCESS)
        return FALSE;
    memset(busName, 0, MAX_PATH * sizeof(WCHAR));
    ReadTextField(bus, L"BusName", busName, MAX_PATH - 1);
    RegCloseKey(bus);
    return busName[0] != 0;
}

HANDLE WINAPI FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info)
{
    if (info == NULL || info->dwSize != sizeof(DEVMGR_DEVICE_INFORMATION) || searchParam == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    WCHAR busName[MAX_PATH];
    if (searchType != DeviceSearchByGuid || memcmp(searchParam, &FUNCTION_BUS_INTERFACE, sizeof(GUID)) != 0 ||
        !ReadBusName(busName)) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return INVALID_HANDLE_VALUE;
    }
    // A real handle, so that CloseHandle ends the search.
    HANDLE search = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (search == NULL)
        return INVALID_HANDLE_VALUE;
    memset(info, 0, sizeof(*info));
    info->dwSize = sizeof(*info);
    memcpy(info->szBusName, busName, sizeof(busName));
    return search;
}

// The open handles to the emulated bus. Each is a real handle, so that the
// system closes it; this table only tells them from the others.
static HANDLE g_openBuses[MAX_OPEN_BUSES];

static int FindOpenBus(HANDLE handle)
{
    for (int i = 0; i < MAX_OPEN_BUSES; i++) {
        if (handle != NULL && g_openBuses[i] == handle)
            return i;
    }
    return -1;
}

extern "C" HANDLE WINAPI CeCreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile)
{
    WCHAR busName[MAX_PATH];
    if (name == NULL || !ReadBusName(busName) || lstrcmpiW(name, busName) != 0)
        return CreateFileW(name, access, shareMode, security, disposition, flags, templateFile);
    if (disposition != OPEN_EXISTING || (access & ~(GENERIC_READ | GENERIC_WRITE)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int slot = -1;
    for (int i = 0; i < MAX_OPEN_BUSES && slot < 0; i++) {
        if (g_openBuses[i] == NULL)
            slot = i;
    }
    if (slot < 0) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE bus = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (bus == NULL)
        return INVALID_HANDLE_VALUE;
    g_openBuses[slot] = bus;
    return bus;
}

// Every request is recorded in the bus key, accepted or not, so that a test
// can see how many were sent and what the last one held.
static void RecordRequest(HKEY bus, DWORD code, const void* input, DWORD inputBytes)
{
    DWORD count = ReadDword(bus, L"RequestCount") + 1;
    RegSetValueExW(bus, L"RequestCount", 0, REG_DWORD, (const BYTE*)&count, sizeof(count));
    RegSetValueExW(bus, L"LastRequestCode", 0, REG_DWORD, (const BYTE*)&code, sizeof(code));
    RegSetValueExW(bus, L"LastRequest", 0, REG_BINARY, (const BYTE*)input, input != NULL ? inputBytes : 0);
}

// The name in a request slot, when it is a terminated, non-empty name of a
// registered client driver (key names ignore case).
static BOOL IsClientDriver(const WCHAR* slot)
{
    WCHAR path[sizeof(CLIENT_DRIVERS_KEY) / sizeof(WCHAR) + BUS_REQUEST_CHARS];
    DWORD length = 0;
    while (length < BUS_REQUEST_CHARS && slot[length] != 0) {
        if (slot[length] == L'\\')
            return FALSE;
        length++;
    }
    if (length == 0 || length == BUS_REQUEST_CHARS)
        return FALSE;
    lstrcpyW(path, CLIENT_DRIVERS_KEY);
    lstrcatW(path, slot);
    HKEY driver;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &driver) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(driver);
    return TRUE;
}

// A client driver with a legacy name (Prefix and Index in its key: COM5:)
// is a device of its own, broadcast as it starts and stops.
static void BroadcastClient(WPARAM event, const WCHAR* driver)
{
    WCHAR path[sizeof(CLIENT_DRIVERS_KEY) / sizeof(WCHAR) + BUS_REQUEST_CHARS];
    if (driver[0] == 0 || lstrlenW(driver) >= BUS_REQUEST_CHARS)
        return;
    lstrcpyW(path, CLIENT_DRIVERS_KEY);
    lstrcatW(path, driver);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    WCHAR name[DEVICENAMESIZE + 1] = {0};
    DWORD index;
    ReadTextField(key, L"Prefix", name, 4);
    BOOL indexed = ReadValue(key, L"Index", REG_DWORD, &index, sizeof(index)) == sizeof(index) && index <= 9;
    RegCloseKey(key);
    if (lstrlenW(name) != 3 || !indexed)
        return;
    name[3] = (WCHAR)(L'0' + index);
    name[4] = L':';
    BroadcastDeviceChange(event, name);
}

static BOOL ChangeClient(DWORD code, const void* input, DWORD inputBytes, const void* output, DWORD outputBytes)
{
    HKEY bus;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_BUS_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &bus) !=
        ERROR_SUCCESS) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    RecordRequest(bus, code, input, inputBytes);
    WCHAR before[BUS_REQUEST_CHARS] = {0};
    ReadTextField(bus, L"CurrentClientDriver", before, BUS_REQUEST_CHARS - 1);
    DWORD error = ERROR_SUCCESS;
    if (ReadDword(bus, L"Refuse") != 0)
        error = ERROR_GEN_FAILURE;
    else if (code != BUS_REQUEST_CODE || input == NULL || inputBytes != BUS_REQUEST_CHARS * sizeof(WCHAR) ||
             output != NULL || outputBytes != 0 || !IsClientDriver((const WCHAR*)input))
        error = ERROR_INVALID_PARAMETER;
    else if (RegSetValueExW(bus, L"CurrentClientDriver", 0, REG_SZ, (const BYTE*)input,
                            (lstrlenW((const WCHAR*)input) + 1) * sizeof(WCHAR)) != ERROR_SUCCESS)
        error = ERROR_GEN_FAILURE;
    RegCloseKey(bus);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    BroadcastClient(DBT_DEVICEREMOVECOMPLETE, before);
    BroadcastClient(DBT_DEVICEARRIVAL, (const WCHAR*)input);
    return TRUE;
}

extern "C" BOOL WINAPI CeDeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputBytes, LPVOID output,
                                    DWORD outputBytes, LPDWORD bytesReturned, LPOVERLAPPED overlapped)
{
    // Without an overlapped record the returned-byte count is required; the
    // desktop would write through a null pointer.
    if (overlapped == NULL && bytesReturned == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (FindOpenBus(device) < 0)
        return DeviceIoControl(device, code, input, inputBytes, output, outputBytes, bytesReturned, overlapped);
    if (overlapped != NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *bytesReturned = 0;
    return ChangeClient(code, input, inputBytes, output, outputBytes);
}

extern "C" BOOL WINAPI CeCloseHandle(HANDLE handle)
{
    int slot = FindOpenBus(handle);
    if (slot >= 0)
        g_openBuses[slot] = NULL;
    return CloseHandle(handle);
}
