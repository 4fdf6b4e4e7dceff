// The storage manager, device manager and USB function bus driver stand-ins.
#include "host_internal.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "settings/registry_settings.h"

namespace {

struct StoreSearch {
    // As they were when the search opened: shared, not copied, since
    // HostSetStores replaces the set rather than changing it.
    std::shared_ptr<const std::vector<STOREINFO>> stores;
    size_t next;
};

enum HandleKind { DEVICE_SEARCH, BUS_DEVICE, MESSAGE_QUEUE, NOTIFICATION_REQUEST };

// A queue's event is set while a record waits, and, as CE's kernel may
// leave it, once with nothing to read (woken); a queue with no writer left
// (broken) stays set, and its reads fail.
struct MessageQueue {
    MSGQUEUEOPTIONS options;
    std::deque<std::vector<BYTE>> records;
    bool woken = false;
    bool broken = false;
};

struct NotificationRequest {
    GUID interfaceClass;
    HANDLE queue;
};

std::shared_ptr<const std::vector<STOREINFO>> g_stores = std::make_shared<const std::vector<STOREINFO>>();
std::function<void(int)> g_onStoreSearch;
int g_storeSearches;
std::map<HANDLE, StoreSearch> g_storeSearchHandles;

bool g_busPresent;
HostText g_busName;
bool g_busRefuses;
HostText g_currentClient;
std::vector<HostBusRequest> g_requests;
std::map<HANDLE, HandleKind> g_handles;
// The caller's record of each open device search.
std::map<HANDLE, const DEVMGR_DEVICE_INFORMATION*> g_deviceRecords;
uintptr_t g_nextHandle;
std::map<HANDLE, MessageQueue> g_messageQueues;
std::map<HANDLE, NotificationRequest> g_notificationRequests;
// Stores whose block devices came, in the order they will be mounted, when.
// A store listed a while after its block device came: appended, with its
// mount announced; or swapped back into its old place, unannounced, as CE's
// storage manager does with a card put back within PNPUnloadDelay.
struct LateMount {
    uint64_t due;
    STOREINFO store;
    size_t swappedBackAt = SIZE_MAX;
};
std::vector<LateMount> g_lateMounts;

// The bus driver's interface, E2BDC372-598F-4619-BC50-54B3F7848D35.
const GUID BUS_INTERFACE = {0xE2BDC372, 0x598F, 0x4619, {0xBC, 0x50, 0x54, 0xB3, 0xF7, 0x84, 0x8D, 0x35}};
// What block drivers and the storage manager advertise.
const GUID BLOCK_DRIVER_INTERFACE = {0xA4E7EDDA, 0xE575, 0x4252, {0x9D, 0x6B, 0x41, 0x95, 0xD4, 0x8B, 0xB8, 0x65}};
const GUID STORE_MOUNT_INTERFACE = {0xC1115848, 0x46FD, 0x4976, {0xBD, 0xE9, 0xD7, 0x94, 0x48, 0x45, 0x70, 0x04}};

HANDLE NewHandle(void)
{
    g_nextHandle += 4;
    return (HANDLE)g_nextHandle;
}

bool NamesClientDriver(const HostText& name)
{
    return !name.empty() && name.find(u'\\') == HostText::npos &&
           HostRegKeyExists(HKEY_LOCAL_MACHINE, HostText(FUNCTION_DRIVERS_KEY) + u"\\" + name);
}

MessageQueue& QueueOrAbort(HANDLE queue, const char* call)
{
    auto found = g_handles.find(queue);
    if (found == g_handles.end() || found->second != MESSAGE_QUEUE)
        HostAbort((std::string(call) + ": not an open message queue").c_str());
    return g_messageQueues[queue];
}

// One DEVDETAIL record, the name after it; a full queue loses it, as the
// device manager does not wait for its reader.
void Deliver(HANDLE to, const GUID& interfaceClass, bool attached, const HostText& name)
{
    std::vector<BYTE> record(offsetof(DEVDETAIL, szName) + (name.size() + 1) * sizeof(WCHAR));
    DEVDETAIL* detail = (DEVDETAIL*)record.data();
    detail->guidDevClass = interfaceClass;
    detail->fAttached = attached;
    detail->cbName = (int)((name.size() + 1) * sizeof(WCHAR));
    memcpy(detail->szName, name.c_str(), detail->cbName);
    MessageQueue& queue = g_messageQueues[to];
    if (queue.records.size() < queue.options.dwMaxMessages && record.size() <= queue.options.cbMaxMessage)
        queue.records.push_back(record);
}

// To every queue that asked for the interface.
void Announce(const GUID& interfaceClass, bool attached, const HostText& name)
{
    HostRecord(std::string("announce ") + (attached ? "+" : "-") + HostNarrow(name));
    for (auto& request : g_notificationRequests) {
        if (memcmp(&request.second.interfaceClass, &interfaceClass, sizeof(GUID)) == 0)
            Deliver(request.second.queue, interfaceClass, attached, name);
    }
}

HostText DeviceNameOf(const STOREINFO& store)
{
    return HostText(store.szDeviceName, std::find(store.szDeviceName, store.szDeviceName + DEVICENAMESIZE, 0));
}

} // namespace

