#ifndef PALVENOR_FIT_TEXT_H
#define PALVENOR_FIT_TEXT_H

#include "platform.h"

// Copies text into a field of fieldChars units, always terminated: whole
// when it fits, else up to the last sentence end that fits, else up to the
// last whole word that fits, else nothing; never part of a word. Reads at
// most fieldChars units of text.
void FitText(const WCHAR* text, WCHAR* field, int fieldChars);

#endif
