// CE's device manager: interface notifications to the queues that asked,
// and its WM_DEVICECHANGE broadcast. The emulated device's Stores key holds
// its cards: a subkey added is a card put in, one removed a card taken out.
// A watcher thread, started by the process's first store search or request,
// announces them as CE does: a card's block device (BLOCK_DRIVER_GUID) and
// the broadcast at once; its store is the storage manager's, mounted and
// announced later. An image without notifications (the device's
// NoDeviceNotifications) has neither.
#include <windows.h>
#include <dbt.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

#define MAX_REQUESTS 16
// A store's description is written a value at a time: a change is
// announced once the device has been still this long, or, as the device
// keeps changing (its StoreSearches counter among its values), this long
// after the change.
#define SETTLE_MS 50
#define SETTLE_AT_MOST_MS 250
#define MAX_HOOKED_THREADS 16
#define BROADCASTS_KEPT 16

static const GUID BLOCK_DRIVER_GUID = {0xA4E7EDDA, 0xE575, 0x4252, {0x9D, 0x6B, 0x41, 0x95, 0xD4, 0x8B, 0xB8, 0x65}};
static const GUID STORE_MOUNT_GUID = {0xC1115848, 0x46FD, 0x4976, {0xBD, 0xE9, 0xD7, 0x94, 0x48, 0x45, 0x70, 0x04}};

typedef struct Request {
    HANDLE handle;
    GUID interfaceClass;
    HANDLE queue;
    BOOL writing; // the device manager holds a writer on the queue
} Request;

// g_lock guards the requests and the cards in; g_startLock the watcher's start.
static SRWLOCK g_lock = SRWLOCK_INIT;
static SRWLOCK g_startLock = SRWLOCK_INIT;
static Request g_requests[MAX_REQUESTS];
static Card* g_cards;
static DWORD g_cardCount;
static HANDLE g_watcher;

