// The window calls of fitting the dialog: the template's layout read from
// the dialog as created, and a fitted layout applied. Built into
// palvenor.exe only; the host's stand-in has no screen.
#include "app/dialog_layout.h"

#include "resources/resource.h"

// The controls in the layout's order. The first label has the template's
// -1, which the dialog manager keeps as the word 0xFFFF; no rule moves it.
static const int LAYOUT_IDS[LAYOUT_CONTROLS] = {IDOK,   IDCANCEL,         IDC_REFRESH,      IDC_FUNCTION_LIST,
                                                0xFFFF, IDC_STORAGE_LIST, IDC_STORAGE_LABEL};

// A list's border, above and below its entries.
#define LIST_BORDER_PIXELS 4

static DialogLayout g_templateLayout;
static BOOL g_templateRead = FALSE;
static RECT g_fittedArea;
static BOOL g_fitted = FALSE;

static int g_clientTop;

static BOOL ReadLayout(HWND dialog, DialogLayout* layout)
{
    POINT clientOrigin = {0, 0};
    if (!GetWindowRect(dialog, &layout->window))
        return FALSE;
    MapWindowPoints(dialog, NULL, &clientOrigin, 1);
    g_clientTop = clientOrigin.y - layout->window.top;
    for (int i = 0; i < LAYOUT_CONTROLS; i++) {
        RECT* rect = &layout->controls[i];
        if (!GetWindowRect(GetDlgItem(dialog, LAYOUT_IDS[i]), rect))
            return FALSE;
        MapWindowPoints(NULL, dialog, (POINT*)rect, 2);
    }
    return TRUE;
}

// Moving a window to where it is would still repaint it.
static void Place(HWND window, const RECT* now, const RECT* rect)
{
    if (memcmp(now, rect, sizeof(RECT)) != 0)
        MoveWindow(window, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
}

// The part of the work area the input panel leaves in view, as the panel
// reports it. An image without the input panel has no SipGetInfo: there
// the work area is all the user sees.
static BOOL GetVisibleArea(RECT* area)
{
    RECT workArea;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0))
        return FALSE;
    // Through the type that stands for any function, as a cast between two others warns.
    SIP_GET_INFO getPanelInfo =
        (SIP_GET_INFO)(void (*)(void))GetProcAddressW(GetModuleHandleW(TEXT("coredll.dll")), SIP_GET_INFO_NAME);
    SIPINFO panel;
    memset(&panel, 0, sizeof(panel));
    panel.cbSize = sizeof(panel);
    BOOL reported = getPanelInfo != NULL && getPanelInfo(&panel);
    VisibleArea(&workArea, reported ? &panel.rcVisibleDesktop : NULL, area);
    return TRUE;
}

// A layout that cannot be read or an area that cannot be had leaves the
// dialog as it is; so does an area the dialog was last fitted to, whatever
// setting changed. The dialog stays where the user put it while it lies
// wholly inside.
void FitDialogToWorkArea(HWND dialog)
{
    if (!g_templateRead)
        g_templateRead = ReadLayout(dialog, &g_templateLayout);
    RECT area;
    DialogLayout now;
    int entryHeight = (int)SendMessageW(GetDlgItem(dialog, IDC_FUNCTION_LIST), LB_GETITEMHEIGHT, 0, 0);
    if (!g_templateRead || entryHeight <= 0 || !GetVisibleArea(&area) || !ReadLayout(dialog, &now) ||
        (g_fitted && memcmp(&area, &g_fittedArea, sizeof(area)) == 0))
        return;
    DialogLayout from = g_templateLayout, fitted;
    from.window.right += now.window.left - from.window.left;
    from.window.bottom += now.window.top - from.window.top;
    from.window.left = now.window.left;
    from.window.top = now.window.top;
    FitLayout(&from, &area, g_clientTop, entryHeight, LIST_BORDER_PIXELS, &fitted);
    Place(dialog, &now.window, &fitted.window);
    for (int i = 0; i < LAYOUT_CONTROLS; i++)
        Place(GetDlgItem(dialog, LAYOUT_IDS[i]), &now.controls[i], &fitted.controls[i]);
    g_fittedArea = area;
    g_fitted = TRUE;
}
