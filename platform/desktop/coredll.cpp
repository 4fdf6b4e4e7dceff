// coredll.dll for the desktop: CE's system library as palvenor.exe calls it.
// Where the desktop behaves as CE does, coredll.def forwards the export to
// kernel32, user32, advapi32 or msvcrt. The code here is the list of ways
// CE differs: the storage manager, the device manager and the USB function
// bus, played from a device described in the registry and as strict as the
// real services; the dialog class, the foreground flag, the access mask,
// the work area and the resources in the user's language (MUI);
// and the device I/O calls, which answer for the emulated bus and pass
// every other handle to the system.
#include <windows.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

// The client drivers' key, where the bus looks for the driver it is asked to load.
#define CLIENT_DRIVERS_KEY L"Drivers\\USB\\FunctionDrivers\\"
#define BUS_REQUEST_CODE 0x00220010
#define BUS_REQUEST_CHARS 128
#define MAX_KEY_NAME_CHARS 255
#define MAX_OPEN_BUSES 4

static const GUID FUNCTION_BUS_INTERFACE = {
    0xE2BDC372, 0x598F, 0x4619, {0xBC, 0x50, 0x54, 0xB3, 0xF7, 0x84, 0x8D, 0x35}};

// A value of the emulated device, at most capacity bytes of it; 0 when it
// is absent or of another type.
static DWORD ReadValue(HKEY key, LPCWSTR name, DWORD type, void* data, DWORD capacity)
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

// Text up to its terminator, cut to the field; a text that fills the field
// leaves it unterminated, as the platform's fixed fields allow.
static void ReadTextField(HKEY key, LPCWSTR name, WCHAR* field, DWORD fieldChars)
{
    WCHAR text[MAX_PATH + 1];
    DWORD size = ReadValue(key, name, REG_SZ, text, sizeof(text) - sizeof(WCHAR));
    text[size / sizeof(WCHAR)] = 0;
    for (DWORD i = 0; i < fieldChars && text[i] != 0; i++)
        field[i] = text[i];
}

static DWORD ReadDword(HKEY key, LPCWSTR name)
{
    DWORD value = 0;
    if (ReadValue(key, name, REG_DWORD, &value, sizeof(value)) != sizeof(value))
        return 0;
    return value;
}

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

HANDLE WINAPI FindFirstStore(STOREINFO* info)
{
    if (info == NULL || info->cbSize != sizeof(STOREINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
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

static BOOL ChangeClient(DWORD code, const void* input, DWORD inputBytes, const void* output, DWORD outputBytes)
{
    HKEY bus;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_BUS_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &bus) !=
        ERROR_SUCCESS) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    RecordRequest(bus, code, input, inputBytes);
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

// CE names the class of a dialog made from a template "Dialog"; the desktop
// names it "#32770".
extern "C" HWND WINAPI CeFindWindowW(LPCWSTR className, LPCWSTR title)
{
    if (className != NULL && !IS_INTRESOURCE(className) && lstrcmpiW(className, L"Dialog") == 0)
        className = WC_DIALOG;
    return FindWindowW(className, title);
}

// CE's work area belongs to the system: the taskbar and the input panel set
// it, every program sees it, and it follows the screen when the screen
// turns. Wine keeps it per process, as it was when the process asked first.
// The emulated device holds the input panel's, when one is open; otherwise
// the screen's own is asked for each time.
extern "C" BOOL WINAPI CeSystemParametersInfoW(UINT action, UINT parameter, PVOID value, UINT flags)
{
    HKEY device;
    RECT workArea;
    if (action == SPI_GETWORKAREA && value != NULL &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_KEY, 0, KEY_QUERY_VALUE, &device) == ERROR_SUCCESS) {
        DWORD type = 0, size = sizeof(workArea);
        LONG read = RegQueryValueExW(device, L"WorkArea", NULL, &type, (BYTE*)&workArea, &size);
        RegCloseKey(device);
        // Four LONGs exactly; anything else is no work area.
        if (read == ERROR_SUCCESS && type == REG_BINARY && size == sizeof(workArea)) {
            *(RECT*)value = workArea;
            return TRUE;
        }
    }
    MONITORINFO screen;
    screen.cbSize = sizeof(screen);
    if (action == SPI_GETWORKAREA && value != NULL &&
        GetMonitorInfoW(MonitorFromWindow(NULL, MONITOR_DEFAULTTOPRIMARY), &screen)) {
        *(RECT*)value = screen.rcWork;
        return TRUE;
    }
    return SystemParametersInfoW(action, parameter, value, flags);
}

// CE reads the low bit of the handle as "bring its owned windows forward
// too"; on the desktop it would make the handle invalid.
extern "C" BOOL WINAPI CeSetForegroundWindow(HWND window)
{
    return SetForegroundWindow((HWND)((ULONG_PTR)window & ~(ULONG_PTR)1));
}

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

// ---- CE's Multilingual User Interface ----
// A module's resources in the user's language live in a resource-only DLL
// beside it, <module>.<LCID>.mui; CE looks there first when MUI is on
// (HKLM\MUI, Enable, on when absent) and the user has a language
// (HKCU\MUI, CurLang), and in the module when the file or the resource is
// missing. The desktop has no such lookup. A .mui is loaded as data only,
// once per module for the life of the process, as CE keeps it; one that
// will not load is no .mui. Icons stay in the module: LoadIconW forwards.

#define MAX_MUI_MODULES 4

static struct {
    HMODULE module, mui;
} g_mui[MAX_MUI_MODULES];

static DWORD ReadMuiValue(HKEY root, LPCWSTR name, DWORD absent)
{
    HKEY key;
    DWORD value = absent, type = 0, size = sizeof(value);
    if (RegOpenKeyExW(root, L"MUI", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return absent;
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE*)&value, &size) != ERROR_SUCCESS || type != REG_DWORD ||
        size != sizeof(value))
        value = absent;
    RegCloseKey(key);
    return value;
}

