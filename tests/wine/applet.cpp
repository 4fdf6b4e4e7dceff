// palvenor.cpl as Control Panels use it: driven message by message in CE's
// order and the desktop's, and opened by the desktop's own Control Panel.
#include "support.h"

#include <commctrl.h>
#include <cpl.h>

static const Text APPLET_INFO = L"Pick from available USB functions to expose to a host device.";
static const wchar_t* const CPLS_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls";

// CE's layout: palvenor.cpl beside palvenor.exe in \Windows.
static Text AppletPath(void)
{
    wchar_t folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH);
    return Text(folder) + L"\\palvenor.cpl";
}

struct Applet {
    HMODULE module = NULL;
    APPLET_PROC call = NULL;
};

static Applet LoadApplet(const Text& path)
{
    Applet applet;
    applet.module = LoadLibraryW(path.c_str());
    CHECK(applet.module != NULL, "%s did not load (error %lu)", Narrow(path).c_str(), GetLastError());
    if (applet.module != NULL)
        applet.call = (APPLET_PROC)(void*)GetProcAddress(applet.module, "CPlApplet");
    CHECK(applet.module == NULL || applet.call != NULL, "no CPlApplet export");
    return applet;
}

static std::vector<HWND> PalvenorDialogs(void)
{
    std::vector<HWND> visible;
    for (HWND window : FindWindows(Palvenor(), TITLE)) {
        if (IsWindowVisible(window))
            visible.push_back(window);
    }
    return visible;
}

// The one palvenor.exe that was started, once its dialog shows.
Palvenor WaitForStartedDialog(void)
{
    Palvenor app;
    if (WaitUntil([] { return !PalvenorDialogs().empty(); }))
        app = Adopt(PalvenorDialogs()[0]);
    CHECK(app.dialog != NULL, "palvenor's dialog did not show");
    return app;
}

static void ExpectNewInquiry(const NEWCPLINFOW& info, const wchar_t* order)
{
    CHECK(info.dwSize == sizeof(info) && info.dwFlags == 0 && info.dwHelpContext == 0 && info.lData == 102,
          "%ls: NEWCPLINFO has size %lu, flags %lu, help %lu, lData %ld", order, info.dwSize, info.dwFlags,
          info.dwHelpContext, (long)info.lData);
    CHECK(Text(info.szName) == TITLE, "%ls: the name is \"%s\"", order, Narrow(info.szName).c_str());
    CHECK(Text(info.szInfo) == APPLET_INFO, "%ls: the info is \"%s\"", order, Narrow(info.szInfo).c_str());
    CHECK(info.szHelpFile[0] == 0, "%ls: a help file is named", order);
    ICONINFO icon = {};
    BITMAP image = {};
    bool got = info.hIcon != NULL && GetIconInfo(info.hIcon, &icon) &&
               GetObjectW(icon.hbmColor, sizeof(image), &image) == sizeof(image);
    CHECK(got && image.bmWidth == 32 && image.bmHeight == 32, "%ls: the icon is not 32x32 (%ldx%ld)", order,
          image.bmWidth, image.bmHeight);
    DeleteObject(icon.hbmColor);
    DeleteObject(icon.hbmMask);
}

