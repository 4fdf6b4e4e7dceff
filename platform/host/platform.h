// The Win32 subset the system uses, declared for the Linux host. Text is
// 16-bit units as on Windows, so WCHAR is char16_t and the wide-string
// routines below work on 16-bit units. The services behind these
// declarations are the programmable stand-ins of host_control.h.
#ifndef PALVENOR_HOST_PLATFORM_H
#define PALVENOR_HOST_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#define WINAPI
#define CALLBACK
#define TEXT(quote) u##quote
#define TRUE 1
#define FALSE 0

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef uint64_t ULONGLONG;
typedef size_t SIZE_T;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD REGSAM;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;

typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__* HKEY;
typedef struct HRSRC__* HRSRC;
typedef HKEY* PHKEY;
typedef void* HGLOBAL;
typedef void* HLOCAL;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG;

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX;

typedef struct DLGTEMPLATE DLGTEMPLATE; // opaque: the template bytes of a resource
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR (*FARPROC)(void);
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define LPTR 0x0040

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DRIVE 15L
#define ERROR_GEN_FAILURE 31L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_PIPE_NOT_CONNECTED 233L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_TIMEOUT 1460L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)(LONG)0x80000002)
#define HKEY_USERS ((HKEY)(ULONG_PTR)(LONG)0x80000003)
#define KEY_ALL_ACCESS 0x000F003F
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define GENERIC_READ 0x80000000
#define FILE_SHARE_READ 0x00000001
#define OPEN_EXISTING 3
#define FILE_DEVICE_UNKNOWN 0x00000022
#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define CTL_CODE(type, function, method, access) \
    (((DWORD)(type) << 16) | ((DWORD)(access) << 14) | ((DWORD)(function) << 2) | (DWORD)(method))

#define MAKEINTRESOURCEW(id) ((LPWSTR)(ULONG_PTR)(WORD)(id))
#define IS_INTRESOURCE(p) (((ULONG_PTR)(p) >> 16) == 0)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)

#define LOWORD(value) ((WORD)((ULONG_PTR)(value) & 0xFFFF))
#define HIWORD(value) ((WORD)(((ULONG_PTR)(value) >> 16) & 0xFFFF))
#define MAKEWPARAM(low, high) ((WPARAM)(DWORD)(((WORD)(low)) | ((DWORD)(WORD)(high) << 16)))

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETREDRAW 0x000B
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SETTINGCHANGE 0x001A
#define WM_KEYDOWN 0x0100
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_DEVICECHANGE 0x0219
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#define PM_NOREMOVE 0x0000
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000
#define WAIT_FAILED 0xFFFFFFFF
#define MWMO_INPUTAVAILABLE 0x0004
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define BN_CLICKED 0
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2
#define SW_HIDE 0
#define SW_SHOW 5
#define MB_OK 0x00000000
#define MB_TOPMOST 0x00040000
#define IDOK 1
#define IDCANCEL 2

#define LB_ERR (-1)
#define LB_ERRSPACE (-2)
#define LB_INSERTSTRING 0x0181
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B

// Heap, timing, errors.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);
void Sleep(DWORD milliseconds);
void SetLastError(DWORD error);
DWORD GetLastError(void);

// Registry.
LONG RegOpenKeyExW(HKEY root, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD byteCount);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD byteCount);
LONG RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved, LPDWORD subkeys,
                      LPDWORD maxSubkeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                      LPDWORD maxValueLength, LPDWORD securityDescriptor, PFILETIME lastWrite);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                   LPDWORD classLength, PFILETIME lastWrite);
LONG RegCloseKey(HKEY key);
LONG RegFlushKey(HKEY key);

// Device input/output.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputBytes, LPVOID output, DWORD outputBytes,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);

// Window and dialog manager, common controls.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity);
HWND FindWindowW(LPCWSTR className, LPCWSTR title);
BOOL SetForegroundWindow(HWND window);
HRSRC FindResourceW(HINSTANCE instance, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HINSTANCE instance, HRSRC resource);
HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner, DLGPROC dialogProc,
                                LPARAM initParam);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* area, BOOL erase);
BOOL IsWindow(HWND window);
BOOL GetMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC callback);
BOOL KillTimer(HWND window, UINT_PTR id);
BOOL IsDialogMessageW(HWND dialog, MSG* msg);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND window);
void PostQuitMessage(int exitCode);
HWND GetDlgItem(HWND dialog, int id);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);

// The C library's wide-string routines, on 16-bit units.
size_t wcslen(const WCHAR* text);
WCHAR* wcsncpy(WCHAR* target, const WCHAR* source, size_t count);
int wcscmp(const WCHAR* left, const WCHAR* right);
int _wcsicmp(const WCHAR* left, const WCHAR* right);
// Only literal units and %[0][width]x conversions into unsigned int are supported.
int swscanf(const WCHAR* input, const WCHAR* format, ...);

#include "../ce_services.h"

// Where the desktop and CE differ, the logic uses these names.
typedef LPWSTR ENTRY_COMMAND_LINE;
#define DIALOG_WINDOW_CLASS TEXT("Dialog")
#define FOREGROUND_HANDLE_FLAG 1
#define ENUMERATE_ONLY_ACCESS 0
#define ANY_MESSAGE_WAKES 0x007F

#endif
