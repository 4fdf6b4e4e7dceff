#include "app/choice_dialog.h"
#include "app/dialog_layout.h"

#include "resources/resource.h"
#include "selection/selection.h"

StoreList* g_pStoreList = NULL;
FunctionList* g_pFunctionList = NULL;

// Message boxes have no owner, so the dialog stays live behind them. While an
// operation waits on one, the dialog's commands are dropped: none may start
// another operation or release the lists the waiting one is using.
static BOOL g_operationRunning = FALSE;

// A burst of announcements (a card's partitions, a flaky contact) gives one
// rebuild, once the device has been quiet for QUIET_MS, and never later
// than LATEST_MS after the first of them.
#define QUIET_TIMER 1
#define LATEST_TIMER 2
#define QUIET_MS 250
#define LATEST_MS 750
static BOOL g_deviceChanged = FALSE;

// CE's storage manager may list a store a while after its block device
// came: once the card's volumes are mounted, and, for a card put back within
// PNPUnloadDelay (a re-seated card, a resume), with no store announcement
// at all. So after an arrival the dialog looks at the stores every
// WATCH_EVERY_MS, WATCH_TURNS times (11 s, past CE's slowest mounts), and
// follows them when they differ from the list shown.
#define WATCH_TIMER 3
#define WATCH_EVERY_MS 500
#define WATCH_TURNS 22
static int g_watchTurns = 0;

void NoteDeviceChange(HWND dialog, BOOL arrived)
{
    if (arrived) {
        g_watchTurns = WATCH_TURNS;
        SetTimer(dialog, WATCH_TIMER, WATCH_EVERY_MS, NULL);
    }
    if (!g_deviceChanged)
        SetTimer(dialog, LATEST_TIMER, LATEST_MS, NULL);
    g_deviceChanged = TRUE;
    SetTimer(dialog, QUIET_TIMER, QUIET_MS, NULL);
}

static void WatchStores(HWND dialog)
{
    if (--g_watchTurns <= 0)
        KillTimer(dialog, WATCH_TIMER);
    // A change already waiting, or a box, is followed by the rebuild to come.
    if (!g_deviceChanged && !g_operationRunning && StoresDifferFrom(g_pStoreList))
        NoteDeviceChange(dialog, FALSE);
}

static void RunOperation(BOOL (*operation)(HWND), HWND dialog)
{
    g_operationRunning = TRUE;
    operation(dialog);
    g_operationRunning = FALSE;
    // A change announced while a box waited is followed once it is gone.
    if (g_deviceChanged)
        SetTimer(dialog, QUIET_TIMER, QUIET_MS, NULL);
}

INT_PTR CALLBACK ChoiceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        RunOperation(PopulateLists, dialog);
        return TRUE;
    case WM_COMMAND:
        if (g_operationRunning)
            return TRUE;
        switch (LOWORD(wParam)) {
        case IDOK:
            RunOperation(ApplySelection, dialog);
            DestroyWindow(dialog);
            break;
        case IDCANCEL:
            DestroyWindow(dialog);
            break;
        case IDC_REFRESH:
            RunOperation(PopulateLists, dialog);
            break;
        }
        return TRUE;
    case WM_DEVICECHANGE:
        // Whatever came or went, the lists are read anew; lParam differs
        // between CE and the desktop and is not read.
        NoteDeviceChange(dialog, wParam == DBT_DEVICEARRIVAL);
        return TRUE;
    case WM_TIMER:
        if (wParam == WATCH_TIMER) {
            WatchStores(dialog);
            return TRUE;
        }
        KillTimer(dialog, QUIET_TIMER);
        KillTimer(dialog, LATEST_TIMER);
        if (!g_operationRunning) {
            g_deviceChanged = FALSE;
            RunOperation(FollowDevice, dialog);
        }
        return TRUE;
    case WM_SETTINGCHANGE:
        // CE moves and sizes only full-screen windows when the screen turns,
        // and the input panel changes no window: both come as a setting
        // change (SPI_SETSIPINFO for the panel). Fitting does nothing unless
        // what the user can see has changed; it reads no list and writes
        // nothing, so it may run while an operation waits on a box.
        FitDialogToWorkArea(dialog);
        return FALSE;
    case WM_CLOSE:
        // Claiming the message keeps the dialog manager from turning it into a Cancel.
        if (g_operationRunning)
            return TRUE;
        DestroyWindow(dialog);
        return FALSE;
    case WM_DESTROY:
        g_deviceChanged = FALSE;
        g_watchTurns = 0;
        FreeStoreList(g_pStoreList);
        g_pStoreList = NULL;
        FreeFunctionList(g_pFunctionList);
        g_pFunctionList = NULL;
        PostQuitMessage(0);
        return FALSE;
    }
    return FALSE;
}
