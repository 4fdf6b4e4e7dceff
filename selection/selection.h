#ifndef PALVENOR_SELECTION_H
#define PALVENOR_SELECTION_H

#include "platform.h"

// Rebuilds both inventories into the dialog's list boxes and selects the
// entries the registry names as current. Zero, after an error box, when an
// inventory could not be built.
BOOL PopulateLists(HWND dialog);

// Records the chosen store and client driver, flushes the registry and
// switches the bus driver. Zero after an error box.
BOOL ApplySelection(HWND dialog);

// What a list box shows for a slot that holds no name.
#define EMPTY_SLOT_TEXT TEXT("(unavailable)")

// An error box has no owner and one OK button.
void ShowErrorBox(LPCWSTR text);

#endif
