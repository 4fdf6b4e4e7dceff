// CE's kernel message queues: the queues a process creates to read from,
// written by the device manager. A queue's handle is an event, set while
// a record waits or the queue is broken, so that the system's waits take it
// as CE's take a queue's.
#include <windows.h>
#include <string.h>

#include "../ce_services.h"
#include "emulated_device.h"

#define MAX_QUEUES 8

typedef struct Record {
    struct Record* next;
    DWORD bytes;
    DWORD data[1]; // bytes of them, DWORD-aligned for the DEVDETAIL
} Record;

typedef struct Queue {
    HANDLE readable;
    MSGQUEUEOPTIONS options;
    Record* first;
    Record* last;
    DWORD count;
    DWORD writers;
    BOOL hadWriter;
} Queue;

static SRWLOCK g_lock = SRWLOCK_INIT;
static Queue g_queues[MAX_QUEUES];

static Queue* FindQueue(HANDLE handle)
{
    for (int i = 0; handle != NULL && i < MAX_QUEUES; i++) {
        if (g_queues[i].readable == handle)
            return &g_queues[i];
    }
    return NULL;
}

static BOOL IsBroken(const Queue* queue)
{
    return queue->hadWriter && queue->writers == 0;
}

BOOL QueueAddWriter(HANDLE handle)
{
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    if (queue != NULL) {
        queue->writers++;
        queue->hadWriter = TRUE;
    }
    ReleaseSRWLockExclusive(&g_lock);
    return queue != NULL;
}

// The last writer gone, the queue is broken: its reader is woken to learn it.
void QueueDropWriter(HANDLE handle)
{
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    if (queue != NULL && queue->writers > 0 && --queue->writers == 0)
        SetEvent(queue->readable);
    ReleaseSRWLockExclusive(&g_lock);
}

// A record is written with timeout 0: a full queue, or one whose records
// are smaller, loses it, as the device manager does not wait for readers.
void QueueWrite(HANDLE handle, const void* data, DWORD bytes)
{
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    Record* record = NULL;
    if (queue != NULL && bytes <= queue->options.cbMaxMessage &&
        (queue->options.dwMaxMessages == 0 || queue->count < queue->options.dwMaxMessages))
        record = (Record*)LocalAlloc(LPTR, offsetof(Record, data) + bytes);
    if (record != NULL) {
        record->bytes = bytes;
        memcpy(record->data, data, bytes);
        if (queue->last != NULL)
            queue->last->next = record;
        else
            queue->first = record;
        queue->last = record;
        queue->count++;
        SetEvent(queue->readable);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

// CE's kernel signals a reader after letting go of the queue, so the reader
// may find nothing there: every queue's reader is woken so.
void QueuesWakeEmpty(void)
{
    AcquireSRWLockExclusive(&g_lock);
    for (int i = 0; i < MAX_QUEUES; i++) {
        if (g_queues[i].readable != NULL)
            SetEvent(g_queues[i].readable);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

HANDLE WINAPI CreateMsgQueue(LPCWSTR name, MSGQUEUEOPTIONS* options)
{
    // Named queues, shared between processes, are not played.
    if (name != NULL) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    if (options == NULL || options->dwSize != sizeof(MSGQUEUEOPTIONS) || options->cbMaxMessage == 0 ||
        !options->bReadAccess) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HANDLE readable = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (readable == NULL)
        return NULL;
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = NULL;
    for (int i = 0; queue == NULL && i < MAX_QUEUES; i++) {
        if (g_queues[i].readable == NULL)
            queue = &g_queues[i];
    }
    if (queue != NULL) {
        memset(queue, 0, sizeof(*queue));
        queue->readable = readable;
        queue->options = *options;
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (queue == NULL) {
        CloseHandle(readable);
        SetLastError(ERROR_OUTOFMEMORY);
        return NULL;
    }
    return readable;
}

// Takes the first record. An empty queue fails with ERROR_TIMEOUT and its
// event is reset; a broken one, with ERROR_PIPE_NOT_CONNECTED, and it stays
// signalled. A record bigger than the buffer is taken all the same: TRUE,
// cut to the buffer, with ERROR_INSUFFICIENT_BUFFER.
static BOOL TakeRecord(Queue* queue, LPVOID buffer, DWORD bufferBytes, LPDWORD bytesRead)
{
    Record* record = queue->first;
    if (record == NULL) {
        if (IsBroken(queue)) {
            SetLastError(ERROR_PIPE_NOT_CONNECTED);
            return FALSE;
        }
        ResetEvent(queue->readable);
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    queue->first = record->next;
    if (queue->first == NULL) {
        queue->last = NULL;
        if (!IsBroken(queue))
            ResetEvent(queue->readable);
    }
    queue->count--;
    *bytesRead = record->bytes <= bufferBytes ? record->bytes : bufferBytes;
    memcpy(buffer, record->data, *bytesRead);
    if (*bytesRead < record->bytes)
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    LocalFree(record);
    return TRUE;
}

BOOL WINAPI ReadMsgQueue(HANDLE handle, LPVOID buffer, DWORD bufferBytes, LPDWORD bytesRead, DWORD timeout,
                         DWORD* flags)
{
    if (buffer == NULL || bytesRead == NULL || flags == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AcquireSRWLockExclusive(&g_lock);
    BOOL known = FindQueue(handle) != NULL;
    ReleaseSRWLockExclusive(&g_lock);
    if (!known) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (WaitForSingleObject(handle, timeout) != WAIT_OBJECT_0) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    BOOL taken = FALSE;
    if (queue == NULL)
        SetLastError(ERROR_INVALID_HANDLE);
    else
        taken = TakeRecord(queue, buffer, bufferBytes, bytesRead);
    ReleaseSRWLockExclusive(&g_lock);
    if (taken)
        *flags = 0;
    return taken;
}

BOOL WINAPI CloseMsgQueue(HANDLE handle)
{
    AcquireSRWLockExclusive(&g_lock);
    Queue* queue = FindQueue(handle);
    if (queue != NULL) {
        while (queue->first != NULL) {
            Record* record = queue->first;
            queue->first = record->next;
            LocalFree(record);
        }
        memset(queue, 0, sizeof(*queue));
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (queue == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(handle);
}
