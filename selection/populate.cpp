#include "selection/selection.h"

#include "app/choice_dialog.h"
#include "resources/resource.h"
#include "settings/registry_settings.h"

void ShowErrorBox(LPCWSTR text)
{
    MessageBoxW(NULL, text, TEXT("Palvenor Error"), MB_TOPMOST);
}

// One entry per slot, appended, so that list-box index and slot index agree.
// The box repaints once, not for each of what may be a thousand entries.
static void FillListBox(HWND box, WCHAR* const* names, DWORD count)
{
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    for (DWORD i = 0; i < count; i++) {
        LPCWSTR text = names[i] != NULL ? names[i] : EMPTY_SLOT_TEXT;
        SendMessageW(box, LB_INSERTSTRING, (WPARAM)-1, (LPARAM)text);
    }
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(box, NULL, TRUE);
}

// Selects the first slot whose name equals the registry value, by index.
static void SelectNamedEntry(HWND box, LPCWSTR subkey, LPCWSTR valueName, WCHAR* const* names, DWORD count,
                             int (*compare)(const WCHAR*, const WCHAR*))
{
    WCHAR value[REGISTRY_TEXT_CHARS + 1];
    if (!ReadRegistryText(subkey, valueName, value))
        return;
    for (DWORD i = 0; i < count; i++) {
        if (names[i] != NULL && compare(names[i], value) == 0) {
            SendMessageW(box, LB_SETCURSEL, i, 0);
            return;
        }
    }
}

BOOL PopulateLists(HWND dialog)
{
    HWND storeBox = GetDlgItem(dialog, IDC_STORAGE_LIST);
    HWND functionBox = GetDlgItem(dialog, IDC_FUNCTION_LIST);

    if (g_pStoreList != NULL) {
        FreeStoreList(g_pStoreList);
        SendMessageW(storeBox, LB_RESETCONTENT, 0, 0);
    }
    g_pStoreList = BuildStoreList();
    if (g_pStoreList == NULL) {
        ShowErrorBox(TEXT("Error in finding storage types."));
        return FALSE;
    }

    if (g_pFunctionList != NULL) {
        FreeFunctionList(g_pFunctionList);
        SendMessageW(functionBox, LB_RESETCONTENT, 0, 0);
    }
    g_pFunctionList = BuildFunctionList();
    if (g_pFunctionList == NULL) {
        ShowErrorBox(TEXT("Error in finding USB Function Types."));
        return FALSE;
    }

    FillListBox(storeBox, g_pStoreList->storeNames, g_pStoreList->count);
    FillListBox(functionBox, g_pFunctionList->names, g_pFunctionList->count);
    // A device name names one store exactly; client drivers are registry key
    // names, which ignore letter case.
    SelectNamedEntry(storeBox, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, g_pStoreList->deviceNames, g_pStoreList->count,
                     wcscmp);
    SelectNamedEntry(functionBox, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, g_pFunctionList->names,
                     g_pFunctionList->count, _wcsicmp);
    return TRUE;
}