static HMODULE LoadMui(HMODULE module)
{
    DWORD language = ReadMuiValue(HKEY_CURRENT_USER, L"CurLang", 0);
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    // ".LLLL.mui" and the terminator.
    if (ReadMuiValue(HKEY_LOCAL_MACHINE, L"Enable", 1) == 0 || language == 0 || length == 0 || length > MAX_PATH - 10)
        return NULL;
    wsprintfW(path + length, L".%04X.mui", (unsigned)language & 0xFFFF);
    return LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
}

// The .mui of this module, or null.
static HMODULE MuiOf(HMODULE module)
{
    if (module == NULL)
        module = GetModuleHandleW(NULL);
    int unused = -1;
    for (int i = 0; i < MAX_MUI_MODULES; i++) {
        if (g_mui[i].module == module)
            return g_mui[i].mui;
        if (g_mui[i].module == NULL && unused < 0)
            unused = i;
    }
    HMODULE mui = LoadMui(module);
    if (unused >= 0) {
        g_mui[unused].module = module;
        g_mui[unused].mui = mui;
    } else if (mui != NULL) {
        FreeLibrary(mui); // more modules than CE's loader would keep: the module's own
        mui = NULL;
    }
    return mui;
}

extern "C" HRSRC WINAPI CeFindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    HMODULE mui = MuiOf(module);
    HRSRC found = mui != NULL ? FindResourceW(mui, name, type) : NULL;
    return found != NULL ? found : FindResourceW(module, name, type);
}

// A resource found in the .mui is loaded from it: the record lies in its mapping.
extern "C" HGLOBAL WINAPI CeLoadResource(HMODULE module, HRSRC resource)
{
    HMODULE mui = MuiOf(module);
    MEMORY_BASIC_INFORMATION found, file;
    if (mui != NULL && VirtualQuery(resource, &found, sizeof(found)) != 0 &&
        VirtualQuery((void*)((ULONG_PTR)mui & ~(ULONG_PTR)3), &file, sizeof(file)) != 0 &&
        found.AllocationBase == file.AllocationBase)
        return LoadResource(mui, resource);
    return LoadResource(module, resource);
}

extern "C" int WINAPI CeLoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int chars)
{
    HMODULE mui = MuiOf(module);
    int length = mui != NULL ? LoadStringW(mui, id, buffer, chars) : 0;
    return length > 0 ? length : LoadStringW(module, id, buffer, chars);
}

// The MUI files go when this library does (with the applet that loaded it,
// in a Control Panel), as CE's go with their modules. At process exit the
// system unmaps them anyway.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID processEnds)
{
    (void)instance;
    for (int i = 0; reason == DLL_PROCESS_DETACH && processEnds == NULL && i < MAX_MUI_MODULES; i++) {
        if (g_mui[i].mui != NULL)
            FreeLibrary(g_mui[i].mui);
    }
    return TRUE;
}
