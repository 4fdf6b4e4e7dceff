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

// The main job as a person does it: look, pick another store and driver, OK.
int Walkthrough(const Text& shots)
{
    g_scenario = "walk-through";
    PrintSettings("Before");
    Palvenor app = Start();
    if (!WaitForDialog(&app))
        return 1;
    Paint(app.dialog);
    SaveScreenshot(shots + L"\\dialog.bmp");
    ListState functions = ReadList(app.dialog, IDC_FUNCTION_LIST);
    ListState stores = ReadList(app.dialog, IDC_STORAGE_LIST);
    printf("\nThe dialog shows ([x] = preselected from the registry):\n");
    PrintList("USB Functions", functions);
    PrintList("Mass Storage to Expose:", stores);

    int store = stores.entries.empty() ? LB_ERR : (stores.selected + 1) % (int)stores.entries.size();
    int function = functions.entries.empty() ? LB_ERR : (functions.selected + 1) % (int)functions.entries.size();
    if (store != LB_ERR && function != LB_ERR)
        printf("\nChoosing \"%s\" and \"%s\", then pressing OK.\n", Narrow(stores.entries[store]).c_str(),
               Narrow(functions.entries[function]).c_str());
    Choose(app.dialog, IDC_STORAGE_LIST, store);
    Choose(app.dialog, IDC_FUNCTION_LIST, function);
    Paint(app.dialog);
    SaveScreenshot(shots + L"\\chosen.bmp");
    Press(app.dialog, IDOK);
    HWND box = WaitForWindow(app, WARNING_CAPTION, true);
    if (box != NULL) {
        Paint(app.dialog);
        Paint(box);
        SaveScreenshot(shots + L"\\warning.bmp");
        printf("\nA box captioned \"%s\" says: \"%s\"\n\n", Narrow(WARNING_CAPTION).c_str(),
               Narrow(WindowText(GetDlgItem(box, 0xFFFF))).c_str());
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
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
               Narrow(TITLE).c_str());
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

// ---- where the dialog fits on the device's screen ----

struct ControlOnScreen {
    int id;
    const char* name;
};

static bool OnScreen(const RECT& rect, int width, int height)
{
    return rect.left >= 0 && rect.top >= 0 && rect.right <= width && rect.bottom <= height;
}

// Starts palvenor on the device screen in use and prints one line: the
// screen, the dialog's window rectangle, the font the dialog got, its size
// in pixels against what CE's dialog units give for that font, and whether
// the caption, the three buttons and both lists lie on the screen. The
// dialog's size must be what its dialog units make it.
int ScreenFit(void)
{
    g_scenario = "screen-fit";
    Palvenor app = Start();
    if (!WaitForDialog(&app))
        return 1;
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    RECT window, client;
    GetWindowRect(app.dialog, &window);
    GetClientRect(app.dialog, &client);

    // The template's font, made as the dialog manager makes it, and its
    // dialog base units: the average width of the 52 letters, rounded, and
    // the height. (The dialog's own font handle is palvenor's, not ours.)
    HDC dc = GetDC(NULL);
    HFONT font = CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, L"System");
    HGDIOBJ previous = SelectObject(dc, font);
    // The face drawn: a substitute answers to the name asked for.
    Text face = L"?";
    UINT outlineBytes = GetOutlineTextMetricsW(dc, 0, NULL);
    std::vector<BYTE> outline(outlineBytes);
    if (outlineBytes != 0 && GetOutlineTextMetricsW(dc, outlineBytes, (OUTLINETEXTMETRICW*)outline.data()) != 0) {
        const OUTLINETEXTMETRICW* metricsOfOutline = (const OUTLINETEXTMETRICW*)outline.data();
        face = (const wchar_t*)(outline.data() + (ULONG_PTR)metricsOfOutline->otmpFamilyName);
    }
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    SIZE letters;
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    int baseX = (letters.cx / 26 + 1) / 2, baseY = metrics.tmHeight;
    int expectedWidth = MulDiv(167, baseX, 4), expectedHeight = MulDiv(112, baseY, 8);
    CHECK(abs(client.right - expectedWidth) <= 1 && abs(client.bottom - expectedHeight) <= 1,
          "the dialog is %ldx%ld pixels inside, its dialog units give %dx%d", client.right, client.bottom,
          expectedWidth, expectedHeight);

    // The caption, with its close box, is the top of the window down to the client area.
    POINT clientTop = {0, 0};
    ClientToScreen(app.dialog, &clientTop);
    RECT caption = {window.left, window.top, window.right, clientTop.y};
    std::string cut;
    if (!OnScreen(caption, width, height))
        cut += " caption";
    const ControlOnScreen controls[] = {{IDOK, "OK"},
                                        {IDC_REFRESH, "Refresh"},
                                        {IDCANCEL, "Cancel"},
                                        {IDC_FUNCTION_LIST, "function-list"},
                                        {IDC_STORAGE_LIST, "storage-list"}};
    for (const ControlOnScreen& control : controls) {
        RECT rect;
        GetWindowRect(GetDlgItem(app.dialog, control.id), &rect);
        if (!OnScreen(rect, width, height))
            cut += std::string(" ") + control.name;
    }
    printf("fit %dx%d window %ld,%ld,%ld,%ld size %ldx%ld client %ldx%ld font \"System\" 8 pt drawn as %s, %ld px high, base units %dx%d, "
           "dialog units give %dx%d; over the right edge %ld px, over the bottom %ld px; %s%s\n",
           width, height, window.left, window.top, window.right, window.bottom, window.right - window.left,
           window.bottom - window.top, client.right, client.bottom, Narrow(face).c_str(), metrics.tmHeight, baseX,
           baseY, expectedWidth, expectedHeight, std::max(0L, window.right - width), std::max(0L, window.bottom - height),
           cut.empty() ? "fits" : "cut:", cut.c_str());
    Press(app.dialog, IDCANCEL);
    ExpectExit(&app);
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