static Request* FindRequest(HANDLE handle)
{
    for (int i = 0; i < MAX_REQUESTS; i++) {
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

// One DEVDETAIL record, its name after it.
static void Deliver(HANDLE queue, const GUID* interfaceClass, BOOL attached, const WCHAR* name)
{
    DWORD record[(offsetof(DEVDETAIL, szName) + (DEVICENAMESIZE + 1) * sizeof(WCHAR) + 3) / 4];
    DWORD nameBytes = (lstrlenW(name) + 1) * sizeof(WCHAR);
    DEVDETAIL* detail = (DEVDETAIL*)record;
    detail->guidDevClass = *interfaceClass;
    detail->fAttached = attached;
    detail->cbName = (int)nameBytes;
    memcpy(detail->szName, name, nameBytes);
    QueueWrite(queue, record, offsetof(DEVDETAIL, szName) + nameBytes);
}

static void Announce(const GUID* interfaceClass, BOOL attached, const WCHAR* name)
{
    AcquireSRWLockShared(&g_lock);
    for (int i = 0; i < MAX_REQUESTS; i++) {
        if (g_requests[i].handle != NULL && g_requests[i].writing &&
            memcmp(&g_requests[i].interfaceClass, interfaceClass, sizeof(GUID)) == 0)
            Deliver(g_requests[i].queue, interfaceClass, attached, name);
    }
    ReleaseSRWLockShared(&g_lock);
}

void AdvertiseStore(BOOL attached, const WCHAR* deviceName)
{
    Announce(&STORE_MOUNT_GUID, attached, deviceName);
}

// CE's device manager posts WM_DEVICECHANGE to every top-level window, its
// lParam a DEV_BROADCAST_PORT naming the device. Wine refuses to post it
// (it takes the message with the high bit of wParam to carry a pointer), so
// it is posted as a message of the emulator's own, which a hook on the
// window's thread makes WM_DEVICECHANGE again as the thread fetches it,
// whichever loop fetches it. The process's own windows get it; another
// process of the device has its own device manager. The last records
// broadcast are kept for the pointers in messages still queued.
typedef struct PortBroadcast {
    DEV_BROADCAST_PORT_W header;
    WCHAR rest[DEVICENAMESIZE];
} PortBroadcast;

typedef struct HookedThread {
    DWORD thread;
    HHOOK hook;
} HookedThread;

// g_broadcastLock guards the broadcast and the hooks, which live only while
// the watcher runs: the hooks' code is unloaded with coredll.dll.
static SRWLOCK g_broadcastLock = SRWLOCK_INIT;
static BOOL g_broadcasting;
static UINT g_postedChange;
static HookedThread g_hookedThreads[MAX_HOOKED_THREADS];
static PortBroadcast g_broadcasts[BROADCASTS_KEPT];
static DWORD g_broadcastCount;

static LRESULT CALLBACK TakePostedChange(int code, WPARAM removal, LPARAM message)
{
    MSG* fetched = (MSG*)message;
    if (code == HC_ACTION && g_postedChange != 0 && fetched->message == g_postedChange)
        fetched->message = WM_DEVICECHANGE;
    return CallNextHookEx(NULL, code, removal, message);
}

static void HookThread(DWORD thread)
{
    for (int i = 0; i < MAX_HOOKED_THREADS; i++) {
        if (g_hookedThreads[i].thread == thread)
            return;
        if (g_hookedThreads[i].hook == NULL) {
            g_hookedThreads[i].hook = SetWindowsHookExW(WH_GETMESSAGE, TakePostedChange, NULL, thread);
            if (g_hookedThreads[i].hook != NULL)
                g_hookedThreads[i].thread = thread;
            return;
        }
    }
}

static void SetBroadcasting(BOOL broadcasting)
{
    AcquireSRWLockExclusive(&g_broadcastLock);
    g_broadcasting = broadcasting;
    for (int i = 0; !broadcasting && i < MAX_HOOKED_THREADS; i++) {
        if (g_hookedThreads[i].hook != NULL)
            UnhookWindowsHookEx(g_hookedThreads[i].hook);
        g_hookedThreads[i].hook = NULL;
        g_hookedThreads[i].thread = 0;
    }
    ReleaseSRWLockExclusive(&g_broadcastLock);
}

typedef struct Posting {
    WPARAM event;
    const PortBroadcast* record;
} Posting;

static BOOL CALLBACK PostDeviceChange(HWND window, LPARAM parameter)
{
    const Posting* posting = (const Posting*)parameter;
    DWORD process = 0;
    DWORD thread = GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        HookThread(thread);
        PostMessageW(window, g_postedChange, posting->event, (LPARAM)posting->record);
    }
    return TRUE;
}

void BroadcastDeviceChange(WPARAM event, const WCHAR* deviceName)
{
    if (!NotificationsInImage() || !StartDeviceManager())
        return;
    AcquireSRWLockExclusive(&g_broadcastLock);
    if (g_postedChange == 0)
        g_postedChange = RegisterWindowMessageW(L"PalvenorPostedDeviceChange");
    PortBroadcast* record = &g_broadcasts[g_broadcastCount++ % BROADCASTS_KEPT];
    memset(record, 0, sizeof(*record));
    DWORD nameChars = lstrlenW(deviceName);
    if (nameChars > DEVICENAMESIZE)
        nameChars = DEVICENAMESIZE;
    memcpy(record->header.dbcp_name, deviceName, nameChars * sizeof(WCHAR));
    record->header.dbcp_size = offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (nameChars + 1) * sizeof(WCHAR);
    record->header.dbcp_devicetype = DBT_DEVTYP_PORT;
    Posting posting = {event, record};
    if (g_broadcasting && g_postedChange != 0)
        EnumWindows(PostDeviceChange, (LPARAM)&posting);
    ReleaseSRWLockExclusive(&g_broadcastLock);
}

// The cards the device has now; NULL, with none, when it has no Stores key.
static Card* ReadCards(DWORD* count)
{
    *count = 0;
    HKEY stores;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_STORES_KEY, 0, KEY_READ, &stores) != ERROR_SUCCESS)
        return NULL;
    DWORD keys = 0;
    Card* cards = NULL;
    if (RegQueryInfoKeyW(stores, NULL, NULL, NULL, &keys, NULL, NULL, NULL, NULL, NULL, NULL, NULL) ==
            ERROR_SUCCESS &&
        keys != 0)
        cards = (Card*)LocalAlloc(LPTR, keys * sizeof(Card));
    for (DWORD i = 0; cards != NULL && *count < keys; i++) {
        Card* card = &cards[*count];
        DWORD length = MAX_KEY_NAME_CHARS + 1;
        if (RegEnumKeyExW(stores, i, card->key, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY values;
        if (RegOpenKeyExW(stores, card->key, 0, KEY_QUERY_VALUE, &values) == ERROR_SUCCESS) {
            ReadTextField(values, L"DeviceName", card->deviceName, DEVICENAMESIZE);
            RegCloseKey(values);
        }
        (*count)++;
    }
    RegCloseKey(stores);
    return cards;
}

static BOOL IsAmong(const Card* card, const Card* cards, DWORD count)
{
    for (DWORD i = 0; i < count; i++) {
        if (lstrcmpW(card->key, cards[i].key) == 0 && lstrcmpW(card->deviceName, cards[i].deviceName) == 0)
            return TRUE;
    }
    return FALSE;
}

static void SetCards(Card* cards, DWORD count)
{
    AcquireSRWLockExclusive(&g_lock);
    Card* before = g_cards;
    g_cards = cards;
    g_cardCount = count;
    ReleaseSRWLockExclusive(&g_lock);
    if (before != NULL)
        LocalFree(before);
}

// A store whose key or device name changed is a card taken out and
// another put in.
static void AnnounceCards(void)
{
    DWORD count;
    Card* now = ReadCards(&count);
    for (DWORD i = 0; i < g_cardCount; i++) {
        const Card* gone = &g_cards[i];
        if (IsAmong(gone, now, count))
            continue;
        BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, gone->deviceName);
        Announce(&BLOCK_DRIVER_GUID, FALSE, gone->deviceName);
        StoresCardWent(gone);
    }
    for (DWORD i = 0; i < count; i++) {
        const Card* come = &now[i];
        if (IsAmong(come, g_cards, g_cardCount))
            continue;
        BroadcastDeviceChange(DBT_DEVICEARRIVAL, come->deviceName);
        Announce(&BLOCK_DRIVER_GUID, TRUE, come->deviceName);
        StoresCardCame(come);
    }
    SetCards(now, count);
}

