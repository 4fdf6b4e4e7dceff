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

static void RunOperation(BOOL (*operation)(HWND), HWND dialog)
{
    g_operationRunning = TRUE;
    operation(dialog);
    g_operationRunning = FALSE;
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
        FreeStoreList(g_pStoreList);
        g_pStoreList = NULL;
        FreeFunctionList(g_pFunctionList);
        g_pFunctionList = NULL;
        PostQuitMessage(0);
        return FALSE;
    }
    return FALSE;
}
