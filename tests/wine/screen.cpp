// The dialog on the device's screen: where it stands on each CE screen size,
// and again when the screen turns or the input panel opens or closes.
#include "support.h"

#include <stdio.h>

static const wchar_t* const EMULATOR_KEY = L"Software\\Palvenor\\Emulator";

// The template's font as the dialog manager makes it, and its dialog base
// units: the average width of the 52 letters, rounded, and the height. (The
// dialog's own font handle is palvenor's, not ours.)
struct DeviceFont {
    HDC dc;
    HFONT font;
    HGDIOBJ previous;
    Text face;
    int height, baseX, baseY;
};

static DeviceFont OpenDeviceFont(void)
{
    DeviceFont font;
    font.dc = GetDC(NULL);
    font.font = CreateFontW(-MulDiv(8, GetDeviceCaps(font.dc, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE,
                            FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, L"System");
    font.previous = SelectObject(font.dc, font.font);
    // The face drawn: a substitute answers to the name asked for.
    font.face = L"?";
    UINT outlineBytes = GetOutlineTextMetricsW(font.dc, 0, NULL);
    std::vector<BYTE> outline(outlineBytes);
    if (outlineBytes != 0 && GetOutlineTextMetricsW(font.dc, outlineBytes, (OUTLINETEXTMETRICW*)outline.data()) != 0)
        font.face = (const wchar_t*)(outline.data() + (ULONG_PTR)((OUTLINETEXTMETRICW*)outline.data())->otmpFamilyName);
    TEXTMETRICW metrics;
    GetTextMetricsW(font.dc, &metrics);
    SIZE letters;
    GetTextExtentPoint32W(font.dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    font.height = metrics.tmHeight;
    font.baseX = (letters.cx / 26 + 1) / 2;
    font.baseY = metrics.tmHeight;
    return font;
}

static void CloseDeviceFont(DeviceFont* font)
{
    SelectObject(font->dc, font->previous);
    DeleteObject(font->font);
    ReleaseDC(NULL, font->dc);
}

// The device screen as the test set it up: the size it asked for, the
// taskbar of devices/default.reg and the input panel it described. What the
// user can see is the screen less the taskbar and a docked, open panel of
// that height; a panel that leaves nothing leaves the dialog the screen
// less the taskbar, its caption's close box in view.
static const int TASKBAR_HEIGHT = 26;
static struct {
    int width, height;
    DWORD panelFlags;
    int panelHeight;
} g_screen;

static RECT SeenArea(void)
{
    RECT area = {0, 0, g_screen.width, g_screen.height - TASKBAR_HEIGHT};
    if ((g_screen.panelFlags & (SIPF_ON | SIPF_DOCKED)) == (SIPF_ON | SIPF_DOCKED) &&
        g_screen.panelHeight < area.bottom)
        area.bottom -= g_screen.panelHeight;
    return area;
}

static void ScreenAsStarted(void)
{
    g_screen.width = GetSystemMetrics(SM_CXSCREEN);
    g_screen.height = GetSystemMetrics(SM_CYSCREEN);
    g_screen.panelFlags = SIPF_DOCKED;
    g_screen.panelHeight = 80;
}

static int Width(const RECT& r) { return r.right - r.left; }
static int Height(const RECT& r) { return r.bottom - r.top; }
static bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// A control's rectangle in the dialog's client area.
static RECT ControlRect(HWND dialog, int index)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, TEMPLATE_CONTROLS[index].id), &rect);
    MapWindowPoints(NULL, dialog, (POINT*)&rect, 2);
    return rect;
}

// The rectangle the template gives a control with this font.
static RECT TemplateRect(const DeviceFont& font, int index)
{
    const TemplateControl& c = TEMPLATE_CONTROLS[index];
    RECT rect;
    rect.left = MulDiv(c.x, font.baseX, 4);
    rect.top = MulDiv(c.y, font.baseY, 8);
    rect.right = rect.left + MulDiv(c.cx, font.baseX, 4);
    rect.bottom = rect.top + MulDiv(c.cy, font.baseY, 8);
    return rect;
}