// The device's faults a test asks for, each taken once and set back to 0:
// SpuriousWakes, readers woken with nothing to read (one wake each time the
// device is still); BreakQueues, the device manager lets go of every queue
// it writes to.
static void PlayQueueFaults(HKEY device)
{
    DWORD wakes = ReadDword(device, L"SpuriousWakes");
    if (wakes != 0) {
        QueuesWakeEmpty();
        wakes--;
        RegSetValueExW(device, L"SpuriousWakes", 0, REG_DWORD, (const BYTE*)&wakes, sizeof(wakes));
    }
    if (ReadDword(device, L"BreakQueues") != 0) {
        AcquireSRWLockExclusive(&g_lock);
        for (int i = 0; i < MAX_REQUESTS; i++) {
            if (g_requests[i].handle != NULL && g_requests[i].writing) {
                g_requests[i].writing = FALSE;
                QueueDropWriter(g_requests[i].queue);
            }
        }
        ReleaseSRWLockExclusive(&g_lock);
        DWORD none = 0;
        RegSetValueExW(device, L"BreakQueues", 0, REG_DWORD, (const BYTE*)&none, sizeof(none));
    }
}

typedef struct Watch {
    HANDLE ready;
    HANDLE starter; // the thread that started the watch
    HMODULE self;   // coredll.dll, held while the watch runs
    BOOL watching;  // whether it could watch the device at all
} Watch;

// Runs until the thread that started it ends (a thread of the emulator's
// must not keep the program's process alive) or the device is taken away
// (a device imported anew is a new device). It watches the whole emulated
// device, so that a Stores key made after it started is seen too.
static DWORD WINAPI WatchDevice(LPVOID parameter)
{
    Watch* watch = (Watch*)parameter;
    HANDLE starter = watch->starter;
    HMODULE self = watch->self;
    HKEY device = NULL;
    HANDLE changed = CreateEventW(NULL, FALSE, FALSE, NULL);
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    BOOL watching = changed != NULL &&
                    RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_KEY, 0, KEY_NOTIFY | KEY_READ | KEY_SET_VALUE,
                                  &device) == ERROR_SUCCESS &&
                    RegNotifyChangeKeyValue(device, TRUE, filter, changed, TRUE) == ERROR_SUCCESS;
    // The cards in as the watch begins are mounted; later changes are told against them.
    DWORD count;
    Card* cards = ReadCards(&count);
    SetCards(cards, count);
    StoresStart(cards, count);
    SetBroadcasting(TRUE);
    watch->watching = watching;
    SetEvent(watch->ready);
    HANDLE waits[2] = {changed, starter};
    BOOL pending = FALSE;
    DWORD firstChange = 0, lastChange = 0;
    while (watching) {
        DWORD wait = StoresDoWhatIsDue();
        if (pending) {
            DWORD now = GetTickCount();
            if (now - lastChange >= SETTLE_MS || now - firstChange >= SETTLE_AT_MOST_MS) {
                // A device deleted bit by bit may give no word as its own key goes.
                watching = RegQueryInfoKeyW(device, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                            NULL) == ERROR_SUCCESS;
                if (!watching)
                    break;
                pending = FALSE;
                AnnounceCards();
                PlayQueueFaults(device);
                continue;
            }
            if (wait > SETTLE_MS)
                wait = SETTLE_MS;
        }
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, wait);
        if (woke == WAIT_OBJECT_0) {
            watching = RegNotifyChangeKeyValue(device, TRUE, filter, changed, TRUE) == ERROR_SUCCESS;
            lastChange = GetTickCount();
            if (!pending)
                firstChange = lastChange;
            pending = TRUE;
        } else if (woke != WAIT_TIMEOUT) {
            break;
        }
    }
    SetBroadcasting(FALSE);
    StoresStop();
    SetCards(NULL, 0);
    if (device != NULL)
        RegCloseKey(device);
    if (changed != NULL)
        CloseHandle(changed);
    CloseHandle(starter);
    FreeLibraryAndExitThread(self, 0);
    return 0;
}

