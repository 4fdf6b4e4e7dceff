// Where the emulated device lives in the registry (see README, "The
// emulated device"), under HKEY_LOCAL_MACHINE.
#ifndef PALVENOR_EMULATED_DEVICE_H
#define PALVENOR_EMULATED_DEVICE_H

#define EMULATOR_STORES_KEY L"Software\\Palvenor\\Emulator\\Stores"
#define EMULATOR_BUS_KEY L"Software\\Palvenor\\Emulator\\FunctionBus"
// Its value WorkArea (REG_BINARY: left, top, right, bottom) is the screen
// less the taskbar and an open input panel, for every program.
#define EMULATOR_KEY L"Software\\Palvenor\\Emulator"

#endif
