#include "selection/selection.h"

#include "app/choice_dialog.h"
#include "app/load_text.h"
#include "resources/resource.h"
#include "settings/registry_settings.h"

void ShowErrorBox(UINT textId)
{
    ShowTextBox(g_hInstance, NULL, textId, IDS_ERROR_CAPTION);
}

// One entry per slot, appended, so that list-box index and slot index agree.
// An entry the box could not take (too little memory) would put every later
// one at the index of another slot, and OK would apply a name other than
// the one shown: the box is emptied instead. The box repaints once, not for
// each of what may be a thousand entries.
static BOOL FillListBox(HWND box, WCHAR* const* names, DWORD count)
{
    BOOL filled = TRUE;
    WCHAR emptySlot[SLOT_TEXT_CHARS];
    LoadText(g_hInstance, IDS_UNAVAILABLE, emptySlot, SLOT_TEXT_CHARS);
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    for (DWORD i = 0; i < count && filled; i++) {
        LPCWSTR text = names[i] != NULL ? names[i] : emptySlot;
        filled = SendMessageW(box, LB_INSERTSTRING, (WPARAM)-1, (LPARAM)text) >= 0;
    }
    if (!filled)
        SendMessageW(box, LB_RESETCONTENT, 0, 0);
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(box, NULL, TRUE);
    return filled;
}

typedef int (*CompareNames)(const WCHAR*, const WCHAR*);

// Selects the first slot of this name, by index; FALSE when none has it.
static BOOL SelectName(HWND box, const WCHAR* name, WCHAR* const* names, DWORD count, CompareNames compare)
{
    for (DWORD i = 0; i < count; i++) {
        if (names[i] != NULL && compare(names[i], name) == 0) {
            SendMessageW(box, LB_SETCURSEL, i, 0);
            return TRUE;
        }
    }
    return FALSE;
}

// The slot named choice; where choice is empty or names none, the slot the
// registry value names.
static void SelectEntry(HWND box, const WCHAR* choice, LPCWSTR subkey, LPCWSTR valueName, WCHAR* const* names,
                        DWORD count, CompareNames compare)
{
    if (choice[0] != 0 && SelectName(box, choice, names, count, compare))
        return;
    WCHAR value[REGISTRY_TEXT_CHARS + 1];
    if (ReadRegistryText(subkey, valueName, value))
        SelectName(box, value, names, count, compare);
}

// The lists rebuilt, with the entries named by the two choices selected, or
// where a choice is empty or no longer listed, those the registry names.
static BOOL RebuildLists(HWND dialog, const WCHAR* storeChoice, const WCHAR* functionChoice)
{
    HWND storeBox = GetDlgItem(dialog, IDC_STORAGE_LIST);
    HWND functionBox = GetDlgItem(dialog, IDC_FUNCTION_LIST);

    if (g_pStoreList != NULL) {
        FreeStoreList(g_pStoreList);
        SendMessageW(storeBox, LB_RESETCONTENT, 0, 0);
    }
    g_pStoreList = BuildStoreList();
    if (g_pStoreList == NULL) {
        ShowErrorBox(IDS_NO_STORES);
        return FALSE;
    }

    if (g_pFunctionList != NULL) {
        FreeFunctionList(g_pFunctionList);
        SendMessageW(functionBox, LB_RESETCONTENT, 0, 0);
    }
    g_pFunctionList = BuildFunctionList();
    if (g_pFunctionList == NULL) {
        ShowErrorBox(IDS_NO_FUNCTIONS);
        return FALSE;
    }

    if (!FillListBox(storeBox, g_pStoreList->storeNames, g_pStoreList->count)) {
        ShowErrorBox(IDS_STORES_NOT_LISTED);
        return FALSE;
    }
    if (!FillListBox(functionBox, g_pFunctionList->names, g_pFunctionList->count)) {
        ShowErrorBox(IDS_FUNCTIONS_NOT_LISTED);
        return FALSE;
    }
    // A device name names one store exactly; client drivers are registry key
    // names, which ignore letter case.
    SelectEntry(storeBox, storeChoice, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, g_pStoreList->deviceNames,
                g_pStoreList->count, wcscmp);
    SelectEntry(functionBox, functionChoice, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE,
                g_pFunctionList->names, g_pFunctionList->count, _wcsicmp);
    return TRUE;
}

// A store the person chose that went (a card re-seated, the device
// resumed) is chosen again when it comes back, unless the person has chosen
// another meanwhile: its device name, and the one selected in its place.
static WCHAR g_awaitedStore[DEVICENAMESIZE + 1];
static WCHAR g_inItsPlace[DEVICENAMESIZE + 1];

BOOL PopulateLists(HWND dialog)
{
    g_awaitedStore[0] = 0;
    return RebuildLists(dialog, TEXT(""), TEXT(""));
}

// The name behind a list's selection, copied, since the rebuild frees the
// list; empty when nothing is selected.
static void CopySelectedName(HWND dialog, int listId, WCHAR* const* names, DWORD count, WCHAR* copy, DWORD chars)
{
    const WCHAR* name = SelectedName(dialog, listId, names, count);
    copy[0] = 0;
    if (name != NULL)
        wcsncpy(copy, name, chars - 1);
    copy[chars - 1] = 0;
}

BOOL FollowDevice(HWND dialog)
{
    WCHAR store[DEVICENAMESIZE + 1];
    WCHAR function[CLIENT_NAME_CHARS];
    store[0] = function[0] = 0;
    if (g_pStoreList != NULL)
        CopySelectedName(dialog, IDC_STORAGE_LIST, g_pStoreList->deviceNames, g_pStoreList->count, store,
                         DEVICENAMESIZE + 1);
    if (g_pFunctionList != NULL)
        CopySelectedName(dialog, IDC_FUNCTION_LIST, g_pFunctionList->names, g_pFunctionList->count, function,
                         CLIENT_NAME_CHARS);
    if (g_awaitedStore[0] != 0 && wcscmp(store, g_inItsPlace) == 0)
        memcpy(store, g_awaitedStore, sizeof(store));
    // Every store gone (a resume) fails the rebuild: the choice is awaited all the same.
    BOOL rebuilt = RebuildLists(dialog, store, function);
    g_inItsPlace[0] = 0;
    if (g_pStoreList != NULL)
        CopySelectedName(dialog, IDC_STORAGE_LIST, g_pStoreList->deviceNames, g_pStoreList->count, g_inItsPlace,
                         DEVICENAMESIZE + 1);
    if (wcscmp(store, g_inItsPlace) != 0)
        memcpy(g_awaitedStore, store, sizeof(store));
    else
        g_awaitedStore[0] = 0;
    return rebuilt;
}
