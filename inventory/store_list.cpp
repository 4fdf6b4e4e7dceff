#include "store_list.h"

// The internal flash's profile: "Tulvane" zero-filled to the whole field.
static const WCHAR INTERNAL_FLASH_PROFILE[PROFILENAMESIZE] = TEXT("Tulvane");

BOOL IsExposableStore(const STOREINFO* store)
{
    if (store->sdi.dwDeviceClass != STORAGE_DEVICE_CLASS_BLOCK)
        return FALSE;
    if (!(store->sdi.dwDeviceFlags & STORAGE_DEVICE_FLAG_READWRITE))
        return FALSE;
    // The whole field counts, units after the terminator included.
    return memcmp(store->sdi.szProfile, INTERNAL_FLASH_PROFILE, sizeof(INTERNAL_FLASH_PROFILE)) != 0;
}

static DWORD CountExposableStores(HANDLE search, STOREINFO* store)
{
    DWORD count = 0;
    do {
        if (IsExposableStore(store))
            count++;
    } while (FindNextStore(search, store) == 1);
    return count;
}

static StoreList* AllocateStoreList(DWORD count)
{
    StoreList* list = (StoreList*)LocalAlloc(LPTR, sizeof(StoreList));
    if (list == NULL)
        return NULL;
    list->count = count;
    list->deviceNames = (WCHAR**)LocalAlloc(LPTR, count * sizeof(WCHAR*));
    if (list->deviceNames != NULL)
        list->storeNames = (WCHAR**)LocalAlloc(LPTR, count * sizeof(WCHAR*));
    if (list->storeNames == NULL) {
        FreeStoreList(list);
        return NULL;
    }
    return list;
}

static WCHAR* CopyName(const WCHAR* field, DWORD fieldChars)
{
    WCHAR* name = (WCHAR*)LocalAlloc(LPTR, (fieldChars + 1) * sizeof(WCHAR));
    if (name != NULL)
        wcsncpy(name, field, fieldChars);
    return name;
}

// Fills the slots in the order the stores are reported; a store that only
// appeared since the count finds no slot and is passed over.
static BOOL FillStoreNames(HANDLE search, STOREINFO* store, StoreList* list)
{
    DWORD slot = 0;
    do {
        if (IsExposableStore(store) && slot < list->count) {
            list->deviceNames[slot] = CopyName(store->szDeviceName, DEVICENAMESIZE);
            if (list->deviceNames[slot] == NULL)
                return FALSE;
            list->storeNames[slot] = CopyName(store->szStoreName, STORENAMESIZE);
            if (list->storeNames[slot] == NULL)
                return FALSE;
            slot++;
        }
    } while (FindNextStore(search, store) == 1);
    return TRUE;
}

StoreList* BuildStoreList(void)
{
    STOREINFO store;
    memset(&store, 0, sizeof(store));
    store.cbSize = sizeof(store);

    HANDLE search = FindFirstStore(&store);
    if (search == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_DRIVE);
        return NULL;
    }
    DWORD count = CountExposableStores(search, &store);
    StoreList* list = count != 0 ? AllocateStoreList(count) : NULL;
    FindCloseStore(search);
    if (count == 0) {
        SetLastError(ERROR_INVALID_DRIVE);
        return NULL;
    }
    if (list == NULL)
        return NULL;

    BOOL filled = FALSE;
    search = FindFirstStore(&store);
    if (search == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_DRIVE);
    } else {
        filled = FillStoreNames(search, &store, list);
        FindCloseStore(search);
    }
    if (!filled) {
        FreeStoreList(list);
        return NULL;
    }
    return list;
}

void FreeStoreList(StoreList* list)
{
    if (list == NULL)
        return;
    for (DWORD i = 0; i < list->count; i++) {
        if (list->deviceNames != NULL && list->deviceNames[i] != NULL)
            LocalFree(list->deviceNames[i]);
        if (list->storeNames != NULL && list->storeNames[i] != NULL)
            LocalFree(list->storeNames[i]);
    }
    if (list->deviceNames != NULL)
        LocalFree(list->deviceNames);
    if (list->storeNames != NULL)
        LocalFree(list->storeNames);
    LocalFree(list);
}

BOOL StoresDifferFrom(const StoreList* shown)
{
    StoreList* now = BuildStoreList();
    if (now == NULL)
        return FALSE;
    BOOL differ = shown == NULL || now->count != shown->count;
    for (DWORD i = 0; !differ && i < now->count; i++) {
        const WCHAR* was = shown->deviceNames[i];
        differ = was == NULL || now->deviceNames[i] == NULL || wcscmp(was, now->deviceNames[i]) != 0;
    }
    FreeStoreList(now);
    return differ;
}
