// Shared by the host stand-ins; not for tests.
#ifndef PALVENOR_HOST_INTERNAL_H
#define PALVENOR_HOST_INTERNAL_H

#include "host_control.h"

// Counts a call of kind and says whether it is the one to fail.
bool HostShouldFail(HostCall kind);
void HostRecord(const std::string& event);
// Stops the test run: the system used the platform in a way the stand-in
// does not model, or broke a rule the real platform enforces.
[[noreturn]] void HostAbort(const char* what);

std::string HostNarrow(const WCHAR* text);
std::string HostNarrow(const HostText& text);
WCHAR HostFoldCase(WCHAR unit);
bool HostEqualNoCase(const HostText& left, const HostText& right);

// Sends a message to every top-level window of the program, at once, as
// the device manager's broadcast reaches the thread's windows.
void HostBroadcast(UINT message, WPARAM wParam, LPARAM lParam);
// Whether a message queue has a record to read: its handle is signalled.
bool HostQueueSignalled(HANDLE queue);
// When the device changes next by itself (a store mounted late); false when
// it will not. The clock at now makes every change due by then.
bool HostNextDeviceChange(uint64_t* due);
void HostDeviceClock(uint64_t now);

void HostResetRegistry(void);
void HostResetDevices(void);
void HostResetWindows(void);

#endif