void HostResetDevices(void)
{
    g_stores = std::make_shared<const std::vector<STOREINFO>>();
    g_onStoreSearch = nullptr;
    g_storeSearches = 0;
    g_storeSearchHandles.clear();
    g_busPresent = false;
    g_busName.clear();
    g_busRefuses = false;
    g_currentClient.clear();
    g_requests.clear();
    g_handles.clear();
    g_deviceRecords.clear();
    g_nextHandle = 0x1000;
    g_messageQueues.clear();
    g_notificationRequests.clear();
    g_lateMounts.clear();
}

void HostSetStores(const std::vector<STOREINFO>& stores)
{
    g_stores = std::make_shared<const std::vector<STOREINFO>>(stores);
}

void HostOnStoreSearch(std::function<void(int search)> hook)
{
    g_onStoreSearch = hook;
}

int HostOpenStoreSearches(void)
{
    return (int)g_storeSearchHandles.size();
}

void HostSetBus(const HostText& busName)
{
    g_busPresent = true;
    g_busName = busName;
}

void HostRemoveBus(void)
{
    g_busPresent = false;
}

void HostSetBusRefuses(bool refuses)
{
    g_busRefuses = refuses;
}

const std::vector<HostBusRequest>& HostBusRequests(void)
{
    return g_requests;
}

HostText HostCurrentClient(void)
{
    return g_currentClient;
}

int HostOpenHandles(void)
{
    return (int)g_handles.size();
}