// Starts the watcher where none runs, and returns once it watches: nothing
// changed after the call goes unannounced. One that has ended is let go
// and another started. coredll.dll stays loaded while it runs.
BOOL StartDeviceManager(void)
{
    AcquireSRWLockExclusive(&g_startLock);
    if (g_watcher != NULL && WaitForSingleObject(g_watcher, 0) == WAIT_OBJECT_0) {
        CloseHandle(g_watcher);
        g_watcher = NULL;
    }
    BOOL watching = g_watcher != NULL;
    Watch watch = {NULL, NULL, NULL, FALSE};
    if (!watching && (watch.ready = CreateEventW(NULL, TRUE, FALSE, NULL)) != NULL &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void*)StartDeviceManager,
                           &watch.self)) {
        if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &watch.starter,
                            SYNCHRONIZE, FALSE, 0))
            g_watcher = CreateThread(NULL, 0, WatchDevice, &watch, 0, NULL);
        if (g_watcher == NULL) {
            if (watch.starter != NULL)
                CloseHandle(watch.starter);
            FreeLibrary(watch.self);
        }
        // A device without its key, or whose key cannot be watched, has no device manager.
        watching = g_watcher != NULL && WaitForSingleObject(watch.ready, INFINITE) == WAIT_OBJECT_0 &&
                   watch.watching;
        if (g_watcher != NULL && !watching)
            SetLastError(ERROR_NOT_SUPPORTED);
    }
    if (watch.ready != NULL)
        CloseHandle(watch.ready);
    ReleaseSRWLockExclusive(&g_startLock);
    return watching;
}

static void DeliverMounted(const WCHAR* deviceName, void* queue)
{
    Deliver((HANDLE)queue, &STORE_MOUNT_GUID, TRUE, deviceName);
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
    if (!StartDeviceManager()) {
        CloseHandle(handle);
        return NULL;
    }
    BOOL known = QueueAddWriter(queue);
    AcquireSRWLockExclusive(&g_lock);
    Request* request = known ? FindRequest(NULL) : NULL;
    if (request != NULL) {
        request->handle = handle;
        request->interfaceClass = *interfaceClass;
        request->queue = queue;
        request->writing = TRUE;
        // The interfaces already advertised: the cards' block devices and the stores mounted.
        if (all && memcmp(interfaceClass, &BLOCK_DRIVER_GUID, sizeof(GUID)) == 0) {
            for (DWORD i = 0; i < g_cardCount; i++)
                Deliver(queue, interfaceClass, TRUE, g_cards[i].deviceName);
        }
        if (all && memcmp(interfaceClass, &STORE_MOUNT_GUID, sizeof(GUID)) == 0)
            StoresForEachMounted(DeliverMounted, queue);
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (request == NULL) {
        if (known)
            QueueDropWriter(queue);
        CloseHandle(handle);
        SetLastError(known ? ERROR_OUTOFMEMORY : ERROR_INVALID_HANDLE);
        return NULL;
    }
    return handle;
}

BOOL WINAPI StopDeviceNotifications(HANDLE handle)
{
    AcquireSRWLockExclusive(&g_lock);
    Request* request = handle != NULL ? FindRequest(handle) : NULL;
    Request stopped = {};
    if (request != NULL) {
        stopped = *request;
        memset(request, 0, sizeof(*request));
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (request == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (stopped.writing)
        QueueDropWriter(stopped.queue);
    return CloseHandle(handle);
}
