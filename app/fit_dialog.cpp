// The window calls of fitting the dialog: the template's layout read from
// the dialog as created, and a fitted layout applied. Built into
// palvenor.exe only; the host's stand-in has no screen.
#include "app/dialog_layout.h"

#include "resources/resource.h"

// The controls in the layout's order. The first label has the template's
// -1, which the dialog manager keeps as the word 0xFFFF; no rule moves it.
static const int LAYOUT_IDS[LAYOUT_CONTROLS] = {IDOK,   IDCANCEL,         IDC_REFRESH,      IDC_FUNCTION_LIST,
                                                0xFFFF, IDC_STORAGE_LIST, IDC_STORAGE_LABEL};

// Two entries of a list shown whole, within its border.
#define LIST_BORDER_PIXELS 4

static DialogLayout g_templateLayout;
static BOOL g_templateRead = FALSE;

static BOOL ReadLayout(HWND dialog, DialogLayout* layout)
{
    if (!GetWindowRect(dialog, &layout->window))
        return FALSE;
    for (int i = 0; i < LAYOUT_CONTROLS; i++) {
        RECT* rect = &layout->controls[i];
        if (!GetWindowRect(GetDlgItem(dialog, LAYOUT_IDS[i]), rect))
            return FALSE;
        MapWindowPoints(NULL, dialog, (POINT*)rect, 2);
    }
    return TRUE;
}

static void Place(HWND window, const RECT* rect)
{
    MoveWindow(window, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
}

// A layout that cannot be read or a work area that cannot be had leaves the
// dialog as it is.
void FitDialogToWorkArea(HWND dialog)
{
    if (!g_templateRead)
        g_templateRead = ReadLayout(dialog, &g_templateLayout);
    RECT workArea;
    int itemHeight = (int)SendMessageW(GetDlgItem(dialog, IDC_FUNCTION_LIST), LB_GETITEMHEIGHT, 0, 0);
    if (!g_templateRead || itemHeight <= 0 || !SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0))
        return;
    DialogLayout fitted;
    FitLayout(&g_templateLayout, &workArea, 2 * itemHeight + LIST_BORDER_PIXELS, &fitted);
    Place(dialog, &fitted.window);
    for (int i = 0; i < LAYOUT_CONTROLS; i++)
        Place(GetDlgItem(dialog, LAYOUT_IDS[i]), &fitted.controls[i]);
}