static bool AtTemplate(HWND dialog, const DeviceFont& font)
{
    RECT client;
    GetClientRect(dialog, &client);
    bool same = Width(client) == MulDiv(TEMPLATE_CX, font.baseX, 4) && Height(client) == MulDiv(TEMPLATE_CY, font.baseY, 8);
    for (int i = 0; i < 7; i++) {
        RECT now = ControlRect(dialog, i), then = TemplateRect(font, i);
        same = same && EqualRect(&now, &then);
    }
    return same;
}

// What a person would find wrong with the dialog on this work area: a part
// of it off the area, controls on one another, a text wider than its
// control. Empty when the whole dialog shows.
static std::string Problems(HWND dialog, const RECT& workArea, const DeviceFont& font, int leastEntries)
{
    std::string problems;
    RECT window, client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    if (!Inside(window, workArea))
        problems += " the window lies off the work area;";
    for (int i = 0; i < 7; i++) {
        const TemplateControl& c = TEMPLATE_CONTROLS[i];
        // The text shown, in whatever language.
        Text text = WindowText(GetDlgItem(dialog, c.id));
        std::string name = !text.empty() ? Narrow(text) : c.id == IDC_FUNCTION_LIST ? "function list" : "storage list";
        RECT rect = ControlRect(dialog, i);
        if (!Inside(rect, client))
            problems += " " + name + " off the dialog;";
        for (int j = i + 1; j < 7; j++) {
            RECT other = ControlRect(dialog, j), overlap;
            if (IntersectRect(&overlap, &rect, &other))
                problems += " " + name + " on control " + std::to_string(j) + ";";
        }
        // Buttons centre their text within a 3-pixel edge; labels start at their left.
        SIZE extent = {};
        GetTextExtentPoint32W(font.dc, text.c_str(), (int)text.size(), &extent);
        int room = Width(rect) - (c.className == Text(L"#128") ? 6 : 0);
        if (!text.empty() && extent.cx > room)
            problems += " \"" + name + "\" cut;";
        // A list shows its least entries whole inside its border.
        RECT inside = {};
        GetClientRect(GetDlgItem(dialog, c.id), &inside);
        if ((c.id == IDC_FUNCTION_LIST || c.id == IDC_STORAGE_LIST) &&
            Height(inside) < leastEntries * (int)SendMessageW(GetDlgItem(dialog, c.id), LB_GETITEMHEIGHT, 0, 0))
            problems += " " + name + " shows fewer than " + std::to_string(leastEntries) + " entries whole;";
    }
    return problems;
}

// The user's language (HKCU\MUI, CurLang); 0 when none is chosen: English.
static DWORD UserLanguage(void)
{
    DWORD language = 0, size = sizeof(language);
    RegGetValueW(HKEY_CURRENT_USER, L"MUI", L"CurLang", RRF_RT_REG_DWORD, NULL, &language, &size);
    return language;
}

static std::string Describe(HWND dialog, const RECT& workArea, const DeviceFont& font)
{
    RECT window;
    GetWindowRect(dialog, &window);
    char line[256];
    RECT functions = ControlRect(dialog, 3), stores = ControlRect(dialog, 5);
    RECT functionsThen = TemplateRect(font, 3), storesThen = TemplateRect(font, 5);
    if (UserLanguage() != 0) {
        snprintf(line, sizeof(line), "work area %ld,%ld,%ld,%ld window %ld,%ld,%ld,%ld, the language's template",
                 workArea.left, workArea.top, workArea.right, workArea.bottom, window.left, window.top, window.right,
                 window.bottom);
    } else if (AtTemplate(dialog, font)) {
        snprintf(line, sizeof(line), "work area %ld,%ld,%ld,%ld window %ld,%ld,%ld,%ld, the template's layout",
                 workArea.left, workArea.top, workArea.right, workArea.bottom, window.left, window.top, window.right,
                 window.bottom);
    } else {
        snprintf(line, sizeof(line),
                 "work area %ld,%ld,%ld,%ld window %ld,%ld,%ld,%ld, fitted: the lists %d px narrower, %d and %d px shorter",
                 workArea.left, workArea.top, workArea.right, workArea.bottom, window.left, window.top, window.right,
                 window.bottom, Width(functionsThen) - Width(functions), Height(functionsThen) - Height(functions),
                 Height(storesThen) - Height(stores));
    }
    return line;
}