// Opening the applet while nothing runs shows palvenor's dialog, and the
// Control Panel is left holding nothing of it.
static void ExpectOpens(const Applet& applet, const wchar_t* order)
{
    CHECK(applet.call(NULL, CPL_DBLCLK, 0, 102) == 0, "%ls: CPL_DBLCLK failed", order);
    Palvenor app = WaitForStartedDialog();
    if (app.dialog == NULL)
        return;
    DWORD processId = app.process.dwProcessId;

    // A second opening brings the running dialog forward and makes no other.
    HWND front = ShowFrontWindow();
    CHECK(applet.call(NULL, CPL_DBLCLK, 0, 102) == 0, "%ls: the second CPL_DBLCLK failed", order);
    CHECK(WaitForForeground(app.dialog), "%ls: the running dialog did not come to the front", order);
    CHECK(WaitUntil([] { return ProcessesNamed(L"palvenor.exe").size() == 1; }),
          "%ls: the second palvenor.exe did not end", order);
    CHECK(PalvenorDialogs().size() == 1, "%ls: %zu dialogs show", order, PalvenorDialogs().size());
    DestroyWindow(front);
    Press(app.dialog, IDCANCEL);
    ExpectExit(&app);
    // An ended process goes once no handle to it or its thread is left;
    // Wine lets it go a moment after the last one closes.
    CHECK(WaitUntil([&] {
              HANDLE held = OpenProcess(SYNCHRONIZE, FALSE, processId);
              CloseHandle(held);
              return held == NULL;
          }),
          "%ls: palvenor.exe's process or thread is still held", order);
}

static void DriveInOrder(const wchar_t* order, const std::vector<UINT>& messages)
{
    Applet applet = LoadApplet(AppletPath());
    if (applet.call == NULL)
        return;
    for (UINT message : messages) {
        LONG result;
        if (message == CPL_INQUIRE) {
            CPLINFO info;
            memset(&info, 0xdd, sizeof(info));
            result = applet.call(NULL, message, 0, (LPARAM)&info);
            CHECK(info.idIcon == 102 && info.idName == 1 && info.idInfo == 2 && info.lData == 0,
                  "%ls: CPLINFO is icon %d, name %d, info %d, lData %ld", order, info.idIcon, info.idName,
                  info.idInfo, (long)info.lData);
        } else if (message == CPL_NEWINQUIRE) {
            NEWCPLINFOW info;
            memset(&info, 0xdd, sizeof(info));
            result = applet.call(NULL, message, 0, (LPARAM)&info);
            ExpectNewInquiry(info, order);
        } else if (message == CPL_DBLCLK) {
            ExpectOpens(applet, order);
            continue;
        } else {
            result = applet.call(NULL, message, 0, 0);
        }
        LONG expected = message == CPL_INIT ? 1 : message == CPL_GETCOUNT ? 1 : 0;
        CHECK(result == expected, "%ls: message %u returned %ld, expected %ld", order, message, (long)result,
              (long)expected);
    }
    FreeLibrary(applet.module);
}

// A record of another applet, or none, is refused and left as it was.
static void RefusesBadRequests(void)
{
    Applet applet = LoadApplet(AppletPath());
    if (applet.call == NULL)
        return;
    CPLINFO info;
    memset(&info, 0xdd, sizeof(info));
    NEWCPLINFOW newInfo;
    memset(&newInfo, 0xdd, sizeof(newInfo));
    CHECK(applet.call(NULL, CPL_INQUIRE, 1, (LPARAM)&info) != 0 && info.idIcon == (int)0xdddddddd,
          "CPL_INQUIRE of applet 1 was answered");
    CHECK(applet.call(NULL, CPL_NEWINQUIRE, 1, (LPARAM)&newInfo) != 0 && newInfo.dwSize == 0xdddddddd,
          "CPL_NEWINQUIRE of applet 1 was answered");
    CHECK(applet.call(NULL, CPL_INQUIRE, 0, 0) != 0, "CPL_INQUIRE with no record was answered");
    CHECK(applet.call(NULL, CPL_NEWINQUIRE, 0, 0) != 0, "CPL_NEWINQUIRE with no record was answered");
    CHECK(applet.call(NULL, CPL_DBLCLK, 1, 0) != 0, "CPL_DBLCLK of applet 1 was answered");
    CHECK(ProcessesNamed(L"palvenor.exe").empty(), "a refused request started palvenor.exe");
    FreeLibrary(applet.module);
}

static DWORD WINAPI OpenApplet(LPVOID applet)
{
    return (DWORD)((Applet*)applet)->call(NULL, CPL_DBLCLK, 0, 102);
}

