// Where the emulated device lives in the registry (see docs/emulated-device.md),
// under HKEY_LOCAL_MACHINE, and how coredll.dll reads it.
#ifndef PALVENOR_EMULATED_DEVICE_H
#define PALVENOR_EMULATED_DEVICE_H

#include <windows.h>

#include "../ce_services.h"

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

// CE's storage manager keeps a store taken out for this long (ms) before
// it lets it go, so that a card put back in time is the same store.
#define STORAGE_MANAGER_KEY L"System\\StorageManager"
#define DEFAULT_PNP_UNLOAD_DELAY_MS 5000

// A card in the device: its key under Stores and its store's device name.
#define MAX_KEY_NAME_CHARS 255
typedef struct Card {
    WCHAR key[MAX_KEY_NAME_CHARS + 1];
    WCHAR deviceName[DEVICENAMESIZE + 1];
} Card;

// The kernel's message queues (message_queue.cpp), as the device manager
// writes to them.
BOOL QueueAddWriter(HANDLE queue);
void QueueDropWriter(HANDLE queue);
void QueueWrite(HANDLE queue, const void* data, DWORD bytes);
void QueuesWakeEmpty(void);

// The device manager (device_notifications.cpp): started by the first
// store search or request, it watches the device for cards put in and
// taken out. FALSE when it cannot run.
BOOL StartDeviceManager(void);
void AdvertiseStore(BOOL attached, const WCHAR* deviceName);
// WM_DEVICECHANGE, posted to every top-level window of the process.
void BroadcastDeviceChange(WPARAM event, const WCHAR* deviceName);

// The storage manager's mounts (storage_manager.cpp), told by the device
// manager what its cards do. StoresStart takes the cards there as mounted;
// StoresDoWhatIsDue mounts and lets go of what is due, and says in how many
// ms the next is due (INFINITE: none).
void StoresStart(const Card* cards, DWORD count);
void StoresStop(void);
void StoresCardCame(const Card* card);
void StoresCardWent(const Card* card);
DWORD StoresDoWhatIsDue(void);
void StoresForEachMounted(void (*visit)(const WCHAR* deviceName, void* context), void* context);

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
