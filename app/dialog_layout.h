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

// What the user can see: the visible desktop the input panel reports,
// clipped to the work area, or the whole work area where there is no
// report (visibleDesktop NULL) or nothing of it is left.
void VisibleArea(const RECT* workArea, const RECT* visibleDesktop, RECT* area);

// The template's layout fitted to an area. Where it fits, it is kept as it
// is. Otherwise the two lists give way, narrower down to the labels' width
// and shorter down to two entries each, then one, and what lies right of or
// below them moves with them; the buttons close up and the labels keep
// their size. A list's least height is its entries and its border. Where
// Cancel would still reach below the area, it takes Refresh's place, as
// high as a button but OK can be; below the height where even that is cut,
// the caption's close box, always in view, does what Cancel does. A window
// not wholly inside the area goes to its top-left; one inside stays where
// it is. clientTop: how far the client area lies below the window's top.
void FitLayout(const DialogLayout* fromTemplate, const RECT* area, int clientTop, int entryHeight, int listBorder,
               DialogLayout* fitted);

// The dialog laid out again from its template's layout for what the user
// can see of the work area, when that has changed since the last fit. The
// first call takes the template's layout from the dialog as created.
void FitDialogToWorkArea(HWND dialog);

#endif
