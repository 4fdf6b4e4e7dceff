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

// What the user can see of the work area: all of it, but where an input
// panel is on and docked, the part above it.
void UncoveredArea(const RECT* workArea, DWORD panelFlags, const RECT* panel, RECT* uncovered);

// The template's layout fitted to an area. Where it fits, it is kept as it
// is. Otherwise the two lists give way, narrower down to the labels' width
// and shorter down to two entries each, then one, and what lies right of or
// below them moves with them; the buttons close up and the labels keep
// their size. A list's least height is its entries and its border. Where
// even that does not fit, Cancel takes Refresh's place, so that OK and
// Cancel are the buttons still in view. A window not wholly inside the
// area goes to its top-left; one inside stays where it is.
void FitLayout(const DialogLayout* fromTemplate, const RECT* area, int entryHeight, int listBorder,
               DialogLayout* fitted);

// The dialog laid out again from its template's layout for what the user
// can see of the work area, when that has changed since the last fit. The
// first call takes the template's layout from the dialog as created.
void FitDialogToWorkArea(HWND dialog);

#endif
