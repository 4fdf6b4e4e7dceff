// The CE services the desktop lacks, played from a device described in the
// registry (see README, "The emulated device").
#ifndef PALVENOR_EMULATED_DEVICE_H
#define PALVENOR_EMULATED_DEVICE_H

#include <windows.h>

// Under HKEY_LOCAL_MACHINE.
#define EMULATOR_STORES_KEY L"Software\\Palvenor\\Emulator\\Stores"
#define EMULATOR_BUS_KEY L"Software\\Palvenor\\Emulator\\FunctionBus"

// The bus driver is opened and driven through the device handle calls: these
// answer for the emulated bus and pass every other handle to the system.
HANDLE WINAPI EmulatedCreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI EmulatedDeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputBytes, LPVOID output,
                                    DWORD outputBytes, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
BOOL WINAPI EmulatedCloseHandle(HANDLE handle);

#endif
