#include "app/device_listener.h"
#include "app/choice_dialog.h"

// The interfaces CE's block drivers and its storage manager advertise. A
// block device can arrive before its store is mounted, and the mount is
// what the store list shows.
static const GUID BLOCK_DRIVER_GUID = {0xA4E7EDDA, 0xE575, 0x4252, {0x9D, 0x6B, 0x41, 0x95, 0xD4, 0x8B, 0xB8, 0x65}};
static const GUID STORE_MOUNT_GUID = {0xC1115848, 0x46FD, 0x4976, {0xBD, 0xE9, 0xD7, 0x94, 0x48, 0x45, 0x70, 0x04}};

// One record holds the longest name an interface may have. Announcements
// beyond what the queue holds are lost, which costs nothing: one unread
// record is enough to rebuild.
#define ANNOUNCEMENT_BYTES (sizeof(DEVDETAIL) + MAX_DEVCLASS_NAMELEN * sizeof(WCHAR))
#define QUEUED_ANNOUNCEMENTS 16

void ListenForDevices(DeviceListener* listener)
{
    memset(listener, 0, sizeof(*listener));
    MSGQUEUEOPTIONS options;
    memset(&options, 0, sizeof(options));
    options.dwSize = sizeof(options);
    options.dwMaxMessages = QUEUED_ANNOUNCEMENTS;
    options.cbMaxMessage = ANNOUNCEMENT_BYTES;
    options.bReadAccess = TRUE;
    listener->queue = CreateMsgQueue(NULL, &options);
    if (listener->queue == NULL)
        return;
    listener->requests[0] = RequestDeviceNotifications(&BLOCK_DRIVER_GUID, listener->queue, FALSE);
    listener->requests[1] = RequestDeviceNotifications(&STORE_MOUNT_GUID, listener->queue, FALSE);
    if (listener->requests[0] == NULL || listener->requests[1] == NULL)
        StopListening(listener);
}

// Empties the queue, telling the dialog if it held anything. A wake with
// nothing to read is normal on CE, whose kernel signals a reader after
// letting the queue go; the empty read resets the queue's event. Any other
// failure (no writer left, a handle gone bad) leaves the event set, and
// would spin the loop: FALSE, the queue is dead.
static BOOL ReadAnnouncements(HANDLE queue, HWND dialog)
{
    DWORD record[(ANNOUNCEMENT_BYTES + sizeof(DWORD) - 1) / sizeof(DWORD)];
    DWORD bytes, flags;
    BOOL read = FALSE, arrived = FALSE;
    while (ReadMsgQueue(queue, record, sizeof(record), &bytes, 0, &flags)) {
        read = TRUE;
        if (bytes >= offsetof(DEVDETAIL, cbName) && ((const DEVDETAIL*)record)->fAttached)
            arrived = TRUE;
    }
    // What was read is followed even from a queue that has just died.
    BOOL alive = GetLastError() == ERROR_TIMEOUT;
    if (read)
        NoteDeviceChange(dialog, arrived);
    return alive;
}

BOOL WaitForMessage(DeviceListener* listener, HWND dialog)
{
    if (listener->queue == NULL)
        return TRUE;
    DWORD woke = MsgWaitForMultipleObjectsEx(1, &listener->queue, INFINITE, ANY_MESSAGE_WAKES, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0 && ReadAnnouncements(listener->queue, dialog))
        return FALSE;
    // A dead queue, or a wait that fails, would spin the loop: the dialog
    // does without the queue from then on.
    if (woke != WAIT_OBJECT_0 + 1) {
        StopListening(listener);
        return TRUE;
    }
    // A message another thread sent is handled in the wait and leaves nothing
    // to fetch; GetMessageW would then wait without watching the queue.
    MSG next;
    return PeekMessageW(&next, NULL, 0, 0, PM_NOREMOVE);
}

void StopListening(DeviceListener* listener)
{
    for (int i = 0; i < 2; i++) {
        if (listener->requests[i] != NULL)
            StopDeviceNotifications(listener->requests[i]);
    }
    if (listener->queue != NULL)
        CloseMsgQueue(listener->queue);
    memset(listener, 0, sizeof(*listener));
}
