// Programming and inspecting the host stand-in platform from a test. The
// stand-ins keep the rules the callers rely on (key names ignore case,
// enumeration order is stable, buffers that do not fit fail, handles must be
// closed once) and abort on any use they do not model.
#ifndef PALVENOR_HOST_CONTROL_H
#define PALVENOR_HOST_CONTROL_H

#include "platform.h"

#include <functional>
#include <string>
#include <vector>

typedef std::u16string HostText;

// Platform calls that are counted and can be made to fail.
enum HostCall {
    HOST_LOCAL_ALLOC,
    HOST_REG_OPEN_KEY,
    HOST_REG_QUERY_VALUE,
    HOST_REG_SET_VALUE,
    HOST_REG_QUERY_INFO,
    HOST_REG_ENUM_KEY,
    HOST_REG_FLUSH,
    HOST_FIND_FIRST_STORE,
    HOST_FIND_NEXT_STORE,
    HOST_FIND_FIRST_DEVICE,
    HOST_CREATE_FILE,
    HOST_DEVICE_IO_CONTROL,
    HOST_LOAD_STRING,
    HOST_FIND_RESOURCE,
    HOST_LOAD_RESOURCE,
    HOST_CREATE_DIALOG,
    HOST_LIST_INSERT, // LB_INSERTSTRING, failing as with too little memory (LB_ERRSPACE)
    HOST_CREATE_MSG_QUEUE,
    HOST_REQUEST_NOTIFICATIONS,
    HOST_READ_MSG_QUEUE,
    HOST_MSG_WAIT, // MsgWaitForMultipleObjectsEx, returning WAIT_FAILED
    HOST_CALL_KINDS
};

// Back to an empty machine: no keys, stores, bus, windows, boxes, hooks or
// injected faults. Resources loaded with HostLoadResourceFile stay.
void HostReset(void);

const char* HostCallName(HostCall kind); // "LocalAlloc", "RegOpenKeyExW", ...
int HostCallCount(HostCall kind);
// The nth call of kind from now on (1 is the next one) fails; 0 disarms.
void HostFailCall(HostCall kind, int nth);
int HostInjectedFailures(void);
// Every injected failure passes through here: a place for a breakpoint.
void HostInjectedFailure(HostCall kind);

// What the system did, in order, in words: "RegSetValueExW DeviceName",
// "RegFlushKey HKEY_LOCAL_MACHINE", "Sleep 100", "DeviceIoControl 0x00220010",
// "MessageBoxW Palvenor Error", ...
const std::vector<std::string>& HostEvents(void);
// Off, nothing is recorded: the benchmarks measure the system, not the record.
void HostRecordEvents(bool on);

// Heap.
size_t HostLiveBlocks(void);
size_t HostLiveBytes(void);
// The most bytes live at once since the last reset of the peak (or HostReset).
size_t HostPeakLiveBytes(void);
void HostResetPeakLiveBytes(void);
size_t HostBlockBytes(const void* block); // 0 when it is no live block

// Registry. Paths are relative to root, with backslashes.
void HostRegCreateKey(HKEY root, const HostText& path);
void HostRegSetValue(HKEY root, const HostText& path, const HostText& name, DWORD type, const void* data,
                     size_t bytes);
void HostRegSetString(HKEY root, const HostText& path, const HostText& name, const HostText& text);
bool HostRegGetValue(HKEY root, const HostText& path, const HostText& name, DWORD* type, std::vector<BYTE>* data);
bool HostRegDeleteKey(HKEY root, const HostText& path);
bool HostRegKeyExists(HKEY root, const HostText& path);
int HostOpenKeys(void);
// A faulty registry that, for a subkey name that does not fit, writes what
// fits without a terminator and reports success with the full length.
void HostRegTruncateLongNames(bool truncate);
// Called as RegQueryInfoKeyW has counted a key's subkeys, before it returns:
// a key made here comes after the count.
void HostOnSubkeyCount(std::function<void()> hook);

