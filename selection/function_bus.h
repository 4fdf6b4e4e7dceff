#ifndef PALVENOR_FUNCTION_BUS_H
#define PALVENOR_FUNCTION_BUS_H

#include "platform.h"
#include "inventory/function_list.h"

#define FUNCTION_BUS_GUID_TEXT TEXT("E2BDC372-598F-4619-BC50-54B3F7848D35")
#define IOCTL_FUNCTION_BUS_CHANGE_CLIENT CTL_CODE(FILE_DEVICE_UNKNOWN, 4, METHOD_BUFFERED, FILE_ANY_ACCESS)

// The USB function bus driver, found by its interface GUID; or INVALID_HANDLE_VALUE.
HANDLE OpenFunctionBus(void);

// Warns the user to pull the cable, then asks the bus driver to make the
// client driver in nameSlot current. The whole slot is the request.
BOOL ChangeCurrentFunction(const WCHAR nameSlot[CLIENT_NAME_CHARS]);

#endif
