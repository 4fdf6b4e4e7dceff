#ifndef PALVENOR_SELECTION_H
#define PALVENOR_SELECTION_H

#include "platform.h"

// Rebuilds both inventories into the dialog's list boxes and selects the
// entries the registry names as current. Zero, after an error box, when an
// inventory could not be built.
BOOL PopulateLists(HWND dialog);

// Rebuilds both lists as PopulateLists does after the device changed, then
// selects again, by device name and by key name, what the person had
// selected where it is still listed.
BOOL FollowDevice(HWND dialog);

// The name behind the list box's selection, or null when nothing is
// selected, the index is outside the list, or the slot is empty.
const WCHAR* SelectedName(HWND dialog, int listId, WCHAR* const* names, DWORD count);

// Records the chosen store and client driver, flushes the registry and
// switches the bus driver. Zero after an error box.
BOOL ApplySelection(HWND dialog);

// An error box: no owner, one OK button, captioned "Palvenor Error", with
// the text of this number.
void ShowErrorBox(UINT textId);

#endif
