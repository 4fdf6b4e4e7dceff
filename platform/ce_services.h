// Windows CE services that the desktop SDK does not declare: the storage
// manager's store enumeration, the device manager's search and
// notifications, message queues and the input panel's state. A CE build
// takes these from the platform's own headers instead.
#ifndef PALVENOR_CE_SERVICES_H
#define PALVENOR_CE_SERVICES_H

#include <stddef.h>

// A record shared with CE keeps CE's layout on every processor: its size and
// the offsets of what the code reads, checked as CE-era compilers can.
#define CE_LAYOUT(name, holds) typedef char name[(holds) ? 1 : -1]

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

// The storage manager checks cbSize against its own record; its 64-bit
// fields lie at 8-byte offsets.
CE_LAYOUT(STOREINFO_IS_240_BYTES, sizeof(STOREINFO) == 240);
CE_LAYOUT(STOREINFO_NAMES_AT_4_AND_20,
          offsetof(STOREINFO, szDeviceName) == 4 && offsetof(STOREINFO, szStoreName) == 20);
CE_LAYOUT(STOREINFO_DEVICE_INFO_AT_92, offsetof(STOREINFO, sdi) == 92 &&
                                           offsetof(STORAGEDEVICEINFO, szProfile) == 4 &&
                                           offsetof(STORAGEDEVICEINFO, dwDeviceClass) == 68 &&
                                           offsetof(STORAGEDEVICEINFO, dwDeviceFlags) == 76);
CE_LAYOUT(STOREINFO_SECTORS_AT_176, offsetof(STOREINFO, snNumSectors) == 176);

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
CE_LAYOUT(DEVMGR_DEVICE_INFORMATION_IS_1584_BYTES, sizeof(DEVMGR_DEVICE_INFORMATION) == 1584);
CE_LAYOUT(DEVMGR_BUS_NAME_AT_1064, offsetof(DEVMGR_DEVICE_INFORMATION, szBusName) == 1064);

// The search is ended with CloseHandle.
HANDLE WINAPI FindFirstDevice(DeviceSearchType searchType, LPCVOID searchParam, DEVMGR_DEVICE_INFORMATION* info);

// The input panel (sipapi.h). rcVisibleDesktop is the part of the desktop
// the panel leaves in view: the work area less a docked panel, all of it
// when the panel floats; rcSipRect is the panel's window.
#define SIPF_OFF 0x00000000
#define SIPF_ON 0x00000001
#define SIPF_DOCKED 0x00000002
#define SIPF_LOCKED 0x00000004
#define SPI_SETSIPINFO 224

typedef struct _SIPINFO {
    DWORD cbSize;
    DWORD fdwFlags;
    RECT rcVisibleDesktop;
    RECT rcSipRect;
    DWORD dwImDataSize;
    void* pvImData;
} SIPINFO;

CE_LAYOUT(SIPINFO_IS_CES_SIZE, sizeof(SIPINFO) == (sizeof(void*) == 4 ? 48 : 56));
CE_LAYOUT(SIPINFO_FLAGS_AT_4_PANEL_AT_24, offsetof(SIPINFO, fdwFlags) == 4 && offsetof(SIPINFO, rcSipRect) == 24);

// An image without the input panel has no SipGetInfo in COREDLL, and a
// module importing it would not load: it is looked up by name instead.
#define SIP_GET_INFO_NAME TEXT("SipGetInfo")
typedef BOOL(WINAPI* SIP_GET_INFO)(SIPINFO* info);

// CE looks up an export by a wide name.
FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name);

// Point-to-point message queues (msgqueue.h). The read handle is waitable:
// it is signalled while a message waits.
typedef struct MSGQUEUEOPTIONS_OS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMaxMessages;
    DWORD cbMaxMessage;
    BOOL bReadAccess;
} MSGQUEUEOPTIONS;

CE_LAYOUT(MSGQUEUEOPTIONS_IS_20_BYTES, sizeof(MSGQUEUEOPTIONS) == 20);

HANDLE WINAPI CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options);
BOOL WINAPI ReadMsgQueue(HANDLE queue, LPVOID buffer, DWORD bufferBytes, LPDWORD bytesRead, DWORD timeout,
                         DWORD* flags);
BOOL WINAPI CloseMsgQueue(HANDLE queue);

// Device interface notifications (pnp.h): each advertised interface of the
// class asked for reaches the queue as one record, its name after it.
#define MAX_DEVCLASS_NAMELEN 64

typedef struct _DEVDETAIL {
    GUID guidDevClass;
    DWORD dwReserved;
    BOOL fAttached;
    int cbName;
    WCHAR szName[1];
} DEVDETAIL;

CE_LAYOUT(DEVDETAIL_NAME_AT_28, offsetof(DEVDETAIL, fAttached) == 20 && offsetof(DEVDETAIL, szName) == 28);

// all: report the interfaces already advertised first. Ended with StopDeviceNotifications.
HANDLE WINAPI RequestDeviceNotifications(const GUID* interfaceClass, HANDLE queue, BOOL all);
BOOL WINAPI StopDeviceNotifications(HANDLE request);
}

#endif
