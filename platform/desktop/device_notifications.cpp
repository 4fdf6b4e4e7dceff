// CE's message queues and device interface notifications, with the device
// manager's WM_DEVICECHANGE broadcast. The emulated device's Stores key is
// what CE's storage manager has mounted: a store added to it is a card put
// in, a store removed a card taken out. The first request for notifications
// starts a watcher thread, which announces such changes as CE does: a
// card's block device (BLOCK_DRIVER_GUID, then the broadcast), then its
// store's mount (STORE_MOUNT_GUID); a card taken out, in the reverse order.
// An image without notifications (the device's NoDeviceNotifications) has
// neither.
#include <windows.h>
#include <dbt.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

#define MAX_QUEUES 8
#define MAX_REQUESTS 16
#define MAX_KEY_NAME_CHARS 255
// A store's description is written a value at a time: a change is
// announced once the device has been still this long.
#define SETTLE_MS 50
// How long the broadcast waits for each window; a hung one is passed over.
#define BROADCAST_WAIT_MS 5000

static const GUID BLOCK_DRIVER_GUID = {0xA4E7EDDA, 0xE575, 0x4252, {0x9D, 0x6B, 0x41, 0x95, 0xD4, 0x8B, 0xB8, 0x65}};
static const GUID STORE_MOUNT_GUID = {0xC1115848, 0x46FD, 0x4976, {0xBD, 0xE9, 0xD7, 0x94, 0x48, 0x45, 0x70, 0x04}};

typedef struct Record {
    struct Record* next;
    DWORD bytes;
    DWORD data[1]; // bytes of them, DWORD-aligned for the DEVDETAIL
} Record;

// A queue's handle is an event, set while a record waits, so that the
// system's waits take it as CE's take a queue's.
typedef struct Queue {
    HANDLE readable;
    MSGQUEUEOPTIONS options;
    Record* first;
    Record* last;
    DWORD count;
} Queue;

typedef struct Request {
    HANDLE handle;
    GUID interfaceClass;
    HANDLE queue;
} Request;

// A mounted store: its key's name and its device name.
typedef struct Mounted {
    WCHAR key[MAX_KEY_NAME_CHARS + 1];
    WCHAR deviceName[DEVICENAMESIZE + 1];
} Mounted;

// g_lock guards the queues, the requests and what is mounted; g_startLock
// the watcher's start and stop.
static SRWLOCK g_lock = SRWLOCK_INIT;
static SRWLOCK g_startLock = SRWLOCK_INIT;
static Queue g_queues[MAX_QUEUES];
static Request g_requests[MAX_REQUESTS];
static Mounted* g_mounted;
static DWORD g_mountedCount;
static HANDLE g_watcher;
static HANDLE g_stopWatching;

static Queue* FindQueue(HANDLE handle)
{
    for (int i = 0; handle != NULL && i < MAX_QUEUES; i++) {
        if (g_queues[i].readable == handle)
            return &g_queues[i];
    }
    return NULL;
}

static Request* FindRequest(HANDLE handle)
{
    for (int i = 0; handle != NULL && i < MAX_REQUESTS; i++) {
        if (g_requests[i].handle == handle)
            return &g_requests[i];
    }
    return NULL;
}

static BOOL NotificationsInImage(void)
{
    HKEY device;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_KEY, 0, KEY_QUERY_VALUE, &device) != ERROR_SUCCESS)
        return TRUE;
    BOOL none = ReadDword(device, L"NoDeviceNotifications") != 0;
    RegCloseKey(device);
    return !none;
}

// One DEVDETAIL record, its name after it. A queue that is full, or whose
// records are smaller, loses it: the device manager does not wait for its
// readers. The caller holds the lock.
static void Deliver(Queue* queue, const GUID* interfaceClass, BOOL attached, const WCHAR* name)
{
    DWORD nameBytes = (lstrlenW(name) + 1) * sizeof(WCHAR);
    DWORD bytes = offsetof(DEVDETAIL, szName) + nameBytes;
    if (bytes > queue->options.cbMaxMessage ||
        (queue->options.dwMaxMessages != 0 && queue->count >= queue->options.dwMaxMessages))
        return;
    Record* record = (Record*)LocalAlloc(LPTR, offsetof(Record, data) + bytes);
    if (record == NULL)
        return;
    record->bytes = bytes;
    DEVDETAIL* detail = (DEVDETAIL*)record->data;
    detail->guidDevClass = *interfaceClass;
    detail->fAttached = attached;
    detail->cbName = (int)nameBytes;
    memcpy(detail->szName, name, nameBytes);
    if (queue->last != NULL)
        queue->last->next = record;
    else
        queue->first = record;
    queue->last = record;
    queue->count++;
    SetEvent(queue->readable);
}

