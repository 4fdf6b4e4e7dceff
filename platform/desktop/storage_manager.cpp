// CE's storage manager, played from the emulated device's Stores key: a
// search walks its subkeys in order, one STOREINFO each, of the stores
// mounted. The desktop has no storage manager at all; this one is as strict
// as CE's about cbSize and handles, and times its mounts as CE's does: a
// card's store is mounted MountDelay ms after its block device came (the
// disk opened, its volumes mounted), and one taken out is hidden at once
// but let go only PNPUnloadDelay ms later; put back before then, it is
// swapped back in, with no announcement either way.
#include <windows.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

typedef enum StoreState {
    STORE_MOUNTING, // announced once mounted
    STORE_SWAPPING, // put back in time: mounted again, unannounced
    STORE_MOUNTED,
    STORE_DETACHED // hidden; let go, and announced, when due
} StoreState;

typedef struct Store {
    struct Store* next;
    Card card;
    StoreState state;
    DWORD due;
} Store;

// While the device manager runs, what it was told; otherwise every store
// in the Stores key is listed.
static SRWLOCK g_lock = SRWLOCK_INIT;
static Store* g_stores;
static BOOL g_tracking;

static DWORD ReadDelay(LPCWSTR keyName, LPCWSTR valueName, DWORD absent)
{
    HKEY key;
    DWORD delay = absent;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        ReadValue(key, valueName, REG_DWORD, &delay, sizeof(delay));
        RegCloseKey(key);
    }
    return delay;
}

static BOOL SameCard(const Card* one, const Card* other)
{
    return lstrcmpW(one->key, other->key) == 0 && lstrcmpW(one->deviceName, other->deviceName) == 0;
}

static Store* FindStore(const Card* card)
{
    for (Store* store = g_stores; store != NULL; store = store->next) {
        if (SameCard(&store->card, card))
            return store;
    }
    return NULL;
}

static void FreeStores(void)
{
    while (g_stores != NULL) {
        Store* store = g_stores;
        g_stores = store->next;
        LocalFree(store);
    }
}

// Added last, so that of two due at once the first to come goes first.
static void AddStore(const Card* card, StoreState state, DWORD due)
{
    Store* store = (Store*)LocalAlloc(LPTR, sizeof(Store));
    if (store == NULL)
        return;
    store->card = *card;
    store->state = state;
    store->due = due;
    Store** last = &g_stores;
    while (*last != NULL)
        last = &(*last)->next;
    *last = store;
}

void StoresStart(const Card* cards, DWORD count)
{
    AcquireSRWLockExclusive(&g_lock);
    FreeStores();
    for (DWORD i = 0; i < count; i++)
        AddStore(&cards[i], STORE_MOUNTED, 0);
    g_tracking = TRUE;
    ReleaseSRWLockExclusive(&g_lock);
}

void StoresStop(void)
{
    AcquireSRWLockExclusive(&g_lock);
    FreeStores();
    g_tracking = FALSE;
    ReleaseSRWLockExclusive(&g_lock);
}

