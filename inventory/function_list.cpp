#include "function_list.h"

#include "settings/registry_settings.h"

static FunctionList* AllocateFunctionList(DWORD count)
{
    FunctionList* list = (FunctionList*)LocalAlloc(LPTR, sizeof(FunctionList));
    if (list == NULL)
        return NULL;
    list->count = count;
    list->names = (WCHAR**)LocalAlloc(LPTR, count * sizeof(WCHAR*));
    if (list->names == NULL) {
        FreeFunctionList(list);
        return NULL;
    }
    return list;
}

static BOOL FillFunctionNames(HKEY drivers, FunctionList* list)
{
    for (DWORD i = 0; i < list->count; i++) {
        WCHAR name[CLIENT_NAME_CHARS];
        DWORD length = CLIENT_NAME_CHARS;
        if (RegEnumKeyExW(drivers, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            continue;
        // A name that filled the buffer has no terminator in it.
        if (length >= CLIENT_NAME_CHARS)
            return FALSE;
        list->names[i] = (WCHAR*)LocalAlloc(LPTR, CLIENT_NAME_CHARS * sizeof(WCHAR));
        if (list->names[i] == NULL)
            return FALSE;
        wcsncpy(list->names[i], name, length);
    }
    return TRUE;
}

FunctionList* BuildFunctionList(void)
{
    HKEY drivers;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, 0, ENUMERATE_ONLY_ACCESS, &drivers) != ERROR_SUCCESS)
        return NULL;

    FunctionList* list = NULL;
    DWORD count = 0;
    if (RegQueryInfoKeyW(drivers, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL, NULL, NULL, NULL) ==
            ERROR_SUCCESS &&
        count != 0)
        list = AllocateFunctionList(count);
    if (list != NULL && !FillFunctionNames(drivers, list)) {
        FreeFunctionList(list);
        list = NULL;
    }
    RegCloseKey(drivers);
    return list;
}

void FreeFunctionList(FunctionList* list)
{
    if (list == NULL)
        return;
    for (DWORD i = 0; list->names != NULL && i < list->count; i++) {
        if (list->names[i] != NULL)
            LocalFree(list->names[i]);
    }
    if (list->names != NULL)
        LocalFree(list->names);
    LocalFree(list);
}
