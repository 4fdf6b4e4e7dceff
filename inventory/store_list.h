#ifndef PALVENOR_STORE_LIST_H
#define PALVENOR_STORE_LIST_H

#include "platform.h"

// The stores mass storage may expose, in the storage manager's order. Slot i
// of both arrays is one store, each name in a block one unit longer than the
// platform's field, so always terminated; a slot the second walk did not reach is null
// in both (an empty slot).
typedef struct StoreList {
    DWORD count;
    WCHAR** deviceNames;
    WCHAR** storeNames;
} StoreList;

BOOL IsExposableStore(const STOREINFO* store);
// Null on failure; the last-error code is ERROR_INVALID_DRIVE when no
// store could be searched or none is exposable.
StoreList* BuildStoreList(void);
void FreeStoreList(StoreList* list);
// Whether the exposable stores now differ, by device name, from those shown
// (null: none). A search that fails tells nothing: FALSE.
BOOL StoresDifferFrom(const StoreList* shown);

#endif
