#ifndef PALVENOR_DEVICE_LISTENER_H
#define PALVENOR_DEVICE_LISTENER_H

#include "platform.h"

// The announcements of block devices that come or go and of stores mounted
// or dismounted, read from a message queue by the thread's own message
// loop. Where the image cannot give them the queue is null, and the dialog
// follows the device by WM_DEVICECHANGE and Refresh alone.
typedef struct DeviceListener {
    HANDLE queue;
    HANDLE requests[2];
} DeviceListener;

// Asks for changes only: the dialog's first populate, after this, lists
// what is there already.
void ListenForDevices(DeviceListener* listener);
// Waits until a message waits for the thread (TRUE) or the device has
// announced a change, which the dialog is told of (FALSE).
BOOL WaitForMessage(DeviceListener* listener, HWND dialog);
void StopListening(DeviceListener* listener);

#endif
