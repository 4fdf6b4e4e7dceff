// The yardstick for palvenor.exe's size and start-up: a dialog from a
// template, common-controls initialisation and a message loop, nothing else.
// Built twice: as a desktop program (minimal_desktop.cpp) and the way
// palvenor.exe is built, as a CE program (minimal_ce.cpp).
#include "minimal_dialog.h"

#include <commctrl.h>

static INT_PTR CALLBACK MinimalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if ((message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) || message == WM_CLOSE) {
        DestroyWindow(dialog);
        return TRUE;
    }
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return FALSE;
}

int RunMinimalDialog(HINSTANCE instance)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_USEREX_CLASSES};
    InitCommonControlsEx(&controls);
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(101), (LPCWSTR)RT_DIALOG);
    HWND dialog = CreateDialogIndirectParamW(instance, (LPCDLGTEMPLATEW)LoadResource(instance, resource), NULL,
                                             MinimalDialogProc, 0);
    ShowWindow(dialog, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}
