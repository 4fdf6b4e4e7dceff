// palvenor.cpl as Control Panels use it: driven message by message in CE's
// order and the desktop's, and opened by the desktop's own Control Panel.
#include "support.h"

#include <commctrl.h>
#include <cpl.h>

#include <algorithm>

static const Text APPLET_INFO = L"Pick from available USB functions to expose to a host device.";
// CE's cpl.h has it; the desktop's does not.
static const UINT CPL_IDNAME = 100;
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
    // palvenor's dialog in whatever language: the dialog with the function list.
    for (HWND window : FindWindows(Palvenor(), NULL)) {
        if (IsWindowVisible(window) && GetDlgItem(window, IDC_FUNCTION_LIST) != NULL)
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

// One call into the applet, and what it showed: a box is modal within the
// call, so the call runs on a thread of its own while the driver looks.
struct Call {
    APPLET_PROC proc = NULL;
    HWND owner = NULL;
    UINT message = 0;
    LPARAM applet = 0, record = 0;
    LONG result = -1;
    bool returned = false;
    Text box;                  // "caption: text" of the box it showed, if any
    HWND boxOwner = NULL;
    bool ownerEnabled = true;  // the owner's state while the box was up
};

// Calls that had not returned when their wait ended.
static int g_callsUnderWay;

static DWORD WINAPI RunCall(LPVOID call)
{
    Call* c = (Call*)call;
    c->result = c->proc(c->owner, c->message, c->applet, c->record);
    return 0;
}

static BOOL CALLBACK FindBox(HWND window, LPARAM box)
{
    wchar_t className[16];
    if (IsWindowVisible(window) && GetClassNameW(window, className, 16) && lstrcmpW(className, DIALOG_CLASS) == 0)
        *(HWND*)box = window;
    return *(HWND*)box == NULL;
}

// A box the call shows is read and answered with OK. A call that does not
// return within the wait is reported, and its thread and record are left to
// it (the applet stays loaded while its code runs).
static Call* CallApplet(const Applet& applet, HWND owner, UINT message, LPARAM number, LPARAM record)
{
    Call* call = new Call();
    call->proc = applet.call;
    call->owner = owner;
    call->message = message;
    call->applet = number;
    call->record = record;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(NULL, 0, RunCall, call, 0, &threadId);
    HWND box = NULL;
    auto ended = [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; };
    WaitUntil([&] {
        EnumThreadWindows(threadId, FindBox, (LPARAM)&box);
        return ended() || box != NULL;
    });
    if (box != NULL) {
        call->box = WindowText(box) + L": " + WindowText(GetDlgItem(box, 0xFFFF));
        call->boxOwner = GetWindow(box, GW_OWNER);
        call->ownerEnabled = owner == NULL || !WaitUntil([&] { return !IsWindowEnabled(owner); });
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    // Closing a box enables its owner, a window of this thread: messages go through while waiting.
    call->returned = WaitUntil(ended);
    CHECK(call->returned, "message %u did not return%s%s", message, box ? "; it showed " : "",
          Narrow(call->box).c_str());
    if (!call->returned)
        g_callsUnderWay++;
    CloseHandle(thread);
    return call;
}

// A call that shows nothing and returns; its result, or -1.
static LONG CallQuietly(const Applet& applet, UINT message, LPARAM number, LPARAM record, const wchar_t* order)
{
    Call* call = CallApplet(applet, NULL, message, number, record);
    CHECK(call->box.empty(), "%ls: message %u showed \"%s\"", order, message, Narrow(call->box).c_str());
    if (!call->returned)
        return -1;
    LONG result = call->result;
    delete call;
    return result;
}

static void FreeApplet(const Applet& applet)
{
    // A call still under way keeps running in the applet's code: it stays loaded.
    if (g_callsUnderWay == 0)
        FreeLibrary(applet.module);
}

// Opening the applet while nothing runs shows palvenor's dialog, and the
// Control Panel is left holding nothing of it.
static void ExpectOpens(const Applet& applet, const wchar_t* order)
{
    CHECK(CallQuietly(applet, CPL_DBLCLK, 0, 102, order) == 0, "%ls: CPL_DBLCLK failed", order);
    Palvenor app = WaitForStartedDialog();
    if (app.dialog == NULL)
        return;
    DWORD processId = app.process.dwProcessId;

    // A second opening brings the running dialog forward and makes no other.
    HWND front = ShowFrontWindow();
    CHECK(CallQuietly(applet, CPL_DBLCLK, 0, 102, order) == 0, "%ls: the second CPL_DBLCLK failed", order);
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

// The answers a Control Panel host acts on, in the order it asks.
static void DriveInOrder(const wchar_t* order, const std::vector<UINT>& messages)
{
    Applet applet = LoadApplet(AppletPath());
    if (applet.call == NULL)
        return;
    for (UINT message : messages) {
        if (message == CPL_INIT) {
            CHECK(CallQuietly(applet, message, 0, 0, order) != 0, "%ls: CPL_INIT refused loading", order);
        } else if (message == CPL_GETCOUNT) {
            LONG count = CallQuietly(applet, message, 0, 0, order);
            CHECK(count == 1, "%ls: %ld applets counted", order, (long)count);
        } else if (message == CPL_INQUIRE) {
            CPLINFO info;
            memset(&info, 0xdd, sizeof(info));
            LONG result = CallQuietly(applet, message, 0, (LPARAM)&info, order);
            // The texts depend on the language: the host is sent to CPL_NEWINQUIRE for them.
            CHECK(result == 0 && info.idIcon == 102 && info.idName == CPL_DYNAMIC_RES &&
                      info.idInfo == CPL_DYNAMIC_RES && info.lData == 0,
                  "%ls: CPL_INQUIRE returned %ld, icon %d, name %d, info %d, lData %ld", order, (long)result,
                  info.idIcon, info.idName, info.idInfo, (long)info.lData);
        } else if (message == CPL_NEWINQUIRE) {
            NEWCPLINFOW info;
            memset(&info, 0xdd, sizeof(info));
            CHECK(CallQuietly(applet, message, 0, (LPARAM)&info, order) == 0, "%ls: CPL_NEWINQUIRE failed", order);
            ExpectNewInquiry(info, order);
        } else if (message == CPL_IDNAME) {
            wchar_t name[32];
            wmemset(name, 0xdddd, 32);
            LONG result = CallQuietly(applet, message, 0, (LPARAM)name, order);
            CHECK(result == 0 && wmemchr(name, 0, 32) != NULL && Text(name) == L"Palvenor",
                  "%ls: CPL_IDNAME returned %ld with \"%s\"", order, (long)result, Narrow(Text(name, 8)).c_str());
        } else if (message == CPL_STARTWPARMSW) {
            // "Not handled", for any applet: the host opens it with CPL_DBLCLK.
            for (LPARAM number : {0, 1}) {
                LONG result = CallQuietly(applet, message, number, (LPARAM)L"parameters", order);
                CHECK(result == 0, "%ls: CPL_STARTWPARMSW of applet %ld returned %ld", order, (long)number,
                      (long)result);
            }
            CHECK(ProcessesNamed(L"palvenor.exe").empty(), "%ls: CPL_STARTWPARMSW started palvenor.exe", order);
        } else if (message == CPL_DBLCLK) {
            ExpectOpens(applet, order);
        } else {
            // CPL_SELECT, CPL_STOP, CPL_EXIT: hosts read no answer; nothing may show or start.
            CallQuietly(applet, message, 0, 0, order);
            CHECK(ProcessesNamed(L"palvenor.exe").empty(), "%ls: message %u started palvenor.exe", order, message);
        }
    }
    FreeApplet(applet);
}

// What is not this applet's to answer is refused, nonzero, with nothing
// written or started: another applet's number, no record, a message it
// does not handle.
static void RefusesBadRequests(void)
{
    Applet applet = LoadApplet(AppletPath());
    if (applet.call == NULL)
        return;
    struct {
        const char* what;
        UINT message;
        LPARAM applet;
        bool record;
    } requests[] = {
        {"CPL_INQUIRE of applet 1", CPL_INQUIRE, 1, true},
        {"CPL_NEWINQUIRE of applet 1", CPL_NEWINQUIRE, 1, true},
        {"CPL_IDNAME of applet 1", CPL_IDNAME, 1, true},
        {"CPL_DBLCLK of applet 1", CPL_DBLCLK, 1, true},
        {"CPL_INQUIRE with no record", CPL_INQUIRE, 0, false},
        {"CPL_NEWINQUIRE with no record", CPL_NEWINQUIRE, 0, false},
        {"CPL_IDNAME with no buffer", CPL_IDNAME, 0, false},
        {"message 0", 0, 0, true},
        {"CPL_STARTWPARMSA", CPL_STARTWPARMSA, 0, true},
        {"message 11", 11, 0, true},
        {"message 99", 99, 0, true},
        {"message 101", 101, 0, true},
        {"CPL_SETUP", CPL_SETUP, 0, true},
        {"WM_CPL_LAUNCH", WM_CPL_LAUNCH, 0, true},
    };
    for (auto& r : requests) {
        BYTE record[sizeof(NEWCPLINFOW)];
        memset(record, 0xdd, sizeof(record));
        LONG result = CallQuietly(applet, r.message, r.applet, r.record ? (LPARAM)record : 0, L"a bad request");
        bool untouched = std::all_of(record, record + sizeof(record), [](BYTE b) { return b == 0xdd; });
        CHECK(result != 0 && untouched, "%s was answered %ld%s", r.what, (long)result,
              untouched ? "" : ", and its record written");
    }
    CHECK(ProcessesNamed(L"palvenor.exe").empty(), "a refused request started palvenor.exe");
    FreeApplet(applet);
}

// With no palvenor.exe beside it, opening the applet shows one error box and
// fails; nothing is started. The box belongs to the Control Panel's window
// when the host gives one, which takes no input while it is up.
static void ProgramAbsent(void)
{
    Text folder = g_repository + L"\\build\\applet-alone";
    CreateDirectoryW(folder.c_str(), NULL);
    Text path = folder + L"\\palvenor.cpl";
    CHECK(CopyFileW(AppletPath().c_str(), path.c_str(), FALSE), "could not copy the applet");
    Applet applet = LoadApplet(path);
    HWND panel = ShowFrontWindow();
    for (HWND owner : {(HWND)NULL, panel}) {
        if (applet.call == NULL)
            break;
        Call* call = CallApplet(applet, owner, CPL_DBLCLK, 0, 102);
        // Wine's message box never takes WS_EX_TOPMOST from MB_TOPMOST: only the owner is checked.
        CHECK(call->box == Text(ERROR_CAPTION) + L": Error in starting palvenor.exe.", "with owner %p, the box: \"%s\"",
              (void*)owner, Narrow(call->box).c_str());
        CHECK(call->boxOwner == owner && !(owner != NULL && call->ownerEnabled),
              "with owner %p, the box is owned by %p, and the owner took input: %d", (void*)owner,
              (void*)call->boxOwner, call->ownerEnabled);
        CHECK(call->result != 0, "CPL_DBLCLK with no palvenor.exe returned %ld", (long)call->result);
        if (call->returned)
            delete call;
    }
    DestroyWindow(panel);
    CHECK(ProcessesNamed(L"palvenor.exe").empty(), "a palvenor.exe is running");
    FreeApplet(applet);
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
}

void AppletProtocol(void)
{
    ImportDevice({L"devices\\default.reg"});
    DriveInOrder(L"CE's order",
                 {CPL_INIT, CPL_GETCOUNT, CPL_NEWINQUIRE, CPL_IDNAME, CPL_DBLCLK, CPL_STOP, CPL_EXIT});
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

// The applet's name as it gives it, in the user's language.
Text AppletName(void)
{
    Applet applet = LoadApplet(AppletPath());
    NEWCPLINFOW info = {};
    if (applet.call != NULL && applet.call(NULL, CPL_NEWINQUIRE, 0, (LPARAM)&info) == 0 && info.hIcon != NULL)
        DestroyIcon(info.hIcon);
    FreeLibrary(applet.module);
    return info.szName;
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
        return panel->list != NULL && (panel->item = FindItem(*panel, AppletName())) >= 0;
    });
    CHECK(panel->item >= 0, "the Control Panel does not list \"%s\"", Narrow(AppletName()).c_str());
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

    // Given the applet's path, control.exe opens it at once; given parameters
    // too, it offers them with CPL_STARTWPARMSW and opens it when they are not taken.
    for (const wchar_t* parameters : {L"", L",@0,parameters"}) {
        PROCESS_INFORMATION control;
        if (!Launch(NULL, L"control.exe \"" + AppletPath() + L"\"" + parameters, &control)) {
            Fail(__FILE__, __LINE__, "control.exe did not start");
            continue;
        }
        Palvenor app = WaitForStartedDialog();
        CHECK(app.dialog != NULL, "control.exe with \"%s\" did not open the dialog", Narrow(parameters).c_str());
        EndProcess(&control, "control.exe with the applet's path");
        if (app.dialog != NULL)
            Press(app.dialog, IDCANCEL);
        ExpectExit(&app);
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