static void Announce(const GUID* interfaceClass, BOOL attached, const WCHAR* name)
{
    AcquireSRWLockExclusive(&g_lock);
    for (int i = 0; i < MAX_REQUESTS; i++) {
        Queue* queue = FindQueue(g_requests[i].queue);
        if (g_requests[i].handle != NULL && queue != NULL &&
            memcmp(&g_requests[i].interfaceClass, interfaceClass, sizeof(GUID)) == 0)
            Deliver(queue, interfaceClass, attached, name);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

// CE's device manager sends WM_DEVICECHANGE to every top-level window with
// SendNotifyMessage. Wine refuses that for a message whose wParam has the
// high bit set, as it takes it to carry a pointer; this process's windows
// are sent it one by one from the watcher, which waits for nothing else.
typedef struct DeviceChange {
    WPARAM event;
    const WCHAR* deviceName;
} DeviceChange;

static BOOL CALLBACK SendDeviceChange(HWND window, LPARAM change)
{
    const DeviceChange* sent = (const DeviceChange*)change;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        SendMessageTimeoutW(window, WM_DEVICECHANGE, sent->event, (LPARAM)sent->deviceName, SMTO_NORMAL,
                            BROADCAST_WAIT_MS, NULL);
    return TRUE;
}

static void Broadcast(WPARAM event, const WCHAR* deviceName)
{
    DeviceChange change = {event, deviceName};
    EnumWindows(SendDeviceChange, (LPARAM)&change);
}

// The stores the device has now; NULL, with none, when it has no Stores key.
static Mounted* ReadMounted(DWORD* count)
{
    *count = 0;
    HKEY stores;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_STORES_KEY, 0, KEY_READ, &stores) != ERROR_SUCCESS)
        return NULL;
    DWORD keys = 0;
    Mounted* mounted = NULL;
    if (RegQueryInfoKeyW(stores, NULL, NULL, NULL, &keys, NULL, NULL, NULL, NULL, NULL, NULL, NULL) ==
            ERROR_SUCCESS &&
        keys != 0)
        mounted = (Mounted*)LocalAlloc(LPTR, keys * sizeof(Mounted));
    for (DWORD i = 0; mounted != NULL && *count < keys; i++) {
        Mounted* store = &mounted[*count];
        DWORD length = MAX_KEY_NAME_CHARS + 1;
        if (RegEnumKeyExW(stores, i, store->key, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY values;
        if (RegOpenKeyExW(stores, store->key, 0, KEY_QUERY_VALUE, &values) == ERROR_SUCCESS) {
            ReadTextField(values, L"DeviceName", store->deviceName, DEVICENAMESIZE);
            RegCloseKey(values);
        }
        (*count)++;
    }
    RegCloseKey(stores);
    return mounted;
}

static BOOL IsAmong(const Mounted* store, const Mounted* stores, DWORD count)
{
    for (DWORD i = 0; i < count; i++) {
        if (lstrcmpW(store->key, stores[i].key) == 0 && lstrcmpW(store->deviceName, stores[i].deviceName) == 0)
            return TRUE;
    }
    return FALSE;
}

static void AnnounceChanges(void)
{
    DWORD count;
    Mounted* now = ReadMounted(&count);
    for (DWORD i = 0; i < g_mountedCount; i++) {
        const Mounted* gone = &g_mounted[i];
        if (IsAmong(gone, now, count))
            continue;
        Announce(&STORE_MOUNT_GUID, FALSE, gone->deviceName);
        Announce(&BLOCK_DRIVER_GUID, FALSE, gone->deviceName);
        Broadcast(DBT_DEVICEREMOVECOMPLETE, gone->deviceName);
    }
    for (DWORD i = 0; i < count; i++) {
        const Mounted* come = &now[i];
        if (IsAmong(come, g_mounted, g_mountedCount))
            continue;
        Announce(&BLOCK_DRIVER_GUID, TRUE, come->deviceName);
        Broadcast(DBT_DEVICEARRIVAL, come->deviceName);
        Announce(&STORE_MOUNT_GUID, TRUE, come->deviceName);
    }
    AcquireSRWLockExclusive(&g_lock);
    Mounted* before = g_mounted;
    g_mounted = now;
    g_mountedCount = count;
    ReleaseSRWLockExclusive(&g_lock);
    if (before != NULL)
        LocalFree(before);
}

// Runs while a request is live: a thread of the emulator's must not keep
// the program's process alive once its own threads are done. It watches the
// whole emulated device, so that a Stores key made after it started is
// seen too.
static DWORD WINAPI WatchStores(LPVOID ready)
{
    HKEY device = NULL;
    HANDLE changed = CreateEventW(NULL, FALSE, FALSE, NULL);
    HANDLE waits[2] = {changed, g_stopWatching};
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    BOOL watching = changed != NULL &&
                    RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_KEY, 0, KEY_NOTIFY, &device) == ERROR_SUCCESS &&
                    RegNotifyChangeKeyValue(device, TRUE, filter, changed, TRUE) == ERROR_SUCCESS;
    // What is mounted as the watch begins is what later changes are told against.
    DWORD count;
    Mounted* mounted = ReadMounted(&count);
    AcquireSRWLockExclusive(&g_lock);
    g_mounted = mounted;
    g_mountedCount = count;
    ReleaseSRWLockExclusive(&g_lock);
    SetEvent((HANDLE)ready);
    while (watching && WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        do {
            watching = RegNotifyChangeKeyValue(device, TRUE, filter, changed, TRUE) == ERROR_SUCCESS;
        } while (watching && WaitForMultipleObjects(2, waits, FALSE, SETTLE_MS) == WAIT_OBJECT_0);
        if (WaitForSingleObject(g_stopWatching, 0) == WAIT_OBJECT_0)
            break;
        AnnounceChanges();
    }
    AcquireSRWLockExclusive(&g_lock);
    mounted = g_mounted;
    g_mounted = NULL;
    g_mountedCount = 0;
    ReleaseSRWLockExclusive(&g_lock);
    if (mounted != NULL)
        LocalFree(mounted);
    if (device != NULL)
        RegCloseKey(device);
    if (changed != NULL)
        CloseHandle(changed);
    return 0;
}

// Starts the watcher where none runs, and returns once it watches: nothing
// changed after a request goes unannounced. One that is stopping is let
// end first.
static BOOL StartWatcher(void)
{
    AcquireSRWLockExclusive(&g_startLock);
    if (g_watcher != NULL && WaitForSingleObject(g_stopWatching, 0) == WAIT_OBJECT_0) {
        WaitForSingleObject(g_watcher, INFINITE);
        CloseHandle(g_watcher);
        CloseHandle(g_stopWatching);
        g_watcher = g_stopWatching = NULL;
    }
    BOOL watching = g_watcher != NULL;
    HANDLE ready = watching ? NULL : CreateEventW(NULL, TRUE, FALSE, NULL);
    if (ready != NULL) {
        g_stopWatching = CreateEventW(NULL, TRUE, FALSE, NULL);
        if (g_stopWatching != NULL)
            g_watcher = CreateThread(NULL, 0, WatchStores, ready, 0, NULL);
        watching = g_watcher != NULL && WaitForSingleObject(ready, INFINITE) == WAIT_OBJECT_0;
        if (g_watcher == NULL && g_stopWatching != NULL) {
            CloseHandle(g_stopWatching);
            g_stopWatching = NULL;
        }
        CloseHandle(ready);
    }
    ReleaseSRWLockExclusive(&g_startLock);
    return watching;
}

// The last request gone, the watcher ends; it is not waited for, as it may
// be waiting on a window of the caller's.
static void StopWatcherWhenUnused(void)
{
    AcquireSRWLockExclusive(&g_lock);
    BOOL used = FALSE;
    for (int i = 0; i < MAX_REQUESTS; i++)
        used |= g_requests[i].handle != NULL;
    ReleaseSRWLockExclusive(&g_lock);
    AcquireSRWLockExclusive(&g_startLock);
    if (!used && g_watcher != NULL)
        SetEvent(g_stopWatching);
    ReleaseSRWLockExclusive(&g_startLock);
}

HANDLE WINAPI CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options)
{
    // Named queues, shared between processes, are not played.
    if (name != NULL) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    if (options == NULL || options->dwSize != sizeof(MSGQUEUEOPTIONS) || options->cbMaxMessage == 0 ||
        !options->bReadAccess) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HANDLE readable = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (readable == NULL)
        return NULL;
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = NULL;
    for (int i = 0; queue == NULL && i < MAX_QUEUES; i++) {
        if (g_queues[i].readable == NULL)
            queue = &g_queues[i];
    }
    if (queue != NULL) {
        memset(queue, 0, sizeof(*queue));
        queue->readable = readable;
        queue->options = *options;
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (queue == NULL) {
        CloseHandle(readable);
        SetLastError(ERROR_OUTOFMEMORY);
        return NULL;
    }
    return readable;
}

// Takes the first record: FALSE with ERROR_TIMEOUT when none came in time.
// One bigger than the buffer is taken all the same, as CE's kernel takes
// it: TRUE, cut to the buffer, with ERROR_INSUFFICIENT_BUFFER.
static BOOL TakeRecord(Queue* queue, LPVOID buffer, DWORD bufferBytes, LPDWORD bytesRead)
{
    Record* record = queue->first;
    if (record == NULL) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    queue->first = record->next;
    if (queue->first == NULL) {
        queue->last = NULL;
        ResetEvent(queue->readable);
    }
    queue->count--;
    *bytesRead = record->bytes <= bufferBytes ? record->bytes : bufferBytes;
    memcpy(buffer, record->data, *bytesRead);
    if (*bytesRead < record->bytes)
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    LocalFree(record);
    return TRUE;
}

BOOL WINAPI ReadMsgQueue(HANDLE handle, LPVOID buffer, DWORD bufferBytes, LPDWORD bytesRead, DWORD timeout,
                         DWORD* flags)
{
    if (buffer == NULL || bytesRead == NULL || flags == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AcquireSRWLockExclusive(&g_lock);
    BOOL known = FindQueue(handle) != NULL;
    ReleaseSRWLockExclusive(&g_lock);
    if (!known) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (WaitForSingleObject(handle, timeout) != WAIT_OBJECT_0) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    BOOL taken = FALSE;
    if (queue == NULL)
        SetLastError(ERROR_INVALID_HANDLE);
    else
        taken = TakeRecord(queue, buffer, bufferBytes, bytesRead);
    ReleaseSRWLockExclusive(&g_lock);
    if (taken)
        *flags = 0;
    return taken;
}

BOOL WINAPI CloseMsgQueue(HANDLE handle)
{
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    if (queue != NULL) {
        while (queue->first != NULL) {
            Record* record = queue->first;
            queue->first = record->next;
            LocalFree(record);
        }
        memset(queue, 0, sizeof(*queue));
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (queue == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(handle);
}

HANDLE WINAPI RequestDeviceNotifications(const GUID* interfaceClass, HANDLE queue, BOOL all)
{
    if (!NotificationsInImage()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    if (interfaceClass == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    // A real handle, so that the system tells requests apart.
    HANDLE handle = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (handle == NULL)
        return NULL;
    if (!StartWatcher()) {
        CloseHandle(handle);
        return NULL;
    }
    AcquireSRWLockExclusive(&g_lock);
    Queue* target = FindQueue(queue);
    Request* request = NULL;
    for (int i = 0; target != NULL && request == NULL && i < MAX_REQUESTS; i++) {
        if (g_requests[i].handle == NULL)
            request = &g_requests[i];
    }
    if (request != NULL) {
        request->handle = handle;
        request->interfaceClass = *interfaceClass;
        request->queue = queue;
        // The interfaces already advertised: a block device and a store for each store mounted.
        BOOL advertised = memcmp(interfaceClass, &BLOCK_DRIVER_GUID, sizeof(GUID)) == 0 ||
                          memcmp(interfaceClass, &STORE_MOUNT_GUID, sizeof(GUID)) == 0;
        for (DWORD i = 0; all && advertised && i < g_mountedCount; i++)
            Deliver(target, interfaceClass, TRUE, g_mounted[i].deviceName);
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (request == NULL) {
        CloseHandle(handle);
        StopWatcherWhenUnused();
        SetLastError(target == NULL ? ERROR_INVALID_HANDLE : ERROR_OUTOFMEMORY);
        return NULL;
    }
    return handle;
}

BOOL WINAPI StopDeviceNotifications(HANDLE handle)
{
    AcquireSRWLockExclusive(&g_lock);
    Request* request = FindRequest(handle);
    if (request != NULL)
        memset(request, 0, sizeof(*request));
    ReleaseSRWLockExclusive(&g_lock);
    if (request == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    StopWatcherWhenUnused();
    return CloseHandle(handle);
}
