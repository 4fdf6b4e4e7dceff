// Where the emulated device lives in the registry (see docs/emulated-device.md),
// under HKEY_LOCAL_MACHINE, and how coredll.dll reads it.
#ifndef PALVENOR_EMULATED_DEVICE_H
#define PALVENOR_EMULATED_DEVICE_H

#include <windows.h>

#define EMULATOR_KEY L"Software\\Palvenor\\Emulator"
#define EMULATOR_STORES_KEY L"Software\\Palvenor\\Emulator\\Stores"
#define EMULATOR_BUS_KEY L"Software\\Palvenor\\Emulator\\FunctionBus"
// Its DWORD TaskbarHeight: the taskbar along the bottom of the screen,
// whatever way the screen is turned; the work area is the screen less it.
// Its subkey InputPanel: present where the image has the input panel, with
// DWORD Flags (SIPF_*), DWORD Height (the panel's when docked: the input
// panel docks it along the work area's bottom) and the floating panel's
// window, FloatingRect (REG_BINARY: left, top, right, bottom).
#define EMULATOR_INPUT_PANEL_KEY L"Software\\Palvenor\\Emulator\\InputPanel"
// What the device read as it last booted: CE reads the MUI settings
// (HKLM\MUI Enable and SysLang, HKCU\MUI CurLang) at boot, and a change
// takes effect at the next soft reset. EmulatorSoftReset takes them anew;
// a device imported and never reset has MUI off.
#define EMULATOR_BOOT_KEY L"Software\\Palvenor\\Emulator\\Boot"

// A value of the emulated device, at most capacity bytes of it; 0 when it
// is absent or of another type.
DWORD ReadValue(HKEY key, LPCWSTR name, DWORD type, void* data, DWORD capacity);
// Text up to its terminator, cut to the field; a text that fills the field
// leaves it unterminated, as the platform's fixed fields allow.
void ReadTextField(HKEY key, LPCWSTR name, WCHAR* field, DWORD fieldChars);
// 0 when absent or of another type.
DWORD ReadDword(HKEY key, LPCWSTR name);
// The work area as CE's window manager has it.
BOOL EmulatedWorkArea(RECT* area);

#endif
