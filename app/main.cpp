#include "app/choice_dialog.h"
#include "app/device_listener.h"
#include "app/dialog_layout.h"
#include "app/load_text.h"

#include "resources/resource.h"

HINSTANCE g_hInstance = NULL;

#define COMMON_CONTROL_CLASSES 0x00000200

static HWND CreateChoiceDialog(void)
{
    HRSRC resource = FindResourceW(g_hInstance, MAKEINTRESOURCEW(IDD_CHOICE), RT_DIALOG);
    if (resource == NULL)
        return NULL;
    HGLOBAL dialogTemplate = LoadResource(g_hInstance, resource);
    if (dialogTemplate == NULL)
        return NULL;
    return CreateDialogIndirectParamW(g_hInstance, (LPCDLGTEMPLATEW)dialogTemplate, NULL, ChoiceDialogProc, 0);
}

int RunApplication(void)
{
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = COMMON_CONTROL_CLASSES;
    InitCommonControlsEx(&controls);

    WCHAR title[TITLE_CHARS];
    memset(title, 0, sizeof(title));
    LoadStringW(g_hInstance, IDS_TITLE, title, TITLE_CHARS);

    // The caption of the dialog is the same string: a window found here is
    // the dialog of an instance already running.
    HWND running = FindWindowW(DIALOG_WINDOW_CLASS, title);
    if (running != NULL) {
        SetForegroundWindow((HWND)((ULONG_PTR)running | FOREGROUND_HANDLE_FLAG));
        return 0;
    }

    DeviceListener listener;
    ListenForDevices(&listener);
    HWND dialog = CreateChoiceDialog();
    if (dialog != NULL) {
        FitDialogToWorkArea(dialog);
        ShowWindow(dialog, SW_SHOW);
        UpdateWindow(dialog);
    }
    // The loop ends with the dialog, not with the quit message it posts.
    MSG msg;
    while (IsWindow(dialog)) {
        if (!WaitForMessage(&listener, dialog))
            continue;
        GetMessageW(&msg, NULL, 0, 0);
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    StopListening(&listener);
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, ENTRY_COMMAND_LINE commandLine, int showCommand)
{
    (void)previousInstance;
    (void)commandLine;
    (void)showCommand;
    g_hInstance = instance;
    return RunApplication();
}