// With no palvenor.exe beside it, opening the applet shows one error box
// and fails; nothing is started.
static void ProgramAbsent(void)
{
    Text folder = g_repository + L"\\build\\applet-alone";
    CreateDirectoryW(folder.c_str(), NULL);
    Text path = folder + L"\\palvenor.cpl";
    CHECK(CopyFileW(AppletPath().c_str(), path.c_str(), FALSE), "could not copy the applet");
    Applet applet = LoadApplet(path);
    if (applet.call != NULL) {
        // The box is modal within the call: the call runs on a thread of its own.
        HANDLE opening = CreateThread(NULL, 0, OpenApplet, &applet, 0, NULL);
        Palvenor self;
        self.process.dwProcessId = GetCurrentProcessId();
        HWND box = WaitForWindow(self, ERROR_CAPTION, true);
        // Wine's message box never takes WS_EX_TOPMOST from MB_TOPMOST: only the owner is checked.
        CHECK(box != NULL && GetWindow(box, GW_OWNER) == NULL, "no error box, or one with an owner");
        AnswerBox(self, ERROR_CAPTION, L"Error in starting palvenor.exe.");
        DWORD result = 0;
        bool returned = WaitForSingleObject(opening, WAIT_MS) == WAIT_OBJECT_0;
        CHECK(returned && GetExitCodeThread(opening, &result) && result != 0, "CPL_DBLCLK did not return, or returned 0");
        CloseHandle(opening);
        CHECK(ProcessesNamed(L"palvenor.exe").empty(), "a palvenor.exe is running");
        // A call still under way keeps running in the applet's code: it stays loaded.
        if (returned)
            FreeLibrary(applet.module);
    }
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
}

void AppletProtocol(void)
{
    ImportDevice({L"devices\\default.reg"});
    DriveInOrder(L"CE's order", {CPL_INIT, CPL_GETCOUNT, CPL_NEWINQUIRE, CPL_DBLCLK, CPL_STOP, CPL_EXIT});
    DriveInOrder(L"the desktop's order", {CPL_INIT, CPL_GETCOUNT, CPL_INQUIRE, CPL_NEWINQUIRE, CPL_SELECT,
                                         CPL_STARTWPARMSW, CPL_DBLCLK, CPL_STOP, CPL_EXIT});
    RefusesBadRequests();
    ProgramAbsent();
}

// ---- the desktop's own Control Panel as host ----

// A list-view message to another process, its record passed through a
// buffer in that process and read back; place() points the record's own
// pointers into that buffer.
static void SendRemote(HWND list, HANDLE process, UINT message, WPARAM wParam, void* record, SIZE_T bytes,
                       void (*place)(void* record, void* remote))
{
    void* remote = VirtualAllocEx(process, NULL, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (remote == NULL)
        return;
    if (place != NULL)
        place(record, remote);
    WriteProcessMemory(process, remote, record, bytes, NULL);
    SendMessageW(list, message, wParam, (LPARAM)remote);
    ReadProcessMemory(process, remote, record, bytes, NULL);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
}

struct ItemText {
    LVITEMW item;
    wchar_t text[128];
};

static void PlaceText(void* record, void* remote)
{
    ((ItemText*)record)->item.pszText = ((ItemText*)remote)->text;
}

static Text ListViewItemText(HWND list, HANDLE process, int index)
{
    ItemText record = {};
    record.item.cchTextMax = 128;
    SendRemote(list, process, LVM_GETITEMTEXTW, index, &record, sizeof(record), PlaceText);
    record.text[127] = 0;
    return record.text;
}

// The list view of the Control Panel's window.
static BOOL CALLBACK FindPanelList(HWND window, LPARAM panel)
{
    ControlPanel* controlPanel = (ControlPanel*)panel;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == controlPanel->process.dwProcessId)
        controlPanel->list = FindWindowExW(window, NULL, WC_LISTVIEWW, NULL);
    return controlPanel->list == NULL;
}

