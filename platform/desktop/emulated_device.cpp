// Reading the emulated device: values of the registry keys that describe it.
#include <windows.h>
#include <string.h>

#include "emulated_device.h"

DWORD ReadValue(HKEY key, LPCWSTR name, DWORD type, void* data, DWORD capacity)
{
    DWORD stored, size = 0;
    if (RegQueryValueExW(key, name, NULL, &stored, NULL, &size) != ERROR_SUCCESS || stored != type || size == 0)
        return 0;
    BYTE* value = (BYTE*)LocalAlloc(LPTR, size);
    if (value == NULL)
        return 0;
    DWORD delivered = 0;
    if (RegQueryValueExW(key, name, NULL, &stored, value, &size) == ERROR_SUCCESS && stored == type) {
        delivered = size < capacity ? size : capacity;
        memcpy(data, value, delivered);
    }
    LocalFree(value);
    return delivered;
}

void ReadTextField(HKEY key, LPCWSTR name, WCHAR* field, DWORD fieldChars)
{
    WCHAR text[MAX_PATH + 1];
    DWORD size = ReadValue(key, name, REG_SZ, text, sizeof(text) - sizeof(WCHAR));
    text[size / sizeof(WCHAR)] = 0;
    for (DWORD i = 0; i < fieldChars && text[i] != 0; i++)
        field[i] = text[i];
}

DWORD ReadDword(HKEY key, LPCWSTR name)
{
    DWORD value = 0;
    if (ReadValue(key, name, REG_DWORD, &value, sizeof(value)) != sizeof(value))
        return 0;
    return value;
}