// The dialog fits what the user can see, with the template's layout
// wherever the template fits (the English one, whose rectangles the test
// knows), and each list shows leastEntries whole; waits for it, since a
// change reaches palvenor as a message.
static bool ExpectFits(HWND dialog, const DeviceFont& font, const char* when, int leastEntries)
{
    RECT workArea = SeenArea();
    bool templateFits = UserLanguage() == 0 && MulDiv(TEMPLATE_CX, font.baseX, 4) + 6 <= Width(workArea) &&
                        MulDiv(TEMPLATE_CY, font.baseY, 8) + 25 <= Height(workArea);
    bool fits = WaitUntil([&] {
        return Problems(dialog, workArea, font, leastEntries).empty() && (!templateFits || AtTemplate(dialog, font));
    });
    CHECK(fits, "%s: on the area %ld,%ld,%ld,%ld:%s%s", when, workArea.left, workArea.top, workArea.right,
          workArea.bottom, Problems(dialog, workArea, font, leastEntries).c_str(),
          templateFits && !AtTemplate(dialog, font) ? " the template fits, but the layout is another" : "");
    printf("     %s: %s; %s\n", when, Describe(dialog, workArea, font).c_str(), fits ? "fits" : "does not fit");
    return fits;
}

// Starts palvenor on the device screen in use and prints one line: the
// screen, the font the dialog got, where the dialog stands and the layout
// it has. The whole dialog must show, at the template's layout wherever
// the template fits.
int ScreenFit(void)
{
    g_scenario = "screen-fit";
    ScreenAsStarted();
    Palvenor app = Start();
    if (!WaitForDialog(&app))
        return 1;
    DeviceFont font = OpenDeviceFont();
    char when[128];
    snprintf(when, sizeof(when), "fit %dx%d, language %04lX, \"System\" 8 pt drawn as %s %d px, base units %dx%d",
             GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), UserLanguage() ? UserLanguage() : 0x409,
             Narrow(font.face).c_str(), font.height, font.baseX, font.baseY);
    ExpectFits(app.dialog, font, when, 2);
    CloseDeviceFont(&font);
    Press(app.dialog, IDCANCEL);
    ExpectExit(&app);
    return g_failures == 0 ? 0 : 1;
}

// The input panel opens or closes, docked (the emulated panel docks it
// above the taskbar) or floating over the dialog, and every top-level
// window is told, as CE tells them.
static void SetPanel(DWORD flags, int height)
{
    g_screen.panelFlags = flags;
    g_screen.panelHeight = height;
    RECT floating = {20, 40, g_screen.width - 20, 40 + height};
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Palvenor\\Emulator\\InputPanel", 0, NULL, 0, KEY_SET_VALUE,
                        NULL, &key, NULL) == ERROR_SUCCESS) {
        SetDword(key, L"Flags", flags);
        SetDword(key, L"Height", (DWORD)height);
        RegSetValueExW(key, L"FloatingRect", 0, REG_BINARY, (const BYTE*)&floating, sizeof(floating));
        RegCloseKey(key);
    }
    DWORD_PTR ignored;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETSIPINFO, 0, SMTO_NORMAL, WAIT_MS, &ignored);
}

