#include "selection/selection.h"

#include "app/choice_dialog.h"
#include "resources/resource.h"
#include "selection/function_bus.h"
#include "settings/registry_settings.h"

const WCHAR* SelectedName(HWND dialog, int listId, WCHAR* const* names, DWORD count)
{
    LRESULT index = SendMessageW(GetDlgItem(dialog, listId), LB_GETCURSEL, 0, 0);
    if (index < 0 || (ULONG_PTR)index >= count)
        return NULL;
    return names[index];
}

BOOL ApplySelection(HWND dialog)
{
    const WCHAR* deviceName = NULL;
    if (g_pStoreList != NULL)
        deviceName = SelectedName(dialog, IDC_STORAGE_LIST, g_pStoreList->deviceNames, g_pStoreList->count);
    if (deviceName == NULL) {
        ShowErrorBox(IDS_NO_STORE_SELECTED);
        return FALSE;
    }
    const WCHAR* driverName = NULL;
    if (g_pFunctionList != NULL)
        driverName = SelectedName(dialog, IDC_FUNCTION_LIST, g_pFunctionList->names, g_pFunctionList->count);
    if (driverName == NULL) {
        ShowErrorBox(IDS_NO_FUNCTION_SELECTED);
        return FALSE;
    }

    if (!WriteRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, deviceName)) {
        ShowErrorBox(IDS_STORE_NOT_WRITTEN);
        return FALSE;
    }
    if (!WriteRegistryText(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, driverName)) {
        ShowErrorBox(IDS_FUNCTION_NOT_WRITTEN);
        return FALSE;
    }
    // The bus driver reads both values when it switches: make them durable first.
    RegFlushKey(HKEY_LOCAL_MACHINE);
    RegFlushKey(HKEY_CURRENT_USER);
    RegFlushKey(HKEY_USERS);
    Sleep(100);

    // driverName is a whole slot of g_pFunctionList, which the dialog keeps
    // alive across the remove-cable warning.
    if (!ChangeCurrentFunction(driverName)) {
        ShowErrorBox(IDS_NOT_CHANGED);
        return FALSE;
    }
    return TRUE;
}