void StoresCardCame(const Card* card)
{
    DWORD due = GetTickCount() + ReadDelay(EMULATOR_KEY, L"MountDelay", 0);
    AcquireSRWLockExclusive(&g_lock);
    Store* store = FindStore(card);
    if (store != NULL && store->state == STORE_DETACHED) {
        store->state = STORE_SWAPPING;
        store->due = due;
    } else if (store == NULL) {
        AddStore(card, STORE_MOUNTING, due);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

// A store not yet mounted is dropped unannounced; one mounted, or coming
// back, is hidden until it is let go.
void StoresCardWent(const Card* card)
{
    DWORD due = GetTickCount() + ReadDelay(STORAGE_MANAGER_KEY, L"PNPUnloadDelay", DEFAULT_PNP_UNLOAD_DELAY_MS);
    AcquireSRWLockExclusive(&g_lock);
    Store** link = &g_stores;
    while (*link != NULL && !SameCard(&(*link)->card, card))
        link = &(*link)->next;
    Store* store = *link;
    if (store != NULL && store->state == STORE_MOUNTING) {
        *link = store->next;
        LocalFree(store);
    } else if (store != NULL && store->state != STORE_DETACHED) {
        store->state = STORE_DETACHED;
        store->due = due;
    }
    ReleaseSRWLockExclusive(&g_lock);
}

// The change due first, done when it is due; FALSE when none is. What it
// announces is told outside the lock.
static BOOL DoFirstDue(DWORD now, DWORD* next)
{
    Store** first = NULL;
    for (Store** link = &g_stores; *link != NULL; link = &(*link)->next) {
        if ((*link)->state != STORE_MOUNTED && (first == NULL || (LONG)((*link)->due - (*first)->due) < 0))
            first = link;
    }
    if (first == NULL)
        return FALSE;
    Store* store = *first;
    LONG left = (LONG)(store->due - now);
    if (left > 0) {
        *next = (DWORD)left;
        return FALSE;
    }
    Card card = store->card;
    BOOL announce = store->state != STORE_SWAPPING;
    BOOL attached = store->state != STORE_DETACHED;
    if (attached) {
        store->state = STORE_MOUNTED;
    } else {
        *first = store->next;
        LocalFree(store);
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (announce)
        AdvertiseStore(attached, card.deviceName);
    AcquireSRWLockExclusive(&g_lock);
    return TRUE;
}

DWORD StoresDoWhatIsDue(void)
{
    DWORD next;
    AcquireSRWLockExclusive(&g_lock);
    do
        next = INFINITE;
    while (DoFirstDue(GetTickCount(), &next));
    ReleaseSRWLockExclusive(&g_lock);
    return next;
}

void StoresForEachMounted(void (*visit)(const WCHAR* deviceName, void* context), void* context)
{
    AcquireSRWLockShared(&g_lock);
    for (Store* store = g_stores; store != NULL; store = store->next) {
        if (store->state == STORE_MOUNTED)
            visit(store->card.deviceName, context);
    }
    ReleaseSRWLockShared(&g_lock);
}

static BOOL IsListed(const Card* card)
{
    AcquireSRWLockShared(&g_lock);
    Store* store = FindStore(card);
    BOOL listed = !g_tracking || (store != NULL && store->state == STORE_MOUNTED);
    ReleaseSRWLockShared(&g_lock);
    return listed;
}

// Store `index` of the Stores key into info; FALSE when there is none.
static BOOL ReadStore(HKEY stores, DWORD index, STOREINFO* info, Card* card)
{
    memset(card, 0, sizeof(*card));
    DWORD length = MAX_KEY_NAME_CHARS + 1;
    if (RegEnumKeyExW(stores, index, card->key, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
        return FALSE;
    HKEY store;
    if (RegOpenKeyExW(stores, card->key, 0, KEY_QUERY_VALUE, &store) != ERROR_SUCCESS)
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
    memcpy(card->deviceName, info->szDeviceName, sizeof(info->szDeviceName));
    return TRUE;
}

// The next store mounted, from *index on, into info.
static BOOL ReadNextListed(HKEY stores, DWORD* index, STOREINFO* info)
{
    Card card;
    while (ReadStore(stores, *index, info, &card)) {
        (*index)++;
        if (IsListed(&card))
            return TRUE;
    }
    return FALSE;
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
    StartDeviceManager();
    HKEY stores;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_STORES_KEY, 0, KEY_READ, &stores) != ERROR_SUCCESS) {
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    StoreSearch* search = NULL;
    DWORD next = 0;
    if (ReadNextListed(stores, &next, info))
        search = (StoreSearch*)LocalAlloc(LPTR, sizeof(StoreSearch));
    if (search == NULL) {
        RegCloseKey(stores);
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    search->marker = STORE_SEARCH_MARKER;
    search->stores = stores;
    search->next = next;
    return (HANDLE)search;
}

BOOL WINAPI FindNextStore(HANDLE handle, STOREINFO* info)
{
    StoreSearch* search = OpenSearch(handle);
    if (search == NULL || info == NULL || info->cbSize != sizeof(STOREINFO)) {
        SetLastError(search == NULL ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ReadNextListed(search->stores, &search->next, info)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
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
