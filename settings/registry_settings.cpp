#include "registry_settings.h"

BOOL AccessRegistryString(BOOL write, LPCWSTR subkey, LPCWSTR valueName, WCHAR* buffer, DWORD* byteCount)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return FALSE;

    DWORD type = REG_SZ;
    LONG status;
    if (write)
        status = RegSetValueExW(key, valueName, 0, type, (const BYTE*)buffer, *byteCount);
    else
        status = RegQueryValueExW(key, valueName, NULL, &type, (BYTE*)buffer, byteCount);

    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ;
}

BOOL ReadRegistryText(LPCWSTR subkey, LPCWSTR valueName, WCHAR text[REGISTRY_TEXT_CHARS + 1])
{
    const DWORD capacity = REGISTRY_TEXT_CHARS * sizeof(WCHAR);
    DWORD byteCount = capacity;
    if (!AccessRegistryString(FALSE, subkey, valueName, text, &byteCount))
        return FALSE;
    // The registry does not promise a terminator, and the unit holding an
    // odd last byte is incomplete: cut the text after the last whole unit.
    if (byteCount > capacity)
        byteCount = capacity;
    text[byteCount / sizeof(WCHAR)] = 0;
    return TRUE;
}

BOOL WriteRegistryText(LPCWSTR subkey, LPCWSTR valueName, const WCHAR* text)
{
    DWORD byteCount = (DWORD)((wcslen(text) + 1) * sizeof(WCHAR));
    return AccessRegistryString(TRUE, subkey, valueName, (WCHAR*)text, &byteCount);
}