// Storage manager.
void HostSetStores(const std::vector<STOREINFO>& stores);
// Called as each store search opens (1 for the first), before it reads the stores.
void HostOnStoreSearch(std::function<void(int search)> hook);
int HostOpenStoreSearches(void);
// A store mounted (a card put in) or dismounted (taken out) while the
// program runs, announced as CE announces it: a card's block device, the
// broadcast WM_DEVICECHANGE, then its store's mount; a store's dismount,
// then its block device and the broadcast. Records go to the message
// queues that asked for the interface; a full queue loses them.
// A store that mountAfter ms of the clock pass before it is mounted has its
// block device announced at once.
void HostMountStore(const STOREINFO& store, DWORD mountAfter = 0);
void HostDismountStore(const HostText& deviceName);
// Cards put back within CE's PNPUnloadDelay (re-seated; every card, as a
// device resumes): each store hidden from the searches, its block device
// announced gone with the broadcast, then every block device back with the
// broadcast; each store swapped back into its place listedAfter ms later,
// with no store announcement either way, as CE's storage manager does.
void HostReseatStores(const std::vector<HostText>& deviceNames, DWORD listedAfter);
int HostNotificationRequests(void);
// Every message queue's event set once with nothing to read, as CE's kernel
// may leave it; the next empty read resets it (ERROR_TIMEOUT).
void HostWakeQueuesWithNothing(void);
// Every message queue left with no writer: set for good, its reads failing
// with ERROR_PIPE_NOT_CONNECTED once it is empty.
void HostBreakQueues(void);

// Device manager and USB function bus driver. Message queues and
// notification requests count as open handles. The bus accepts a request
// that names, terminated within the 256-byte slot, a subkey of the
// client-drivers key. A bus name opened from the record of an open device
// search must end within its field: reading on past it aborts.
void HostSetBus(const HostText& busName);
void HostRemoveBus(void);
void HostSetBusRefuses(bool refuses);
struct HostBusRequest {
    DWORD code;
    std::vector<BYTE> input;
    bool hasOutput;
    DWORD outputBytes;
    bool hasBytesReturned;
    bool hasOverlapped;
};
const std::vector<HostBusRequest>& HostBusRequests(void);
HostText HostCurrentClient(void);
int HostOpenHandles(void);

// Resources: a .res file as the resource compiler writes it.
bool HostLoadResourceFile(const char* path);
HINSTANCE HostModuleInstance(void);
// The bytes of a numbered resource, and its language, or null.
const std::vector<BYTE>* HostFindResource(WORD type, WORD name, WORD* language = NULL);
struct HostDialogItem {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    WORD id;
    HostText className;
    HostText text;
};
struct HostDialogTemplate {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    HostText menu;
    HostText className;
    HostText caption;
    WORD pointSize;
    HostText font;
    std::vector<HostDialogItem> items;
};
bool HostParseDialogTemplate(const std::vector<BYTE>& bytes, HostDialogTemplate* parsed);

// Windows.
HWND HostCreateWindow(const HostText& className, const HostText& title); // another program's window
HostText HostWindowClass(HWND window);
HostText HostWindowText(HWND window);
bool HostIsVisible(HWND window);
std::vector<HostText> HostListItems(HWND listBox);
int HostListSelection(HWND listBox);
// How often the box repainted, and whether what it shows is its items.
int HostListRepaints(HWND listBox);
bool HostListShowsItsItems(HWND listBox);
HWND HostForegroundWindow(void);
ULONG_PTR HostForegroundHandleValue(void); // as passed, low bit included
INITCOMMONCONTROLSEX HostCommonControls(void);
int HostQuitMessages(void);

struct HostMessageBox {
    HWND owner;
    HostText text;
    HostText caption;
    UINT style;
};
const std::vector<HostMessageBox>& HostMessageBoxes(void);
// Runs while a message box is up, as the person in front of it.
void HostOnMessageBox(std::function<void(const HostMessageBox& box)> hook);
// Runs when the message loop finds nothing to fetch. What it does not
// queue, time brings: the clock moves to the next timer; with no timer
// either, the loop would wait forever and the run stops.
void HostOnIdle(std::function<void()> hook);

// A message sent from another thread: handled inside the thread's next wait
// (GetMessageW, MsgWaitForMultipleObjectsEx), which it wakes, with nothing
// left to fetch.
void HostSendFromAnotherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Time. Timers fire when it passes: a WM_TIMER is fetched once a timer is
// due and nothing is queued before it, once however late it is.
void HostAdvanceClock(DWORD milliseconds);
DWORD HostClock(void);
int HostArmedTimers(void);

// A person's actions. Clicks and the close box act at once; keys go through
// the dialog's keyboard handling at once (HostPressKey) or are queued for the
// message loop (HostPostKey).
void HostClickButton(HWND dialog, int id);
void HostChooseEntry(HWND dialog, int listId, int index);
void HostClickCloseBox(HWND dialog);
void HostPressKey(HWND dialog, UINT virtualKey);
void HostPostKey(HWND dialog, UINT virtualKey);

#endif