HANDLE WINAPI FindFirstStore(STOREINFO* info)
{
    HostRecord("FindFirstStore");
    if (HostShouldFail(HOST_FIND_FIRST_STORE)) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    if (info == NULL || info->cbSize != sizeof(STOREINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (g_onStoreSearch)
        g_onStoreSearch(++g_storeSearches);
    if (g_stores->empty()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE search = NewHandle();
    g_storeSearchHandles[search] = StoreSearch{g_stores, 1};
    *info = (*g_stores)[0];
    info->cbSize = sizeof(STOREINFO);
    return search;
}

BOOL WINAPI FindNextStore(HANDLE search, STOREINFO* info)
{
    auto found = g_storeSearchHandles.find(search);
    if (found == g_storeSearchHandles.end())
        HostAbort("FindNextStore: not an open store search");
    if (HostShouldFail(HOST_FIND_NEXT_STORE)) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    StoreSearch& walk = found->second;
    if (walk.next >= walk.stores->size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    *info = (*walk.stores)[walk.next++];
    info->cbSize = sizeof(STOREINFO);
    return TRUE;
}

BOOL WINAPI FindCloseStore(HANDLE search)
{
    HostRecord("FindCloseStore");
    if (g_storeSearchHandles.erase(search) == 0)
        HostAbort("FindCloseStore: not an open store search (closed twice, or never opened)");
    return TRUE;
}

HANDLE WINAPI FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info)
{
    HostRecord("FindFirstDevice");
    if (searchType != DeviceSearchByGuid)
        HostAbort("FindFirstDevice: only the search by interface GUID is modelled");
    if (HostShouldFail(HOST_FIND_FIRST_DEVICE)) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    if (info == NULL || info->dwSize != sizeof(DEVMGR_DEVICE_INFORMATION)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!g_busPresent || memcmp(searchParam, &BUS_INTERFACE, sizeof(GUID)) != 0) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return INVALID_HANDLE_VALUE;
    }
    memset(info, 0, sizeof(*info));
    info->dwSize = sizeof(*info);
    // A name as long as the field fills it with no terminator, as the record allows.
    memcpy(info->szBusName, g_busName.data(), std::min(g_busName.size(), (size_t)MAX_PATH) * sizeof(WCHAR));
    wcsncpy(info->szDeviceName, u"$bus\\USBFN", MAX_PATH - 1);
    HANDLE search = NewHandle();
    g_handles[search] = DEVICE_SEARCH;
    g_deviceRecords[search] = info;
    return search;
}

// A name inside a device record's bus-name field must end within the field;
// the platform would read on into whatever follows the record.
static void CheckEndsInItsField(LPCWSTR name)
{
    for (auto& search : g_deviceRecords) {
        const WCHAR* field = search.second->szBusName;
        if (name < field || name >= field + MAX_PATH)
            continue;
        if (std::find(name, field + MAX_PATH, 0) == field + MAX_PATH)
            HostAbort("CreateFileW: the name runs past the end of the device record's szBusName field");
    }
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile)
{
    CheckEndsInItsField(name);
    HostRecord("CreateFileW " + HostNarrow(name));
    if (HostShouldFail(HOST_CREATE_FILE)) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    (void)shareMode;
    if (security != NULL || flags != 0 || templateFile != NULL || disposition != OPEN_EXISTING ||
        (access & ~GENERIC_READ) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!g_busPresent || g_busName != name) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE device = NewHandle();
    g_handles[device] = BUS_DEVICE;
    return device;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputBytes, LPVOID output, DWORD outputBytes,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped)
{
    char event[48];
    snprintf(event, sizeof(event), "DeviceIoControl 0x%08X", (unsigned)code);
    HostRecord(event);
    auto found = g_handles.find(device);
    if (found == g_handles.end() || found->second != BUS_DEVICE)
        HostAbort("DeviceIoControl: not an open device handle");
    const BYTE* first = (const BYTE*)input;
    g_requests.push_back(HostBusRequest{code, std::vector<BYTE>(first, first + inputBytes), output != NULL,
                                        outputBytes, bytesReturned != NULL, overlapped != NULL});
    // Without an overlapped record the count of bytes returned is required.
    if (overlapped == NULL && bytesReturned == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (overlapped == NULL)
        *bytesReturned = 0;
    if (HostShouldFail(HOST_DEVICE_IO_CONTROL) || g_busRefuses) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    const size_t slotChars = 128;
    if (code != CTL_CODE(FILE_DEVICE_UNKNOWN, 4, METHOD_BUFFERED, FILE_ANY_ACCESS) ||
        inputBytes != slotChars * sizeof(WCHAR) || output != NULL || outputBytes != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const WCHAR* slot = (const WCHAR*)input;
    HostText name;
    for (size_t i = 0; i < slotChars && slot[i] != 0; i++)
        name += slot[i];
    if (name.size() == slotChars || !NamesClientDriver(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    g_currentClient = name;
    return TRUE;
}

static void Mount(const LateMount& mount)
{
    std::vector<STOREINFO> stores(*g_stores);
    if (mount.swappedBackAt != SIZE_MAX) {
        stores.insert(stores.begin() + (ptrdiff_t)std::min(mount.swappedBackAt, stores.size()), mount.store);
    } else {
        stores.push_back(mount.store);
        Announce(STORE_MOUNT_INTERFACE, true, DeviceNameOf(mount.store));
    }
    g_stores = std::make_shared<const std::vector<STOREINFO>>(stores);
}

static void MountLater(const LateMount& late)
{
    auto later = std::upper_bound(g_lateMounts.begin(), g_lateMounts.end(), late.due,
                                  [](uint64_t due, const LateMount& other) { return due < other.due; });
    g_lateMounts.insert(later, late);
}

void HostMountStore(const STOREINFO& store, DWORD mountAfter)
{
    // The block device comes first: a search made as it is announced does
    // not find the store yet.
    HostText name = DeviceNameOf(store);
    Announce(BLOCK_DRIVER_INTERFACE, true, name);
    HostBroadcast(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)name.c_str());
    if (mountAfter == 0)
        Mount(LateMount{HostClock(), store});
    else
        MountLater(LateMount{HostClock() + (uint64_t)mountAfter, store});
}

// The store of this device name, out of the searches from now on.
static void HideStore(const HostText& deviceName, const char* caller)
{
    std::vector<STOREINFO> stores(*g_stores);
    auto gone = std::find_if(stores.begin(), stores.end(),
                             [&](const STOREINFO& store) { return DeviceNameOf(store) == deviceName; });
    if (gone == stores.end())
        HostAbort((std::string(caller) + ": no such store is mounted").c_str());
    stores.erase(gone);
    g_stores = std::make_shared<const std::vector<STOREINFO>>(stores);
}

void HostReseatStores(const std::vector<HostText>& deviceNames, DWORD listedAfter)
{
    // Swapped back in the order they were listed in, each into its old place.
    std::vector<STOREINFO> stores(*g_stores);
    for (size_t at = 0; at < stores.size(); at++) {
        if (std::find(deviceNames.begin(), deviceNames.end(), DeviceNameOf(stores[at])) != deviceNames.end())
            MountLater(LateMount{HostClock() + (uint64_t)listedAfter, stores[at], at});
    }
    for (const HostText& name : deviceNames) {
        HideStore(name, "HostReseatStores");
        Announce(BLOCK_DRIVER_INTERFACE, false, name);
        HostBroadcast(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, (LPARAM)name.c_str());
    }
    for (const HostText& name : deviceNames) {
        Announce(BLOCK_DRIVER_INTERFACE, true, name);
        HostBroadcast(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)name.c_str());
    }
}

bool HostNextDeviceChange(uint64_t* due)
{
    if (!g_lateMounts.empty())
        *due = g_lateMounts.front().due;
    return !g_lateMounts.empty();
}

void HostDeviceClock(uint64_t now)
{
    while (!g_lateMounts.empty() && g_lateMounts.front().due <= now) {
        LateMount mount = g_lateMounts.front();
        g_lateMounts.erase(g_lateMounts.begin());
        Mount(mount);
    }
}

void HostDismountStore(const HostText& deviceName)
{
    HideStore(deviceName, "HostDismountStore");
    Announce(STORE_MOUNT_INTERFACE, false, deviceName);
    Announce(BLOCK_DRIVER_INTERFACE, false, deviceName);
    HostBroadcast(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, (LPARAM)deviceName.c_str());
}

int HostNotificationRequests(void)
{
    return (int)g_notificationRequests.size();
}

bool HostQueueSignalled(HANDLE queue)
{
    const MessageQueue& found = QueueOrAbort(queue, "a wait");
    return !found.records.empty() || found.woken || found.broken;
}

void HostWakeQueuesWithNothing(void)
{
    for (auto& queue : g_messageQueues)
        queue.second.woken = true;
}

void HostBreakQueues(void)
{
    for (auto& queue : g_messageQueues)
        queue.second.broken = true;
}

HANDLE WINAPI CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options)
{
    HostRecord("CreateMsgQueue");
    if (name != NULL || options == NULL)
        HostAbort("CreateMsgQueue: only an unnamed queue with options is modelled");
    if (HostShouldFail(HOST_CREATE_MSG_QUEUE)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    if (options->dwSize != sizeof(MSGQUEUEOPTIONS) || !options->bReadAccess || options->cbMaxMessage == 0 ||
        options->dwMaxMessages == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HANDLE queue = NewHandle();
    g_handles[queue] = MESSAGE_QUEUE;
    g_messageQueues[queue] = MessageQueue{*options, {}};
    return queue;
}

BOOL WINAPI ReadMsgQueue(HANDLE queue, LPVOID buffer, DWORD bufferBytes, LPDWORD bytesRead, DWORD timeout,
                         DWORD* flags)
{
    MessageQueue& found = QueueOrAbort(queue, "ReadMsgQueue");
    if (timeout != 0)
        HostAbort("ReadMsgQueue: a read that waits would stop the thread's windows");
    if (HostShouldFail(HOST_READ_MSG_QUEUE)) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (found.records.empty()) {
        found.woken = false;
        SetLastError(found.broken ? ERROR_PIPE_NOT_CONNECTED : ERROR_TIMEOUT);
        return FALSE;
    }
    const std::vector<BYTE>& record = found.records.front();
    if (buffer == NULL || bytesRead == NULL || flags == NULL || bufferBytes < record.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, record.data(), record.size());
    *bytesRead = (DWORD)record.size();
    *flags = 0;
    found.records.pop_front();
    return TRUE;
}

BOOL WINAPI CloseMsgQueue(HANDLE queue)
{
    HostRecord("CloseMsgQueue");
    QueueOrAbort(queue, "CloseMsgQueue");
    for (auto& request : g_notificationRequests) {
        if (request.second.queue == queue)
            HostAbort("CloseMsgQueue: notifications still go to the queue");
    }
    g_messageQueues.erase(queue);
    g_handles.erase(queue);
    return TRUE;
}

HANDLE WINAPI RequestDeviceNotifications(const GUID* interfaceClass, HANDLE queue, BOOL all)
{
    HostRecord("RequestDeviceNotifications");
    QueueOrAbort(queue, "RequestDeviceNotifications");
    if (HostShouldFail(HOST_REQUEST_NOTIFICATIONS)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    if (interfaceClass == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HANDLE request = NewHandle();
    g_handles[request] = NOTIFICATION_REQUEST;
    g_notificationRequests[request] = NotificationRequest{*interfaceClass, queue};
    if (all) {
        for (const STOREINFO& store : *g_stores)
            Deliver(queue, *interfaceClass, true, DeviceNameOf(store));
    }
    return request;
}

BOOL WINAPI StopDeviceNotifications(HANDLE request)
{
    HostRecord("StopDeviceNotifications");
    auto found = g_handles.find(request);
    if (found == g_handles.end() || found->second != NOTIFICATION_REQUEST)
        HostAbort("StopDeviceNotifications: not a live notification request");
    g_notificationRequests.erase(request);
    g_handles.erase(found);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    HostRecord("CloseHandle");
    auto found = g_handles.find(handle);
    if (found != g_handles.end() && (found->second == MESSAGE_QUEUE || found->second == NOTIFICATION_REQUEST))
        HostAbort("CloseHandle: a queue is closed with CloseMsgQueue, a notification request ended with "
                  "StopDeviceNotifications");
    if (g_handles.erase(handle) == 0)
        HostAbort("CloseHandle: not an open handle (closed twice, or never opened)");
    g_deviceRecords.erase(handle);
    return TRUE;
}
