#include "selection/function_bus.h"

#include "app/choice_dialog.h"
#include "app/load_text.h"
#include "resources/resource.h"

static BOOL ParseGuid(LPCWSTR text, GUID* guid)
{
    // Each field is scanned into a full unsigned int and then narrowed, so
    // that no conversion writes past its own field of the record.
    unsigned int fields[11] = {0};
    int converted = swscanf(text, TEXT("%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x"), &fields[0], &fields[1],
                            &fields[2], &fields[3], &fields[4], &fields[5], &fields[6], &fields[7], &fields[8],
                            &fields[9], &fields[10]);
    if (converted != 11)
        return FALSE;
    guid->Data1 = fields[0];
    guid->Data2 = (WORD)fields[1];
    guid->Data3 = (WORD)fields[2];
    for (int i = 0; i < 8; i++)
        guid->Data4[i] = (BYTE)fields[3 + i];
    return TRUE;
}

static BOOL IsTerminated(const WCHAR* field, DWORD fieldChars)
{
    for (DWORD i = 0; i < fieldChars; i++) {
        if (field[i] == 0)
            return TRUE;
    }
    return FALSE;
}

HANDLE OpenFunctionBus(void)
{
    GUID busInterface;
    if (!ParseGuid(FUNCTION_BUS_GUID_TEXT, &busInterface))
        return INVALID_HANDLE_VALUE;

    DEVMGR_DEVICE_INFORMATION device;
    memset(&device, 0, sizeof(device));
    device.dwSize = sizeof(device);
    HANDLE search = FindFirstDevice(DeviceSearchByGuid, &busInterface, &device);
    if (search == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    // The record is the device manager's: a name that fills its field has no
    // terminator, and cut short it could name another device. Such a name
    // is not opened.
    HANDLE bus = INVALID_HANDLE_VALUE;
    if (IsTerminated(device.szBusName, MAX_PATH))
        bus = CreateFileW(device.szBusName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CloseHandle(search);
    return bus;
}

BOOL ChangeCurrentFunction(const WCHAR nameSlot[CLIENT_NAME_CHARS])
{
    ShowTextBox(g_hInstance, NULL, IDS_REMOVE_CABLE, IDS_WARNING_CAPTION);

    HANDLE bus = OpenFunctionBus();
    if (bus == INVALID_HANDLE_VALUE)
        return FALSE;
    // The request has no output, but the count of bytes returned is required.
    DWORD returned = 0;
    BOOL changed = DeviceIoControl(bus, IOCTL_FUNCTION_BUS_CHANGE_CLIENT, (LPVOID)nameSlot,
                                   CLIENT_NAME_CHARS * sizeof(WCHAR), NULL, 0, &returned, NULL);
    CloseHandle(bus);
    return changed;
}
