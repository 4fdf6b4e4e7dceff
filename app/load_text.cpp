#include "app/load_text.h"

void LoadText(HINSTANCE module, UINT id, WCHAR* text, int chars)
{
    if (LoadStringW(module, id, text, chars) > 0)
        return;
    static const WCHAR FALLBACK[] = TEXT("Palvenor Error 00");
    const int length = sizeof(FALLBACK) / sizeof(WCHAR) - 1;
    for (int i = 0; i <= length; i++)
        text[i] = FALLBACK[i];
    text[length - 2] = (WCHAR)('0' + id / 10); // the string numbers are below 100
    text[length - 1] = (WCHAR)('0' + id % 10);
}

void ShowTextBox(HINSTANCE module, HWND owner, UINT textId, UINT captionId)
{
    WCHAR text[BOX_TEXT_CHARS], caption[BOX_CAPTION_CHARS];
    LoadText(module, textId, text, BOX_TEXT_CHARS);
    LoadText(module, captionId, caption, BOX_CAPTION_CHARS);
    MessageBoxW(owner, text, caption, MB_TOPMOST);
}
