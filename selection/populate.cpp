#include "selection/selection.h"

#include "app/choice_dialog.h"
#include "resources/resource.h"
#include "settings/registry_settings.h"

void ShowErrorBox(LPCWSTR text)
{
    MessageBoxW(NULL, text, TEXT("Palvenor Error"), MB_TOPMOST);
}

// One entry per slot, appended, so that list-box index and slot index agree.
static void FillListBox(HWND box, WCHAR* const* names, DWORD count)
{
    for (DWORD i = 0; i < count; i++) {
        LPCWSTR text = names[i] != NULL ? names[i] : EMPTY_SLOT_TEXT;
        SendMessageW(box, LB_INSERTSTRING, (WPARAM)-1, (LPARAM)text);
    }
}

static void SelectCurrentStore(HWND box, const StoreList* stores)
{
    WCHAR deviceName[REGISTRY_TEXT_CHARS + 1];
    if (!ReadRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, deviceName))
        return;
    // Device names are compared exactly: they name one store.
    for (DWORD i = 0; i < stores->count; i++) {
        if (stores->deviceNames[i] != NULL && wcscmp(stores->deviceNames[i], deviceName) == 0) {
            SendMessageW(box, LB_SETCURSEL, i, 0);
            return;
        }
    }
}

static void SelectCurrentFunction(HWND box, const FunctionList* functions)
{
    WCHAR driverName[REGISTRY_TEXT_CHARS + 1];
    if (!ReadRegistryText(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, driverName))
        return;
    // Client drivers are registry key names, which ignore letter case.
    for (DWORD i = 0; i < functions->count; i++) {
        if (functions->names[i] != NULL && _wcsicmp(functions->names[i], driverName) == 0) {
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
    SelectCurrentStore(storeBox, g_pStoreList);
    SelectCurrentFunction(functionBox, g_pFunctionList);
    return TRUE;
}