// The screen turned, as CE turns it, to width x height.
static void TurnScreen(int width, int height)
{
    DEVMODEW mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    LONG changed = ChangeDisplaySettingsW(&mode, 0);
    CHECK(changed == DISP_CHANGE_SUCCESSFUL && WaitUntil([&] { return GetSystemMetrics(SM_CXSCREEN) == width; }),
          "the screen did not turn to %dx%d (%ld)", width, height, changed);
    g_screen.width = width;
    g_screen.height = height;
    DWORD_PTR ignored;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0, SMTO_NORMAL, WAIT_MS, &ignored);
}

static LRESULT TopEntry(HWND dialog)
{
    return SendMessageW(GetDlgItem(dialog, IDC_FUNCTION_LIST), LB_GETTOPINDEX, 0, 0);
}

// Where the dialog and its controls stand.
static std::vector<RECT> Placement(HWND dialog)
{
    std::vector<RECT> rects(1);
    GetWindowRect(dialog, &rects[0]);
    for (int i = 0; i < 7; i++)
        rects.push_back(ControlRect(dialog, i));
    return rects;
}

// On 240x320 with a taskbar, then turned to 320x240: the user moves the
// dialog, settings that change nothing it can see change, the input panel
// opens docked or floating and closes. After each the dialog fits what the
// user can see, with the template's layout wherever it fits; where nothing
// it can see changed it stays where it was, controls and all; and the
// lists show what they showed, with the same entries selected and scrolled
// to the same place.
int ScreenTurns(void)
{
    g_scenario = "screen-turns";
    ImportDevice({L"devices\\default.reg"});
    ScreenAsStarted();
    // More client drivers than the function list shows, so that it scrolls.
    for (int i = 0; i < 10; i++) {
        HKEY key;
        Text path = Text(CLIENT_DRIVERS_KEY) + L"\\Extra_" + std::to_wstring(i);
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    Palvenor app = Start();
    if (!WaitForDialog(&app))
        return 1;
    Choose(app.dialog, IDC_FUNCTION_LIST, 5);
    Choose(app.dialog, IDC_STORAGE_LIST, 1);
    SendMessageW(GetDlgItem(app.dialog, IDC_FUNCTION_LIST), LB_SETTOPINDEX, 4, 0);
    ListState functions = ReadList(app.dialog, IDC_FUNCTION_LIST), stores = ReadList(app.dialog, IDC_STORAGE_LIST);
    LRESULT top = TopEntry(app.dialog);
    CHECK(functions.entries.size() == 13 && top == 4, "%zu client drivers listed, the list scrolled to %ld",
          functions.entries.size(), (long)top);
    DeviceFont font = OpenDeviceFont();
    enum Change { MOVE, WALLPAPER, PANEL, TURN };
    const struct {
        const char* what;
        Change change;
        DWORD panelFlags;
        int panelHeight;
        bool stays;       // nothing the user can see changed: nothing moves
        int leastEntries; // each list shows this many whole
    } steps[] = {
        {"the user moves the dialog 20 pixels down", MOVE, 0, 0, true, 2},
        {"the wallpaper changes", WALLPAPER, 0, 0, true, 2},
        {"a floating input panel opens", PANEL, SIPF_ON, 80, true, 2},
        {"a 40-pixel docked panel opens: the dialog still fits where it is", PANEL, SIPF_ON | SIPF_DOCKED, 40, true, 2},
        {"it closes", PANEL, SIPF_DOCKED, 40, true, 2},
        {"an 80-pixel docked panel opens: 240x214", PANEL, SIPF_ON | SIPF_DOCKED, 80, false, 2},
        {"it closes", PANEL, SIPF_DOCKED, 80, true, 2},
        {"a 140-pixel docked panel opens: 240x154, the upper list at two entries", PANEL, SIPF_ON | SIPF_DOCKED, 140,
         false, 2},
        {"it closes", PANEL, SIPF_DOCKED, 140, false, 2},
        {"a docked panel taller than the screen: the dialog keeps the work area", PANEL, SIPF_ON | SIPF_DOCKED, 400,
         true, 2},
        {"an 80-pixel docked panel instead: 240x214", PANEL, SIPF_ON | SIPF_DOCKED, 80, false, 2},
        {"the screen turns to 320x240, the panel docked at its new bottom: 320x134", TURN, 0, 0, false, 1},
        {"it closes", PANEL, SIPF_DOCKED, 80, false, 2},
        {"a floating panel over the dialog: nothing moves", PANEL, SIPF_ON, 100, true, 2},
    };
    ExpectFits(app.dialog, font, "on 240x320 with a 26-pixel taskbar", 2);
    for (auto& step : steps) {
        std::vector<RECT> before = Placement(app.dialog);
        DWORD_PTR ignored;
        if (step.change == MOVE)
            SetWindowPos(app.dialog, NULL, before[0].left, before[0].top + 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        else if (step.change == WALLPAPER)
            SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, 0, SMTO_NORMAL, WAIT_MS, &ignored);
        else if (step.change == PANEL)
            SetPanel(step.panelFlags, step.panelHeight);
        else
            TurnScreen(320, 240);
        if (step.change == MOVE)
            CHECK(WaitUntil([&] { return Placement(app.dialog)[0].top == before[0].top + 20; }), "the dialog did not move");
        // Each change is sent, and handled, before the call returns.
        else if (step.stays)
            CHECK(memcmp(Placement(app.dialog).data(), before.data(), before.size() * sizeof(RECT)) == 0,
                  "%s: the dialog or a control moved, though nothing the user can see changed", step.what);
        ExpectFits(app.dialog, font, step.what, step.leastEntries);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, functions.entries, functions.selected);
        ExpectList(app.dialog, IDC_STORAGE_LIST, stores.entries, stores.selected);
        CHECK(TopEntry(app.dialog) == top, "%s: the function list scrolled from entry %ld to %ld", step.what,
              (long)top, (long)TopEntry(app.dialog));
    }
    CloseDeviceFont(&font);
    Press(app.dialog, IDCANCEL);
    ExpectExit(&app);
    return g_failures == 0 ? 0 : 1;
}

