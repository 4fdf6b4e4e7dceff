#ifndef PALVENOR_REGISTRY_SETTINGS_H
#define PALVENOR_REGISTRY_SETTINGS_H

#include "platform.h"

// Under HKEY_LOCAL_MACHINE. Every subkey of FUNCTION_DRIVERS_KEY is a client driver.
#define FUNCTION_DRIVERS_KEY TEXT("Drivers\\USB\\FunctionDrivers")
#define MASS_STORAGE_KEY TEXT("Drivers\\USB\\FunctionDrivers\\Mass_Storage_Class")
#define DEFAULT_CLIENT_DRIVER_VALUE TEXT("DefaultClientDriver")
#define DEVICE_NAME_VALUE TEXT("DeviceName")

// The largest value a reader accepts, in units; a reader's buffer holds one
// more unit so that the text read is always terminated.
#define REGISTRY_TEXT_CHARS 261

// Reads (write zero) or writes (write nonzero) the REG_SZ value valueName of
// HKEY_LOCAL_MACHINE\subkey. Write: *byteCount bytes of buffer are stored.
// Read: *byteCount is the capacity in bytes on entry, the bytes delivered on
// return. Nonzero only when the call succeeded and the value is a REG_SZ.
BOOL AccessRegistryString(BOOL write, LPCWSTR subkey, LPCWSTR valueName, WCHAR* buffer, DWORD* byteCount);

// Reads a REG_SZ value as text: the delivered units up to the first zero
// unit, an odd trailing byte ignored, always terminated in text.
BOOL ReadRegistryText(LPCWSTR subkey, LPCWSTR valueName, WCHAR text[REGISTRY_TEXT_CHARS + 1]);

// Stores text, its terminator included, as a REG_SZ value.
BOOL WriteRegistryText(LPCWSTR subkey, LPCWSTR valueName, const WCHAR* text);

#endif
