#include "applet/fit_text.h"

void FitText(const WCHAR* text, WCHAR* field, int fieldChars)
{
    int room = fieldChars - 1; // the terminator takes the last unit
    int length = 0;
    while (length <= room && text[length] != 0)
        length++;
    int cut = length;
    if (length > room) {
        // A space at i ends the word before it, and the sentence when a stop precedes it.
        int sentenceEnd = 0, wordEnd = 0;
        for (int i = 1; i <= room; i++) {
            if (text[i] != ' ' || text[i - 1] == ' ')
                continue;
            wordEnd = i;
            if (text[i - 1] == '.' || text[i - 1] == '!' || text[i - 1] == '?')
                sentenceEnd = i;
        }
        cut = sentenceEnd != 0 ? sentenceEnd : wordEnd;
    }
    for (int i = 0; i < cut; i++)
        field[i] = text[i];
    field[cut] = 0;
}
