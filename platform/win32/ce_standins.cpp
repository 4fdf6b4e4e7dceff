// The desktop has no CE storage manager, device manager or USB function bus
// driver. These stand-ins answer as the real services do on a device that
// has none of them: no store to enumerate, no device with the bus interface.
#include "platform.h"

HANDLE WINAPI FindFirstStore(STOREINFO* info)
{
    SetLastError(info->cbSize == sizeof(STOREINFO) ? ERROR_NO_MORE_FILES : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FindNextStore(HANDLE search, STOREINFO* info)
{
    (void)search;
    (void)info;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI FindCloseStore(HANDLE search)
{
    (void)search;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HANDLE WINAPI FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info)
{
    (void)searchType;
    (void)searchParam;
    SetLastError(info->dwSize == sizeof(DEVMGR_DEVICE_INFORMATION) ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}
