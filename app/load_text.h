#ifndef PALVENOR_LOAD_TEXT_H
#define PALVENOR_LOAD_TEXT_H

#include "platform.h"

// A text of the module's string table, in the user's language where the
// device has it (the platform looks in the language's resource file first,
// then in the module). One that cannot be loaded at all reads "Palvenor
// Error" and its number, two digits, so that no box or entry is ever empty.
// chars is at least 18.
void LoadText(HINSTANCE module, UINT id, WCHAR* text, int chars);

// A box's buffers, with the terminator. The longest text a box shows, in
// any language, is 77 units (French); a host test holds every language's
// texts to these.
#define BOX_TEXT_CHARS 120
#define BOX_CAPTION_CHARS 40
// The dialog's title, by which a second start finds it, and the text of a
// list entry that could not be read; a host test holds them too.
#define TITLE_CHARS 100
#define SLOT_TEXT_CHARS 40

// A box with one OK button, on top, with the module's texts of these
// numbers; owned by owner, which takes no input while it is up, or by none.
void ShowTextBox(HINSTANCE module, HWND owner, UINT textId, UINT captionId);

#endif
