// The yardstick for palvenor.exe's size and start-up: a dialog from a
// template, common-controls initialisation and a message loop, nothing else.
#include <windows.h>
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_USEREX_CLASSES};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(101), NULL, MinimalDialogProc, 0);
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