// A box waits while an input panel opens: the dialog fits the smaller area
// behind it, and the OK that waits on the box goes on as before.
void FitWhileABoxWaits(void)
{
    ImportDevice({L"devices\\default.reg"});
    ScreenAsStarted();
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        Choose(app.dialog, IDC_STORAGE_LIST, 1);
        Choose(app.dialog, IDC_FUNCTION_LIST, 0);
        Press(app.dialog, IDOK);
        CHECK(WaitForWindow(app, WARNING_CAPTION, true) != NULL, "no remove-cable warning");
        // Docked, it leaves 40 pixels less than the dialog's height in view,
        // whatever the screen: the dialog must be fitted anew.
        RECT window = {};
        GetWindowRect(app.dialog, &window);
        SetPanel(SIPF_ON | SIPF_DOCKED, g_screen.height - TASKBAR_HEIGHT - (Height(window) - 40));
        RECT seen = SeenArea();
        CHECK(!Inside(window, seen), "the panel leaves the dialog room: %ldx%ld", seen.right, seen.bottom);
        CHECK(WaitUntil([&] { return GetWindowRect(app.dialog, &window) && Inside(window, seen); }),
              "the dialog behind the box did not fit %ldx%ld: %ld,%ld,%ld,%ld", seen.right, seen.bottom, window.left,
              window.top, window.right, window.bottom);
        CHECK(FindWindows(app, WARNING_CAPTION).size() == 1 && FindWindows(app, ERROR_CAPTION).empty(),
              "the box that waited is gone, or another came");
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    ExpectWritten(L"DSK3:", L"Mass_Storage_Class");
    ExpectOneRequest(L"Mass_Storage_Class");
}
