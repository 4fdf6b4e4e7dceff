// Windows CE services that the desktop SDK does not declare: the storage
// manager's store enumeration and the device manager's search. A CE build
// takes these from the platform's own headers instead.
#ifndef PALVENOR_CE_SERVICES_H
#define PALVENOR_CE_SERVICES_H

#define DEVICENAMESIZE 8
#define STORENAMESIZE 32
#define PROFILENAMESIZE 32

#define STORAGE_DEVICE_CLASS_BLOCK 0x00000001
#define STORAGE_DEVICE_FLAG_READWRITE 0x00000001

typedef struct _STORAGEDEVICEINFO {
    DWORD cbSize;
    WCHAR szProfile[PROFILENAMESIZE];
    DWORD dwDeviceClass;
    DWORD dwDeviceType;
    DWORD dwDeviceFlags;
} STORAGEDEVICEINFO;

typedef struct _STOREINFO {
    DWORD cbSize;
    WCHAR szDeviceName[DEVICENAMESIZE];
    WCHAR szStoreName[STORENAMESIZE];
    DWORD dwDeviceClass;
    DWORD dwDeviceType;
    STORAGEDEVICEINFO sdi;
    DWORD dwDeviceFlags;
    ULONGLONG snNumSectors;
    DWORD dwBytesPerSector;
    ULONGLONG snFreeSectors;
    ULONGLONG snBiggestPartCreatable;
    FILETIME ftCreated;
    FILETIME ftLastModified;
    DWORD dwAttributes;
    DWORD dwPartitionCount;
    DWORD dwMountCount;
} STOREINFO;

// The storage manager checks cbSize against its own record (a size check older compilers take).
typedef char STOREINFO_IS_240_BYTES[sizeof(STOREINFO) == 240 ? 1 : -1];

extern "C" {
HANDLE WINAPI FindFirstStore(STOREINFO* info);
BOOL WINAPI FindNextStore(HANDLE search, STOREINFO* info);
BOOL WINAPI FindCloseStore(HANDLE search);

typedef enum _DeviceSearchType {
    DeviceSearchByLegacyName,
    DeviceSearchByDeviceName,
    DeviceSearchByBusName,
    DeviceSearchByGuid,
    DeviceSearchByParent
} DeviceSearchType;

// The device manager's handles are 32-bit on CE; keeping them 32-bit here
// keeps the record at the platform's size on 64-bit hosts too.
typedef struct _DEVMGR_DEVICE_INFORMATION {
    DWORD dwSize;
    DWORD hDevice;
    DWORD hParentDevice;
    WCHAR szLegacyName[6];
    WCHAR szDeviceKey[MAX_PATH];
    WCHAR szDeviceName[MAX_PATH];
    WCHAR szBusName[MAX_PATH];
} DEVMGR_DEVICE_INFORMATION;

// The device manager checks dwSize against its own record.
typedef char DEVMGR_DEVICE_INFORMATION_IS_1584_BYTES[sizeof(DEVMGR_DEVICE_INFORMATION) == 1584 ? 1 : -1];

// The search is ended with CloseHandle.
HANDLE WINAPI FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info);
}

#endif
