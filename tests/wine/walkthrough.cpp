// The walk-through of scripts/run on a display with no one at it: the main
// job done as a person does it, printed, with screenshots.
#include "support.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

// A window of palvenor's painted in full before the picture is taken: the
// paint is sent to palvenor's thread and done before this returns.
static void Paint(HWND window)
{
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, WAIT_MS, &ignored);
    GdiFlush();
}

// The screen, or only the part of it a window covers, as a BMP file.
static void SaveScreenshot(const Text& path)
{
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* pixels = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, NULL, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    DWORD imageBytes = ((width * 3 + 3) & ~3) * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + imageBytes;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(out, &file, sizeof(file), &written, NULL);
    WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, NULL);
    WriteFile(out, pixels, imageBytes, &written, NULL);
    CloseHandle(out);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
}

static void PrintSettings(const char* when)
{
    Outcome now = ReadOutcome();
    printf("%s:\n  DeviceName           %s\n  DefaultClientDriver  %s\n  bus's current driver %s\n", when,
           Describe(now.deviceName).c_str(), Describe(now.defaultDriver).c_str(),
           Describe(now.currentDriver).c_str());
}

static void PrintList(const char* title, const ListState& list)
{
    printf("%s\n", title);
    for (size_t i = 0; i < list.entries.size(); i++)
        printf("  %s %s\n", (int)i == list.selected ? "[x]" : "[ ]", Narrow(list.entries[i]).c_str());
}

static const Text CARD_KEY = L"6 Card", CARD_DEVICE = L"DSK6:", CARD_STORE = L"Camera Card";

// The main job as a person does it: look, pick another store and driver,
// put a card in and pick it, OK.
int Walkthrough(const Text& shots)
{
    g_scenario = "walk-through";
    // The card of an earlier walk-through is out as this one begins.
    TakeCardOut(CARD_KEY);
    PrintSettings("Before");
    Palvenor app = Start();
    if (!WaitForDialog(&app))
        return 1;
    Paint(app.dialog);
    SaveScreenshot(shots + L"\\dialog.bmp");
    ListState functions = ReadList(app.dialog, IDC_FUNCTION_LIST);
    ListState stores = ReadList(app.dialog, IDC_STORAGE_LIST);
    printf("\nThe dialog shows ([x] = preselected from the registry):\n");
    PrintList(Narrow(WindowText(GetDlgItem(app.dialog, 0xFFFF))).c_str(), functions);
    PrintList(Narrow(WindowText(GetDlgItem(app.dialog, IDC_STORAGE_LABEL))).c_str(), stores);

    int store = stores.entries.empty() ? LB_ERR : (stores.selected + 1) % (int)stores.entries.size();
    int function = functions.entries.empty() ? LB_ERR : (functions.selected + 1) % (int)functions.entries.size();
    if (store != LB_ERR && function != LB_ERR)
        printf("\nChoosing \"%s\" and \"%s\".\n", Narrow(stores.entries[store]).c_str(),
               Narrow(functions.entries[function]).c_str());
    Choose(app.dialog, IDC_STORAGE_LIST, store);
    Choose(app.dialog, IDC_FUNCTION_LIST, function);
    Paint(app.dialog);
    SaveScreenshot(shots + L"\\chosen.bmp");

    // A card put in while the dialog is open shows by itself; the choices stay.
    printf("\nPutting in a card, \"%s\" (%s), with the dialog open.\n", Narrow(CARD_STORE).c_str(),
           Narrow(CARD_DEVICE).c_str());
    DWORD putIn = GetTickCount();
    PutCardIn(CARD_KEY, CARD_DEVICE, CARD_STORE);
    bool shown = WaitUntil([&] { return StoreListed(app.dialog, CARD_STORE); });
    CHECK(shown, "the card did not show in the store list");
    ListState withCard = ReadList(app.dialog, IDC_STORAGE_LIST);
    printf("It showed after %lu ms, the choices kept:\n", GetTickCount() - putIn);
    PrintList(Narrow(WindowText(GetDlgItem(app.dialog, IDC_STORAGE_LABEL))).c_str(), withCard);
    ExpectList(app.dialog, IDC_FUNCTION_LIST, functions.entries, function);
    Paint(app.dialog);
    SaveScreenshot(shots + L"\\card.bmp");
    if (shown) {
        int card = (int)(std::find(withCard.entries.begin(), withCard.entries.end(), CARD_STORE) -
                         withCard.entries.begin());
        CHECK(withCard.selected == store, "the chosen store was not kept");
        printf("\nChoosing the card, then pressing OK.\n");
        Choose(app.dialog, IDC_STORAGE_LIST, card);
    }
    Press(app.dialog, IDOK);
    HWND box = WaitForWindow(app, WARNING_CAPTION, true);
    if (box != NULL) {
        Paint(app.dialog);
        Paint(box);
        SaveScreenshot(shots + L"\\warning.bmp");
        Text warning = WindowText(GetDlgItem(box, 0xFFFF));
        printf("\nA box captioned \"%s\" says: \"%s\"\n\n", Narrow(WARNING_CAPTION).c_str(), Narrow(warning).c_str());
        AnswerBox(app, WARNING_CAPTION, warning);
    }
    ExpectExit(&app);
    PrintSettings("After");
    return g_failures == 0 ? 0 : 1;
}

// scripts/run --control-panel with no one at the display: the applet in
// the desktop's Control Panel, opened as a double click opens it.
int ControlPanelWalkthrough(const Text& shots)
{
    g_scenario = "control-panel";
    ControlPanel panel;
    if (OpenControlPanel(&panel)) {
        ClickApplet(panel, false);
        Paint(GetAncestor(panel.list, GA_ROOT));
        SaveScreenshot(shots + L"\\control-panel.bmp");
        printf("The Control Panel lists \"%s\"; selected, it shows its description. Opening it, as a double click "
               "does.\n",
               Narrow(AppletName()).c_str());
        Palvenor app = OpenAppletFromPanel(panel);
        if (app.dialog != NULL) {
            Paint(app.dialog);
            SaveScreenshot(shots + L"\\control-panel-dialog.bmp");
            printf("palvenor.exe's dialog is open; closing it with Cancel.\n");
            Press(app.dialog, IDCANCEL);
        }
        ExpectExit(&app);
    }
    CloseControlPanel(&panel);
    return g_failures == 0 ? 0 : 1;
}

// For the X input test: returns 0 once a visible window with this caption
// is the foreground window, where keys typed now will go; 1 if none comes.
int WaitForeground(const Text& caption)
{
    bool inFront = WaitUntil([&] {
        HWND front = GetForegroundWindow();
        wchar_t text[128] = L"";
        return front != NULL && IsWindowVisible(front) && GetWindowTextW(front, text, 128) >= 0 && caption == text;
    });
    if (inFront)
        return 0;
    printf("no window \"%s\" came to the front\n", Narrow(caption).c_str());
    return 1;
}

// For the X input test: prints the screen point at the centre of the part
// of a control of the visible window with this caption that lies on the
// screen, where a click lands on it; 1 if there is none.
int PrintCentre(const Text& caption, int id)
{
    Palvenor anyone;
    HWND window = WaitForWindow(anyone, caption.c_str(), true);
    RECT control = {}, screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, shown = {};
    if (window == NULL || !GetWindowRect(GetDlgItem(window, id), &control) ||
        !IntersectRect(&shown, &control, &screen)) {
        printf("no control %d of \"%s\" on the screen\n", id, Narrow(caption).c_str());
        return 1;
    }
    printf("%ld %ld\n", (shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2);
    return 0;
}