static int FindItem(const ControlPanel& panel, const Text& text)
{
    int count = (int)SendMessageW(panel.list, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        if (ListViewItemText(panel.list, panel.process.hProcess, i) == text)
            return i;
    }
    return -1;
}

static void EndProcess(PROCESS_INFORMATION* process, const char* what)
{
    CHECK(WaitForSingleObject(process->hProcess, WAIT_MS) == WAIT_OBJECT_0, "%s did not end", what);
    TerminateProcess(process->hProcess, 1);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

bool OpenControlPanel(ControlPanel* panel)
{
    if (!Launch(NULL, L"control.exe", &panel->process)) {
        Fail(__FILE__, __LINE__, "control.exe did not start");
        return false;
    }
    WaitUntil([&] {
        panel->list = NULL;
        EnumWindows(FindPanelList, (LPARAM)panel);
        return panel->list != NULL && (panel->item = FindItem(*panel, TITLE)) >= 0;
    });
    CHECK(panel->item >= 0, "the Control Panel does not list \"%s\"", Narrow(TITLE).c_str());
    return panel->item >= 0;
}

// A click on the applet's icon selects it, as the Control Panel shows once it has.
void ClickApplet(const ControlPanel& panel, bool twice)
{
    RECT bounds = {};
    bounds.left = LVIR_ICON;
    SendRemote(panel.list, panel.process.hProcess, LVM_GETITEMRECT, panel.item, &bounds, sizeof(bounds), NULL);
    LPARAM centre = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    PostMessageW(panel.list, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    PostMessageW(panel.list, WM_LBUTTONUP, 0, centre);
    if (twice) {
        PostMessageW(panel.list, WM_LBUTTONDBLCLK, MK_LBUTTON, centre);
        PostMessageW(panel.list, WM_LBUTTONUP, 0, centre);
        return;
    }
    CHECK(WaitUntil([&] { return SendMessageW(panel.list, LVM_GETITEMSTATE, panel.item, LVIS_SELECTED) != 0; }),
          "a click did not select the applet");
}

// A double click on the applet's icon, and palvenor's dialog once it shows.
Palvenor OpenAppletFromPanel(const ControlPanel& panel)
{
    ClickApplet(panel, true);
    return WaitForStartedDialog();
}

void CloseControlPanel(ControlPanel* panel)
{
    if (panel->list != NULL)
        PostMessageW(GetAncestor(panel->list, GA_ROOT), WM_CLOSE, 0, 0);
    EndProcess(&panel->process, "the Control Panel");
}

void DesktopControlPanel(void)
{
    ImportDevice({L"devices\\default.reg"});

    // Given the applet's path, control.exe opens it at once.
    PROCESS_INFORMATION control;
    if (Launch(NULL, L"control.exe \"" + AppletPath() + L"\"", &control)) {
        Palvenor app = WaitForStartedDialog();
        EndProcess(&control, "control.exe with the applet's path");
        if (app.dialog != NULL)
            Press(app.dialog, IDCANCEL);
        ExpectExit(&app);
    } else {
        Fail(__FILE__, __LINE__, "control.exe did not start");
    }

    // Registered, the applet is listed in the Control Panel's window under its name, and opens from there.
    HKEY cpls;
    CHECK(RegCreateKeyExW(HKEY_CURRENT_USER, CPLS_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &cpls, NULL) == ERROR_SUCCESS,
          "the Cpls key cannot be made");
    SetString(cpls, L"Palvenor", AppletPath());
    ControlPanel panel;
    if (OpenControlPanel(&panel)) {
        Palvenor app = OpenAppletFromPanel(panel);
        if (app.dialog != NULL)
            Press(app.dialog, IDCANCEL);
        ExpectExit(&app);
    }
    CloseControlPanel(&panel);
    RegDeleteValueW(cpls, L"Palvenor");
    RegCloseKey(cpls);
}
