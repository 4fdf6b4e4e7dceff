// The dialog's layout on a work area: arithmetic over rectangles only, so
// that it is tested on its own. FitDialogToWorkArea reads the template's
// layout from the dialog, fits it and applies it.
#ifndef PALVENOR_DIALOG_LAYOUT_H
#define PALVENOR_DIALOG_LAYOUT_H

#include "platform.h"

// The template's controls, in its order.
enum {
    LAYOUT_OK,
    LAYOUT_CANCEL,
    LAYOUT_REFRESH,
    LAYOUT_FUNCTION_LIST,
    LAYOUT_FUNCTION_LABEL,
    LAYOUT_STORAGE_LIST,
    LAYOUT_STORAGE_LABEL,
    LAYOUT_CONTROLS
};

// The window in screen coordinates, the controls in its client area's, in pixels.
struct DialogLayout {
    RECT window;
    RECT controls[LAYOUT_CONTROLS];
};

// The template's layout fitted to the work area. Where it fits, it is kept
// as it is. Otherwise the two lists give way, narrower down to the labels'
// width and shorter down to minListHeight, and what lies right of or below
// them moves with them; the buttons and labels keep their size. A window
// not wholly inside the work area goes to its top-left.
void FitLayout(const DialogLayout* fromTemplate, const RECT* workArea, int minListHeight, DialogLayout* fitted);

// The dialog laid out again from its template's layout for the current
// work area. The first call takes the template's layout from the dialog as
// created.
void FitDialogToWorkArea(HWND dialog);

#endif
