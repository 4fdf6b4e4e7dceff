// Drives the real palvenor.exe under Wine as a person would: starts it, reads
// and chooses in its lists, presses its buttons and keys, answers its message
// boxes, then checks the registry, the emulated bus and the exit code.
//
//   driver.exe <repository> <palvenor.exe> [scenario ...]   (none: all)
//   driver.exe --walkthrough <repository> <palvenor.exe> <screenshot folder>
//   driver.exe --timings <repository> <palvenor.exe> <minimal_dialog.exe> <runs>
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ce_services.h"
#include "platform/win32/emulated_device.h"

typedef std::wstring Text;
typedef std::vector<BYTE> Bytes;

static const wchar_t* const DIALOG_CLASS = L"#32770";
static const wchar_t* const TITLE = L"USB Function Palvenor";
static const wchar_t* const ERROR_CAPTION = L"Palvenor Error";
static const wchar_t* const WARNING_CAPTION = L"USB Palvenor";
static const wchar_t* const WARNING_TEXT = L"Driver Issue...\r\n\n    Remove USB cable now!.";
static const wchar_t* const CLIENT_DRIVERS_KEY = L"Drivers\\USB\\FunctionDrivers";
static const wchar_t* const MASS_STORAGE_KEY = L"Drivers\\USB\\FunctionDrivers\\Mass_Storage_Class";
static const wchar_t* const BUS_KEY = L"Software\\Palvenor\\Emulator\\FunctionBus";
static const wchar_t* const STORES_KEY = L"Software\\Palvenor\\Emulator\\Stores";

enum { IDC_REFRESH = 1000, IDC_FUNCTION_LIST = 1001, IDC_STORAGE_LIST = 1002 };
static const DWORD WAIT_MS = 10000;

static Text g_repository;
static Text g_palvenor;
static const char* g_scenario = "";
static int g_failures;

static void Fail(int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printf("FAIL %s (driver.cpp:%d): ", g_scenario, line);
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
    va_end(args);
    g_failures++;
}

#define CHECK(condition, ...)                    \
    do {                                         \
        if (!(condition))                        \
            Fail(__LINE__, __VA_ARGS__);         \
    } while (0)

static std::string Narrow(const Text& text)
{
    std::string narrow;
    for (wchar_t unit : text) {
        if (unit == L'\r')
            narrow += "\\r";
        else if (unit == L'\n')
            narrow += "\\n";
        else
            narrow += unit < 0x80 ? (char)unit : '?';
    }
    return narrow;
}

static std::string Join(const std::vector<Text>& texts)
{
    std::string joined = "[";
    for (size_t i = 0; i < texts.size(); i++)
        joined += (i ? ", \"" : "\"") + Narrow(texts[i]) + "\"";
    return joined + "]";
}

// ---- registry ----

struct Value {
    bool present = false;
    DWORD type = 0;
    Bytes data;
    bool operator==(const Value& other) const
    {
        return present == other.present && type == other.type && data == other.data;
    }
};

static Value ReadValue(const wchar_t* path, const wchar_t* name)
{
    Value value;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, NULL, &value.type, NULL, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.present =
            RegQueryValueExW(key, name, NULL, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return value;
}

// A REG_SZ value holding text and its terminator, nothing more.
static Value StringValue(const Text& text)
{
    Value value;
    value.present = true;
    value.type = REG_SZ;
    const BYTE* bytes = (const BYTE*)text.c_str();
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

static std::string Describe(const Value& value)
{
    if (!value.present)
        return "absent";
    if (value.type == REG_SZ) {
        Text text((const wchar_t*)value.data.data(), value.data.size() / 2);
        return "REG_SZ \"" + Narrow(text.substr(0, text.find(L'\0'))) + "\" (" + std::to_string(value.data.size()) +
               " bytes)";
    }
    return "type " + std::to_string(value.type) + ", " + std::to_string(value.data.size()) + " bytes";
}

static DWORD RequestCount(void)
{
    Value count = ReadValue(BUS_KEY, L"RequestCount");
    return count.present && count.data.size() == 4 ? *(const DWORD*)count.data.data() : 0;
}

// Everything palvenor may change: the two settings and the bus.
struct Outcome {
    Value deviceName, defaultDriver, currentDriver, requestCount;
    bool operator==(const Outcome& other) const
    {
        return deviceName == other.deviceName && defaultDriver == other.defaultDriver &&
               currentDriver == other.currentDriver && requestCount == other.requestCount;
    }
};

static Outcome ReadOutcome(void)
{
    Outcome outcome;
    outcome.deviceName = ReadValue(MASS_STORAGE_KEY, L"DeviceName");
    outcome.defaultDriver = ReadValue(CLIENT_DRIVERS_KEY, L"DefaultClientDriver");
    outcome.currentDriver = ReadValue(BUS_KEY, L"CurrentClientDriver");
    outcome.requestCount = ReadValue(BUS_KEY, L"RequestCount");
    return outcome;
}

// Wine 8 now and then fails a CreateProcess with ERROR_INTERNAL_ERROR while
// an earlier process is still winding down; the start is tried again.
static bool Launch(const wchar_t* application, const Text& commandLine, PROCESS_INFORMATION* process)
{
    for (int attempt = 0; attempt < 5; attempt++) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(0);
        if (CreateProcessW(application, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, process))
            return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR)
            break;
        Sleep(100);
    }
    return false;
}

static bool RunAndWait(const Text& commandLine)
{
    PROCESS_INFORMATION process;
    if (!Launch(NULL, commandLine, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

// The device as a .reg file of the repository, on a registry cleared of any
// earlier device; further files are laid over it in order.
static void ImportDevice(std::initializer_list<const wchar_t*> files)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Palvenor");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, CLIENT_DRIVERS_KEY);
    for (const wchar_t* file : files) {
        Text path = g_repository + L"\\" + file;
        CHECK(RunAndWait(L"regedit.exe /S \"" + path + L"\""), "could not import %s", Narrow(path).c_str());
    }
}

// ---- palvenor's windows ----

struct Palvenor {
    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
};

static Palvenor Start(void)
{
    Palvenor app;
    if (!Launch(g_palvenor.c_str(), L"\"" + g_palvenor + L"\"", &app.process))
        Fail(__LINE__, "palvenor.exe did not start (error %lu)", GetLastError());
    return app;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* caption;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = (WindowSearch*)parameter;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[64], caption[128];
    if (processId == search->processId && GetClassNameW(window, className, 64) &&
        lstrcmpW(className, DIALOG_CLASS) == 0 && GetWindowTextW(window, caption, 128) >= 0 &&
        lstrcmpW(caption, search->caption) == 0)
        search->found.push_back(window);
    return TRUE;
}

// palvenor's top-level dialogs (the choice dialog, message boxes) with this caption.
static std::vector<HWND> FindWindows(const Palvenor& app, const wchar_t* caption)
{
    WindowSearch search = {app.process.dwProcessId, caption, {}};
    EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

static HWND WaitForWindow(const Palvenor& app, const wchar_t* caption, bool mustBeVisible)
{
    for (DWORD waited = 0; waited < WAIT_MS; waited += 10) {
        for (HWND window : FindWindows(app, caption)) {
            if (!mustBeVisible || IsWindowVisible(window))
                return window;
        }
        if (WaitForSingleObject(app.process.hProcess, 10) == WAIT_OBJECT_0)
            break;
    }
    return NULL;
}

static bool WaitForDialog(Palvenor* app)
{
    app->dialog = WaitForWindow(*app, TITLE, true);
    CHECK(app->dialog != NULL, "the dialog did not show");
    return app->dialog != NULL;
}

static Text WindowText(HWND window)
{
    wchar_t text[512] = {0};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, (LPARAM)text, SMTO_NORMAL, WAIT_MS, &length);
    return text;
}

// Each pending message reaches the dialog's thread before the next sent one
// is handled, so one sent message per posted one lets them all be handled.
static void Settle(HWND window, int posted)
{
    for (int i = 0; i <= posted; i++) {
        DWORD_PTR ignored;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, WAIT_MS, &ignored);
    }
}

// Waits for a message box with this caption, checks its text and closes it
// with its OK button.
static void AnswerBox(const Palvenor& app, const wchar_t* caption, const Text& expected)
{
    HWND box = WaitForWindow(app, caption, true);
    if (box == NULL) {
        Fail(__LINE__, "no \"%s\" box with \"%s\"", Narrow(caption).c_str(), Narrow(expected).c_str());
        return;
    }
    Text text = WindowText(GetDlgItem(box, 0xFFFF));
    CHECK(text == expected, "the \"%s\" box says \"%s\", expected \"%s\"", Narrow(caption).c_str(),
          Narrow(text).c_str(), Narrow(expected).c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (DWORD waited = 0; IsWindow(box) && waited < WAIT_MS; waited += 10)
        Sleep(10);
    CHECK(!IsWindow(box), "the \"%s\" box did not close", Narrow(caption).c_str());
}

static void Press(HWND dialog, int id)
{
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// A key pressed while the function list has the focus; the dialog's message
// loop turns Enter and Escape into the default button and Cancel.
static void Key(HWND dialog, WPARAM key)
{
    HWND list = GetDlgItem(dialog, IDC_FUNCTION_LIST);
    PostMessageW(list, WM_KEYDOWN, key, 1);
    PostMessageW(list, WM_KEYUP, key, 0xC0000001);
}

static void CloseBox(HWND dialog)
{
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

struct ListState {
    std::vector<Text> entries;
    int selected = LB_ERR;
};

static Text ReadEntry(HWND list, LRESULT index)
{
    wchar_t text[256] = {0};
    if (SendMessageW(list, LB_GETTEXTLEN, index, 0) < 256)
        SendMessageW(list, LB_GETTEXT, index, (LPARAM)text);
    return text;
}

static ListState ReadList(HWND dialog, int id)
{
    ListState state;
    HWND list = GetDlgItem(dialog, id);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++)
        state.entries.push_back(ReadEntry(list, i));
    state.selected = (int)SendMessageW(list, LB_GETCURSEL, 0, 0);
    return state;
}

static void ExpectList(HWND dialog, int id, const std::vector<Text>& entries, int selected)
{
    ListState state = ReadList(dialog, id);
    const char* which = id == IDC_STORAGE_LIST ? "storage" : "function";
    CHECK(state.entries == entries, "%s list shows %s, expected %s", which, Join(state.entries).c_str(),
          Join(entries).c_str());
    CHECK(state.selected == selected, "%s list has entry %d selected, expected %d", which, state.selected,
          selected);
}

static void Choose(HWND dialog, int id, int index)
{
    SendMessageW(GetDlgItem(dialog, id), LB_SETCURSEL, index, 0);
}

// Waits for palvenor to end and checks its exit code; ends it if it hangs.
static void ExpectExit(Palvenor* app)
{
    if (app->process.hProcess == NULL)
        return;
    if (WaitForSingleObject(app->process.hProcess, WAIT_MS) != WAIT_OBJECT_0) {
        Fail(__LINE__, "palvenor.exe is still running");
        TerminateProcess(app->process.hProcess, 99);
        WaitForSingleObject(app->process.hProcess, WAIT_MS);
    }
    DWORD code = 99;
    GetExitCodeProcess(app->process.hProcess, &code);
    CHECK(code == 0, "palvenor.exe exited with %lu", code);
    CloseHandle(app->process.hThread);
    CloseHandle(app->process.hProcess);
    app->process = PROCESS_INFORMATION();
}

static void ExpectNoBoxes(const Palvenor& app)
{
    CHECK(FindWindows(app, ERROR_CAPTION).empty() && FindWindows(app, WARNING_CAPTION).empty(),
          "a message box is up");
}

static void ExpectUnchanged(const Outcome& before)
{
    Outcome after = ReadOutcome();
    CHECK(after == before, "the registry changed: DeviceName %s, DefaultClientDriver %s, bus %s",
          Describe(after.deviceName).c_str(), Describe(after.defaultDriver).c_str(),
          Describe(after.currentDriver).c_str());
}

static void ExpectWritten(const Text& deviceName, const Text& driver)
{
    Value device = ReadValue(MASS_STORAGE_KEY, L"DeviceName");
    Value defaultDriver = ReadValue(CLIENT_DRIVERS_KEY, L"DefaultClientDriver");
    CHECK(device == StringValue(deviceName), "DeviceName is %s", Describe(device).c_str());
    CHECK(defaultDriver == StringValue(driver), "DefaultClientDriver is %s", Describe(defaultDriver).c_str());
}

// The one request the bus received: the code and the driver's 256-byte slot.
static void ExpectOneRequest(const Text& driver)
{
    CHECK(RequestCount() == 1, "the bus received %lu requests", RequestCount());
    Value code = ReadValue(BUS_KEY, L"LastRequestCode");
    CHECK(code.present && code.data.size() == 4 && *(const DWORD*)code.data.data() == 0x00220010,
          "the request's code is wrong");
    Bytes slot(256, 0);
    memcpy(slot.data(), driver.c_str(), driver.size() * sizeof(wchar_t));
    Value request = ReadValue(BUS_KEY, L"LastRequest");
    CHECK(request.present && request.data == slot, "the request is not the 256-byte slot of \"%s\" (%zu bytes)",
          Narrow(driver).c_str(), request.data.size());
}

// ---- scenarios ----

static const std::vector<Text> DEFAULT_STORES = {L"SD Card", L"USB Disk"};
static const std::vector<Text> DEFAULT_DRIVERS = {L"Mass_Storage_Class", L"RNDIS_Class", L"Serial_Class"};

static void ListsOnStart(void)
{
    ImportDevice({L"tests\\wine\\devices\\several.reg"});
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        ExpectNoBoxes(app);
        // The two "USB Disk" stores: DeviceName names the lower one, and it is the one selected.
        ExpectList(app.dialog, IDC_STORAGE_LIST,
                   {L"SD Card", L"Odd Flash", L"USB Disk", L"USB Disk", L"Thirty-two characters long name!"}, 3);
        // DefaultClientDriver differs from the key name in letter case only.
        ExpectList(app.dialog, IDC_FUNCTION_LIST, {L"Mass_Storage_Class", L"RNDIS_Class", L"Serial", L"Serial_Class"},
                   3);
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);

    // A value that only begins a listed name selects nothing.
    ImportDevice({L"devices\\default.reg", L"tests\\wine\\devices\\prefix-only.reg"});
    app = Start();
    if (WaitForDialog(&app)) {
        ExpectList(app.dialog, IDC_STORAGE_LIST, DEFAULT_STORES, LB_ERR);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, LB_ERR);
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
}

static void OkWithNewChoice(void)
{
    ImportDevice({L"devices\\default.reg"});
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        ExpectList(app.dialog, IDC_STORAGE_LIST, DEFAULT_STORES, 0);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 2);
        Choose(app.dialog, IDC_STORAGE_LIST, 1);
        Choose(app.dialog, IDC_FUNCTION_LIST, 0);
        Press(app.dialog, IDOK);
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    ExpectNoBoxes(app);
    ExpectWritten(L"DSK3:", L"Mass_Storage_Class");
    ExpectOneRequest(L"Mass_Storage_Class");
    CHECK(ReadValue(BUS_KEY, L"CurrentClientDriver") == StringValue(L"Mass_Storage_Class"),
          "the bus did not switch");
}

static void OkWithNothingSelected(void)
{
    struct {
        const wchar_t* overlay;
        const wchar_t* message;
    } cases[] = {
        {L"tests\\wine\\devices\\no-device-name.reg", L"Error, selected storage type not found."},
        {L"tests\\wine\\devices\\no-default-driver.reg", L"Error, selected function type not found."},
    };
    for (auto& c : cases) {
        ImportDevice({L"devices\\default.reg", c.overlay});
        Outcome before = ReadOutcome();
        Palvenor app = Start();
        if (WaitForDialog(&app)) {
            Press(app.dialog, IDOK);
            AnswerBox(app, ERROR_CAPTION, c.message);
        }
        ExpectExit(&app);
        ExpectUnchanged(before);
    }
}

static void BusFails(void)
{
    struct {
        const wchar_t* overlay;
        DWORD requests;
    } cases[] = {
        {L"tests\\wine\\devices\\bus-absent.reg", 0},
        {L"tests\\wine\\devices\\bus-refusing.reg", 1},
    };
    for (auto& c : cases) {
        ImportDevice({L"devices\\default.reg", c.overlay});
        Value busBefore = ReadValue(BUS_KEY, L"CurrentClientDriver");
        Palvenor app = Start();
        if (WaitForDialog(&app)) {
            Choose(app.dialog, IDC_FUNCTION_LIST, 1);
            Press(app.dialog, IDOK);
            AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
            AnswerBox(app, ERROR_CAPTION, L"Error, Changing the current USB Function.");
        }
        ExpectExit(&app);
        ExpectWritten(L"DSK2:", L"RNDIS_Class");
        CHECK(ReadValue(BUS_KEY, L"CurrentClientDriver") == busBefore, "the bus switched");
        CHECK(RequestCount() == c.requests, "the bus received %lu requests, expected %lu", RequestCount(),
              c.requests);
    }
}

static void InventoryFails(void)
{
    struct {
        const wchar_t* overlay;
        const wchar_t* message;
    } cases[] = {
        {L"tests\\wine\\devices\\no-exposable-store.reg", L"Error in finding storage types."},
        {L"tests\\wine\\devices\\no-stores-key.reg", L"Error in finding storage types."},
        {L"tests\\wine\\devices\\no-client-drivers.reg", L"Error in finding USB Function Types."},
    };
    for (auto& c : cases) {
        ImportDevice({L"devices\\default.reg", c.overlay});
        Outcome before = ReadOutcome();
        Palvenor app = Start();
        // The box comes while the dialog is still hidden; it shows afterwards.
        HWND hidden = WaitForWindow(app, TITLE, false);
        CHECK(hidden != NULL && !IsWindowVisible(hidden), "the dialog showed before the error box");
        AnswerBox(app, ERROR_CAPTION, c.message);
        if (WaitForDialog(&app)) {
            ExpectList(app.dialog, IDC_STORAGE_LIST, {}, LB_ERR);
            ExpectList(app.dialog, IDC_FUNCTION_LIST, {}, LB_ERR);
            Press(app.dialog, IDCANCEL);
        }
        ExpectExit(&app);
        ExpectUnchanged(before);
    }
}

static void RefreshRereads(void)
{
    ImportDevice({L"devices\\default.reg"});
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        Choose(app.dialog, IDC_STORAGE_LIST, 0);
        Choose(app.dialog, IDC_FUNCTION_LIST, 1);
        // The SD card goes away and the setting moves to the USB disk.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Palvenor\\Emulator\\Stores\\2 SD");
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"DeviceName", 0, REG_SZ, (const BYTE*)L"DSK3:", 12);
            RegCloseKey(key);
        }
        Press(app.dialog, IDC_REFRESH);
        Settle(app.dialog, 1);
        ExpectList(app.dialog, IDC_STORAGE_LIST, {L"USB Disk"}, 0);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 2);
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
}

static void KeysAndCloseBox(void)
{
    ImportDevice({L"devices\\default.reg"});
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        Choose(app.dialog, IDC_FUNCTION_LIST, 1);
        Key(app.dialog, VK_RETURN);
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    ExpectWritten(L"DSK2:", L"RNDIS_Class");
    ExpectOneRequest(L"RNDIS_Class");

    for (int leave = 0; leave < 2; leave++) {
        ImportDevice({L"devices\\default.reg"});
        Outcome before = ReadOutcome();
        app = Start();
        if (WaitForDialog(&app)) {
            Choose(app.dialog, IDC_FUNCTION_LIST, 1);
            if (leave == 0)
                Key(app.dialog, VK_ESCAPE);
            else
                CloseBox(app.dialog);
        }
        ExpectExit(&app);
        ExpectNoBoxes(app);
        ExpectUnchanged(before);
    }
}

static LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

static void SecondStart(void)
{
    ImportDevice({L"devices\\default.reg"});
    Palvenor first = Start();
    if (WaitForDialog(&first)) {
        // Something else is in front when the second start comes.
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = PlainWindowProc;
        windowClass.hInstance = GetModuleHandleW(NULL);
        windowClass.lpszClassName = L"PalvenorTestFront";
        RegisterClassW(&windowClass);
        HWND front = CreateWindowW(L"PalvenorTestFront", L"front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                                   NULL, NULL, windowClass.hInstance, NULL);
        SetForegroundWindow(front);
        CHECK(GetForegroundWindow() == front, "could not bring another window to the front");

        Palvenor second = Start();
        CHECK(WaitForSingleObject(second.process.hProcess, 5000) == WAIT_OBJECT_0,
              "the second start did not end at once");
        ExpectExit(&second);
        CHECK(GetForegroundWindow() == first.dialog, "the running dialog did not come to the front");
        CHECK(IsWindowVisible(first.dialog), "the running dialog went away");
        DestroyWindow(front);
        Press(first.dialog, IDCANCEL);
    }
    ExpectExit(&first);
}

// Every way in while a box waits: none may start, end or rebuild anything.
static void PressEverything(HWND dialog)
{
    Press(dialog, IDOK);
    Press(dialog, IDC_REFRESH);
    Press(dialog, IDCANCEL);
    Key(dialog, VK_RETURN);
    Key(dialog, VK_ESCAPE);
    CloseBox(dialog);
    Settle(dialog, 9);
}

static void ExpectStillWaiting(const Palvenor& app, HWND dialog, const wchar_t* caption)
{
    CHECK(IsWindow(dialog), "the dialog was destroyed under the waiting box");
    CHECK(FindWindows(app, caption).size() == 1, "%zu \"%s\" boxes are up, expected one",
          FindWindows(app, caption).size(), Narrow(caption).c_str());
    CHECK(FindWindows(app, caption == ERROR_CAPTION ? WARNING_CAPTION : ERROR_CAPTION).empty(),
          "another box came up");
    CHECK(WaitForSingleObject(app.process.hProcess, 0) == WAIT_TIMEOUT, "palvenor.exe ended");
}

static void PressesDuringBoxes(void)
{
    // The populate error box, while the dialog is still hidden.
    ImportDevice({L"devices\\default.reg", L"tests\\wine\\devices\\no-exposable-store.reg"});
    Outcome before = ReadOutcome();
    Palvenor app = Start();
    HWND box = WaitForWindow(app, ERROR_CAPTION, true);
    HWND dialog = WaitForWindow(app, TITLE, false);
    CHECK(box != NULL && dialog != NULL, "no populate error box");
    if (box != NULL && dialog != NULL) {
        PressEverything(dialog);
        ExpectStillWaiting(app, dialog, ERROR_CAPTION);
        AnswerBox(app, ERROR_CAPTION, L"Error in finding storage types.");
        if (WaitForDialog(&app)) {
            ExpectNoBoxes(app);
            Press(app.dialog, IDCANCEL);
        }
    }
    ExpectExit(&app);
    ExpectUnchanged(before);

    // The apply error box.
    ImportDevice({L"devices\\default.reg", L"tests\\wine\\devices\\no-device-name.reg"});
    before = ReadOutcome();
    app = Start();
    if (WaitForDialog(&app)) {
        Press(app.dialog, IDOK);
        if (WaitForWindow(app, ERROR_CAPTION, true) != NULL) {
            PressEverything(app.dialog);
            ExpectStillWaiting(app, app.dialog, ERROR_CAPTION);
        }
        AnswerBox(app, ERROR_CAPTION, L"Error, selected storage type not found.");
    }
    ExpectExit(&app);
    ExpectUnchanged(before);

    // The remove-cable warning, while the request waits to be sent.
    ImportDevice({L"devices\\default.reg"});
    app = Start();
    if (WaitForDialog(&app)) {
        Choose(app.dialog, IDC_FUNCTION_LIST, 0);
        Press(app.dialog, IDOK);
        if (WaitForWindow(app, WARNING_CAPTION, true) != NULL) {
            PressEverything(app.dialog);
            ExpectStillWaiting(app, app.dialog, WARNING_CAPTION);
            CHECK(RequestCount() == 0, "a request went out before the warning was closed");
        }
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    ExpectNoBoxes(app);
    ExpectWritten(L"DSK2:", L"Mass_Storage_Class");
    ExpectOneRequest(L"Mass_Storage_Class");
}

// ---- under load ----

static void SetString(HKEY key, const wchar_t* name, const Text& text)
{
    RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text.c_str(), (DWORD)((text.size() + 1) * sizeof(wchar_t)));
}

static void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof(value));
}

// The default device with 1,000 more client drivers, names of 127 characters,
// and 64 more exposable stores.
static void ImportLargeDevice(void)
{
    ImportDevice({L"devices\\default.reg"});
    for (int i = 0; i < 1000; i++) {
        wchar_t name[128];
        swprintf(name, 128, L"Load_Driver_%04d_", i);
        Text path = Text(CLIENT_DRIVERS_KEY) + L"\\" + name + Text(127 - lstrlenW(name), L'x');
        HKEY key;
        CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) ==
                  ERROR_SUCCESS,
              "could not create client driver %d", i);
        RegCloseKey(key);
    }
    for (int i = 0; i < 64; i++) {
        wchar_t name[64], device[16], store[32];
        swprintf(name, 64, L"%ls\\6 Load %02d", STORES_KEY, i);
        swprintf(device, 16, L"LD%02d:", i);
        swprintf(store, 32, L"Load Store %02d", i);
        HKEY key;
        CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, name, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS,
              "could not create store %d", i);
        SetString(key, L"DeviceName", device);
        SetString(key, L"StoreName", store);
        SetString(key, L"Profile", L"SDMemory");
        SetDword(key, L"DeviceClass", 1);
        SetDword(key, L"DeviceFlags", 1);
        RegCloseKey(key);
    }
}

// A press of Refresh that returns once the lists are filled again.
static void Refresh(HWND dialog)
{
    DWORD_PTR ignored;
    SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED),
                        (LPARAM)GetDlgItem(dialog, IDC_REFRESH), SMTO_NORMAL, WAIT_MS, &ignored);
}

struct ProcessUse {
    SIZE_T privateBytes;
    DWORD handles;
};

// Wine's GetProcessHandleCount reports 0; the system's process list has
// the count the server keeps.
static DWORD HandleCount(DWORD processId)
{
    typedef LONG(WINAPI * QuerySystem)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    QuerySystem query = (QuerySystem)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    if (query == NULL || query(SystemProcessInformation, buffer.data(), (ULONG)buffer.size(), &needed) != 0)
        return 0;
    for (BYTE* entry = buffer.data();;) {
        SYSTEM_PROCESS_INFORMATION* process = (SYSTEM_PROCESS_INFORMATION*)entry;
        if ((DWORD)(ULONG_PTR)process->UniqueProcessId == processId)
            return process->HandleCount;
        if (process->NextEntryOffset == 0)
            return 0;
        entry += process->NextEntryOffset;
    }
}

static ProcessUse ReadProcessUse(const PROCESS_INFORMATION& process)
{
    ProcessUse use = {0, 0};
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters)))
        use.privateBytes = counters.PagefileUsage;
    use.handles = HandleCount(process.dwProcessId);
    return use;
}

// The list shows what it showed: the same count and selection, and the
// same text in the entries offset, offset + stride, ...
static bool ListMatches(HWND dialog, int id, const ListState& expected, int offset, int stride)
{
    HWND list = GetDlgItem(dialog, id);
    if (SendMessageW(list, LB_GETCOUNT, 0, 0) != (LRESULT)expected.entries.size() ||
        SendMessageW(list, LB_GETCURSEL, 0, 0) != expected.selected)
        return false;
    for (size_t i = offset; i < expected.entries.size(); i += stride) {
        if (ReadEntry(list, i) != expected.entries[i])
            return false;
    }
    return true;
}

static void RefreshUnderLoad(void)
{
    const int REFRESHES = 200, WARM_UP = 20;
    const int failuresBefore = g_failures;
    ImportLargeDevice();
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        ListState stores = ReadList(app.dialog, IDC_STORAGE_LIST);
        ListState functions = ReadList(app.dialog, IDC_FUNCTION_LIST);
        CHECK(stores.entries.size() == 66 && functions.entries.size() == 1003,
              "the lists hold %zu stores and %zu client drivers, expected 66 and 1003", stores.entries.size(),
              functions.entries.size());
        CHECK(stores.selected >= 0 && functions.selected >= 0, "the current values are not selected");
        ProcessUse warm = {0, 0};
        DWORD slowest = 0;
        for (int i = 1; i <= REFRESHES && g_failures == failuresBefore; i++) {
            DWORD started = GetTickCount();
            Refresh(app.dialog);
            slowest = std::max(slowest, GetTickCount() - started);
            // Reading a thousand entries from another process takes most of a
            // second here: each refresh compares a tenth of them, in turn,
            // and the whole lists are compared at the middle and the end.
            int stride = i % (REFRESHES / 2) == 0 ? 1 : 10;
            CHECK(ListMatches(app.dialog, IDC_STORAGE_LIST, stores, i % stride, stride),
                  "refresh %d changed the storage list", i);
            CHECK(ListMatches(app.dialog, IDC_FUNCTION_LIST, functions, i % stride, stride),
                  "refresh %d changed the function list", i);
            if (i == WARM_UP)
                warm = ReadProcessUse(app.process);
        }
        ProcessUse end = ReadProcessUse(app.process);
        printf("     %d refreshes with %zu client drivers and %zu stores (slowest %lu ms): private bytes %lu KiB "
               "after %d, %lu KiB after %d; handles %lu, then %lu\n",
               REFRESHES, functions.entries.size(), stores.entries.size(), slowest,
               (unsigned long)(warm.privateBytes / 1024), WARM_UP, (unsigned long)(end.privateBytes / 1024), REFRESHES,
               warm.handles, end.handles);
        CHECK(warm.privateBytes != 0, "Wine reports no memory use for palvenor.exe");
        // A list leaked on each refresh would be about 300 KiB a time.
        CHECK(end.privateBytes <= warm.privateBytes + 256 * 1024, "private bytes grew from %lu to %lu KiB",
              (unsigned long)(warm.privateBytes / 1024), (unsigned long)(end.privateBytes / 1024));
        CHECK(end.handles <= warm.handles, "handles grew from %lu to %lu", warm.handles, end.handles);
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
}

static void SetValue(const wchar_t* path, const wchar_t* name, DWORD type, const Bytes& data)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        Fail(__LINE__, "cannot open %s", Narrow(path).c_str());
        return;
    }
    RegSetValueExW(key, name, 0, type, data.data(), (DWORD)data.size());
    RegCloseKey(key);
}

static Bytes TextBytes(const Text& text, size_t bytes)
{
    Bytes data(bytes, 0);
    memcpy(data.data(), text.data(), std::min(bytes, text.size() * sizeof(wchar_t)));
    return data;
}

static void AddClientDriver(const Text& name)
{
    HKEY key;
    Text path = Text(CLIENT_DRIVERS_KEY) + L"\\" + name;
    CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS,
          "could not create client driver %s", Narrow(name).c_str());
    RegCloseKey(key);
}

// The worst of the hostile inputs, on the real registry: values of other
// types and sizes, names at and past the slot, a name with a surrogate pair.
static void HostileValues(void)
{
    const Text surrogates = L"Cam\xD83D\xDCF7ra_Class";
    const Text name127 = L"L127_" + Text(122, L'x'), name128 = L"L128_" + Text(123, L'x');
    const wchar_t* unavailable = L"(unavailable)";
    for (int run = 0; run < 2; run++) {
        ImportDevice({L"devices\\default.reg"});
        SetValue(MASS_STORAGE_KEY, L"DeviceName", REG_MULTI_SZ, TextBytes(L"DSK2:", 14));
        SetValue(CLIENT_DRIVERS_KEY, L"DefaultClientDriver", REG_SZ, TextBytes(L"RNDIS_Class", 4096));
        for (const Text& name : {surrogates, name127, name128, L"L255_" + Text(250, L'x')})
            AddClientDriver(name);
        Outcome before = ReadOutcome();
        Palvenor app = Start();
        if (!WaitForDialog(&app)) {
            ExpectExit(&app);
            continue;
        }
        ExpectNoBoxes(app);
        ExpectList(app.dialog, IDC_STORAGE_LIST, DEFAULT_STORES, LB_ERR);
        ListState functions = ReadList(app.dialog, IDC_FUNCTION_LIST);
        std::vector<Text> sorted = functions.entries;
        std::sort(sorted.begin(), sorted.end());
        CHECK(sorted == (std::vector<Text>{unavailable, unavailable, surrogates, name127, L"Mass_Storage_Class",
                                           L"RNDIS_Class", L"Serial_Class"}),
              "the function list shows %s", Join(functions.entries).c_str());
        CHECK(functions.selected == LB_ERR, "a client driver is selected from a value too large to read");
        Choose(app.dialog, IDC_STORAGE_LIST, 0);
        if (run == 0) {
            // The surrogate pair goes into the slot unit by unit.
            Choose(app.dialog, IDC_FUNCTION_LIST,
                   (int)(std::find(functions.entries.begin(), functions.entries.end(), surrogates) -
                         functions.entries.begin()));
            Press(app.dialog, IDOK);
            AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
            ExpectExit(&app);
            ExpectWritten(L"DSK2:", surrogates);
            ExpectOneRequest(surrogates);
        } else {
            // A name that does not fit the slot is never written or sent.
            Choose(app.dialog, IDC_FUNCTION_LIST,
                   (int)(std::find(functions.entries.begin(), functions.entries.end(), unavailable) -
                         functions.entries.begin()));
            Press(app.dialog, IDOK);
            AnswerBox(app, ERROR_CAPTION, L"Error, selected function type not found.");
            ExpectExit(&app);
            ExpectUnchanged(before);
        }
    }
}

// Random presses while each kind of box is up, for a bounded time; the
// seed is printed so that a failing order can be run again.
static void RandomPressesDuringBoxes(void)
{
    const DWORD BOUND_MS = 15000;
    const wchar_t* overlays[] = {NULL, L"tests\\wine\\devices\\no-exposable-store.reg",
                                 L"tests\\wine\\devices\\no-device-name.reg", L"tests\\wine\\devices\\bus-refusing.reg"};
    DWORD seed = GetTickCount();
    srand(seed);
    printf("     seed %lu\n", seed);
    const int failuresBefore = g_failures;
    int rounds = 0, answered = 0, switched = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < BOUND_MS && g_failures == failuresBefore; rounds++) {
        const wchar_t* overlay = overlays[rand() % 4];
        if (overlay != NULL)
            ImportDevice({L"devices\\default.reg", overlay});
        else
            ImportDevice({L"devices\\default.reg"});
        Palvenor app = Start();
        HWND dialog = WaitForWindow(app, TITLE, false);
        // Until palvenor ends: presses in random order and number, and each
        // box answered once they have been handled.
        for (int turn = 0; turn < 20 && dialog != NULL && WaitForSingleObject(app.process.hProcess, 0) != WAIT_OBJECT_0;
             turn++) {
            for (int presses = rand() % 6; presses > 0; presses--) {
                switch (rand() % 6) {
                case 0: Press(dialog, IDOK); break;
                case 1: Press(dialog, IDC_REFRESH); break;
                case 2: Press(dialog, IDCANCEL); break;
                case 3: Key(dialog, VK_RETURN); break;
                case 4: Key(dialog, VK_ESCAPE); break;
                default: CloseBox(dialog); break;
                }
            }
            Settle(dialog, 6);
            for (const wchar_t* caption : {ERROR_CAPTION, WARNING_CAPTION}) {
                std::vector<HWND> boxes = FindWindows(app, caption);
                CHECK(boxes.size() <= 1, "%zu \"%s\" boxes are up", boxes.size(), Narrow(caption).c_str());
                for (HWND box : boxes) {
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                    answered++;
                }
            }
            if (!IsWindow(dialog))
                dialog = WaitForWindow(app, TITLE, false);
        }
        if (WaitForSingleObject(app.process.hProcess, 0) != WAIT_OBJECT_0) {
            // Still up after twenty turns: end it the way a person would.
            for (const wchar_t* caption : {ERROR_CAPTION, WARNING_CAPTION})
                for (HWND box : FindWindows(app, caption))
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
            if (dialog != NULL)
                Press(dialog, IDCANCEL);
        }
        ExpectExit(&app);
        CHECK(RequestCount() <= 1, "the bus received %lu requests", RequestCount());
        switched += RequestCount();
    }
    printf("     %d runs of palvenor.exe, %d boxes answered, %d requests sent\n", rounds, answered, switched);
}

// ---- the stand-ins themselves ----

static void StoreSearchRules(void)
{
    STOREINFO info;
    memset(&info, 0, sizeof(info));
    SetLastError(0xdeadbeef);
    CHECK(FindFirstStore(&info) == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER,
          "a store search with cbSize 0 did not fail as an invalid parameter");
    info.cbSize = sizeof(info) - 4;
    CHECK(FindFirstStore(&info) == INVALID_HANDLE_VALUE, "a store search with a short cbSize did not fail");

    info.cbSize = sizeof(info);
    HANDLE search = FindFirstStore(&info);
    CHECK(search != INVALID_HANDLE_VALUE, "the store search did not open");
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<STOREINFO> stores(1, info);
    while (FindNextStore(search, &info))
        stores.push_back(info);
    CHECK(GetLastError() == ERROR_NO_MORE_FILES, "the walk ended with error %lu", GetLastError());
    CHECK(!FindNextStore(search, &info), "the walk went on after its end");
    CHECK(FindCloseStore(search), "the search did not close");
    CHECK(stores.size() == 8, "%zu stores reported, expected 8", stores.size());
    if (stores.size() != 8)
        return;
    CHECK(memcmp(stores[0].szDeviceName, L"DSK1:", 12) == 0 && memcmp(stores[0].sdi.szProfile, L"Tulvane", 16) == 0,
          "the first store is not the internal flash");
    WCHAR odd[PROFILENAMESIZE] = L"Tulvane";
    odd[8] = L'X';
    CHECK(memcmp(stores[2].sdi.szProfile, odd, sizeof(odd)) == 0, "the binary profile was not taken as given");
    CHECK(stores[3].sdi.dwDeviceFlags == 0xfffffffe && stores[4].sdi.dwDeviceClass == 2,
          "classes and flags not taken as given");
    CHECK(memcmp(stores[7].szDeviceName, L"DSK12345", 16) == 0 && stores[7].szStoreName[31] == L'!' &&
              stores[7].sdi.szProfile[0] == 0 && stores[7].sdi.dwDeviceClass == 1,
          "names that fill their fields, or an absent profile, were not taken as given");

    // A name longer than its field is cut to it.
    HKEY key;
    Text longName(600, L'x');
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Palvenor\\Emulator\\Stores\\1 Internal", 0, KEY_SET_VALUE,
                      &key) == ERROR_SUCCESS) {
        RegSetValueExW(key, L"StoreName", 0, REG_SZ, (const BYTE*)longName.c_str(), 601 * sizeof(WCHAR));
        RegCloseKey(key);
    }
    search = FindFirstStore(&info);
    CHECK(search != INVALID_HANDLE_VALUE && Text(info.szStoreName, STORENAMESIZE) == Text(STORENAMESIZE, L'x'),
          "a long store name was not cut to its field");
    if (search != INVALID_HANDLE_VALUE)
        FindCloseStore(search);

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, STORES_KEY);
    SetLastError(0xdeadbeef);
    CHECK(FindFirstStore(&info) == INVALID_HANDLE_VALUE && GetLastError() == ERROR_NO_MORE_FILES,
          "a device without stores did not fail the first search");
}

// Sends one request to an open bus; the slot holds name, zero-filled.
static BOOL Request(HANDLE bus, DWORD code, const wchar_t* name, DWORD bytes)
{
    WCHAR slot[129] = {0};
    memcpy(slot, name, lstrlenW(name) * sizeof(WCHAR));
    return EmulatedDeviceIoControl(bus, code, slot, bytes, NULL, 0, NULL, NULL);
}

static void BusRules(void)
{
    static const GUID busInterface = {0xE2BDC372, 0x598F, 0x4619, {0xBC, 0x50, 0x54, 0xB3, 0xF7, 0x84, 0x8D, 0x35}};
    GUID otherInterface = busInterface;
    otherInterface.Data4[7] ^= 1;
    DEVMGR_DEVICE_INFORMATION device;
    memset(&device, 0, sizeof(device));
    device.dwSize = sizeof(device) - 2;
    CHECK(FindFirstDevice(DeviceSearchByGuid, &busInterface, &device) == INVALID_HANDLE_VALUE,
          "a device search with a wrong dwSize did not fail");
    device.dwSize = sizeof(device);
    CHECK(FindFirstDevice(DeviceSearchByGuid, &otherInterface, &device) == INVALID_HANDLE_VALUE,
          "another interface found the bus");
    HANDLE search = FindFirstDevice(DeviceSearchByGuid, &busInterface, &device);
    CHECK(search != INVALID_HANDLE_VALUE && lstrcmpW(device.szBusName, L"$bus\\UFN_0") == 0,
          "the bus was not found by its interface");
    if (search == INVALID_HANDLE_VALUE)
        return;
    CHECK(CloseHandle(search), "the device search did not close");

    HANDLE bus = EmulatedCreateFileW(device.szBusName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(bus != INVALID_HANDLE_VALUE, "the bus did not open");
    struct {
        const char* what;
        DWORD code;
        const wchar_t* name;
        DWORD bytes;
        BOOL accepted;
    } requests[] = {
        {"another control code", 0x00220014, L"Serial_Class", 256, FALSE},
        {"a short slot", 0x00220010, L"Serial_Class", 254, FALSE},
        {"an empty name", 0x00220010, L"", 256, FALSE},
        {"a driver that is not registered", 0x00220010, L"Printer_Class", 256, FALSE},
        {"a path below a driver", 0x00220010, L"Serial_Class\\..", 256, FALSE},
        {"a driver in other letter case", 0x00220010, L"serial_class", 256, TRUE},
    };
    for (auto& r : requests) {
        SetLastError(0);
        BOOL accepted = Request(bus, r.code, r.name, r.bytes);
        CHECK(accepted == r.accepted && (accepted || GetLastError() != 0), "%s was %s", r.what,
              accepted ? "accepted" : "refused");
    }
    CHECK(RequestCount() == 6, "%lu requests recorded, expected 6", RequestCount());
    CHECK(ReadValue(BUS_KEY, L"CurrentClientDriver") == StringValue(L"serial_class"), "the bus did not switch");

    // A slot with no terminator in its 128 units names nothing.
    WCHAR full[128];
    for (WCHAR& unit : full)
        unit = L'A';
    CHECK(!EmulatedDeviceIoControl(bus, 0x00220010, full, sizeof(full), NULL, 0, NULL, NULL),
          "an unterminated slot was accepted");
    CHECK(EmulatedCloseHandle(bus), "the bus handle did not close");
    CHECK(!EmulatedCloseHandle(bus), "the bus handle closed twice");
    CHECK(!Request(bus, 0x00220010, L"Serial_Class", 256), "a closed bus took a request");

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BUS_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        DWORD refuse = 1;
        RegSetValueExW(key, L"Refuse", 0, REG_DWORD, (const BYTE*)&refuse, sizeof(refuse));
        RegCloseKey(key);
    }
    bus = EmulatedCreateFileW(L"$BUS\\ufn_0", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(bus != INVALID_HANDLE_VALUE, "the bus name did not open in other letter case");
    CHECK(!Request(bus, 0x00220010, L"Serial_Class", 256), "a refusing bus accepted a request");
    EmulatedCloseHandle(bus);

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, BUS_KEY);
    CHECK(FindFirstDevice(DeviceSearchByGuid, &busInterface, &device) == INVALID_HANDLE_VALUE,
          "an absent bus was found");
    CHECK(EmulatedCreateFileW(L"$bus\\UFN_0", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) ==
              INVALID_HANDLE_VALUE,
          "an absent bus opened");
}

// Every other file goes to the system.
static void OtherHandlesPassThrough(void)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    HANDLE file = EmulatedCreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(file != INVALID_HANDLE_VALUE, "a real file did not open through the stand-in");
    CHECK(GetFileSize(file, NULL) > 0, "the file opened is not the real one");
    CHECK(EmulatedCloseHandle(file), "a real file did not close through the stand-in");
}

static void EmulatorRules(void)
{
    ImportDevice({L"tests\\wine\\devices\\several.reg"});
    StoreSearchRules();
    BusRules();
    OtherHandlesPassThrough();
}

// ---- the built resources ----

static const BYTE* ResourceBytes(HMODULE module, const wchar_t* type, int id, DWORD* size)
{
    HRSRC resource = FindResourceExW(module, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    HGLOBAL loaded = resource ? LoadResource(module, resource) : NULL;
    *size = resource ? SizeofResource(module, resource) : 0;
    return (const BYTE*)LockResource(loaded);
}

// A template field: a sz_Or_Ord (0xFFFF and an ordinal, or terminated text).
static Text ReadNameOrOrdinal(const WORD** cursor)
{
    const WORD* p = *cursor;
    Text text;
    if (*p == 0xFFFF) {
        text = L"#" + std::to_wstring(p[1]);
        p += 2;
    } else {
        while (*p != 0)
            text += (wchar_t)*p++;
        p++;
    }
    *cursor = p;
    return text;
}

static void BuiltResources(void)
{
    HMODULE module = LoadLibraryExW(g_palvenor.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    CHECK(module != NULL, "palvenor.exe cannot be loaded as a data file");
    if (module == NULL)
        return;

    DWORD size = 0;
    const BYTE* bytes = ResourceBytes(module, RT_DIALOG, 101, &size);
    CHECK(bytes != NULL && size >= sizeof(DLGTEMPLATE), "no dialog template 101 in language 1033");
    if (bytes != NULL) {
        const DLGTEMPLATE* header = (const DLGTEMPLATE*)bytes;
        CHECK(header->style == 0x80C800C0 && header->dwExtendedStyle == 0, "template style 0x%08lX",
              header->style);
        CHECK(header->cdit == 7 && header->x == 0 && header->y == 0 && header->cx == 167 && header->cy == 112,
              "template has %d controls at %d,%d size %dx%d", header->cdit, header->x, header->y, header->cx,
              header->cy);
        const WORD* p = (const WORD*)(header + 1);
        Text menu = ReadNameOrOrdinal(&p), windowClass = ReadNameOrOrdinal(&p), caption = ReadNameOrOrdinal(&p);
        WORD points = *p++;
        Text font = ReadNameOrOrdinal(&p);
        CHECK(menu.empty() && windowClass.empty() && caption == TITLE && points == 8 && font == L"System",
              "template caption \"%s\", font %d \"%s\"", Narrow(caption).c_str(), points, Narrow(font).c_str());
        struct {
            WORD id;
            const wchar_t *className, *text;
            DWORD style;
            short x, y, cx, cy;
        } expected[] = {
            {1, L"#128", L"OK", 0x50010001, 128, 27, 35, 13},
            {2, L"#128", L"Cancel", 0x50010000, 128, 79, 35, 13},
            {1000, L"#128", L"Refresh", 0x50010000, 128, 53, 35, 13},
            {1001, L"#131", L"", 0x50A10103, 10, 16, 110, 46},
            {0xFFFF, L"#130", L"USB Functions", 0x50020000, 11, 6, 56, 8},
            {1002, L"#131", L"", 0x50A10103, 10, 76, 110, 30},
            {1003, L"#130", L"Mass Storage to Expose:", 0x50020000, 11, 66, 95, 8},
        };
        for (int i = 0; i < 7 && i < header->cdit; i++) {
            p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
            const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)p;
            p = (const WORD*)(item + 1);
            Text className = ReadNameOrOrdinal(&p), text = ReadNameOrOrdinal(&p);
            WORD extra = *p++;
            p = (const WORD*)((const BYTE*)p + extra);
            CHECK(item->id == expected[i].id && className == expected[i].className && text == expected[i].text &&
                      item->style == expected[i].style && item->dwExtendedStyle == 0 && item->x == expected[i].x &&
                      item->y == expected[i].y && item->cx == expected[i].cx && item->cy == expected[i].cy,
                  "control %d is id %d class %s \"%s\" style 0x%08lX at %d,%d size %dx%d", i, item->id,
                  Narrow(className).c_str(), Narrow(text).c_str(), item->style, item->x, item->y, item->cx,
                  item->cy);
        }
    }

    const wchar_t* strings[] = {
        L"USB Function Palvenor",
        L"Pick from available USB functions to expose to a host device.  Also pick USB function mass stoarge drive "
        L"to expose.",
        L"USB Function Palvenor"};
    for (int id = 1; id <= 3; id++) {
        wchar_t text[200] = {0};
        LoadStringW(module, id, text, 200);
        CHECK(lstrcmpW(text, strings[id - 1]) == 0, "string %d is \"%s\"", id, Narrow(text).c_str());
    }

    const BYTE* group = ResourceBytes(module, RT_GROUP_ICON, 102, &size);
    CHECK(group != NULL && size == 6 + 14, "icon group 102 is not one image (%lu bytes)", size);
    if (group != NULL && size == 6 + 14) {
        const BYTE* entry = group + 6;
        WORD bitCount = (WORD)(entry[6] | (entry[7] << 8));
        CHECK(entry[0] == 32 && entry[1] == 32 && bitCount == 4, "the icon is %dx%d at %d bits per pixel",
              entry[0], entry[1], bitCount);
        WORD iconId = (WORD)(entry[12] | (entry[13] << 8));
        const BYTE* image = ResourceBytes(module, RT_ICON, iconId, &size);
        const BITMAPINFOHEADER* info = (const BITMAPINFOHEADER*)image;
        CHECK(info != NULL && info->biWidth == 32 && info->biHeight == 64 && info->biBitCount == 4,
              "icon image %d is not a 32x32 16-colour bitmap", iconId);
    }
    FreeLibrary(module);
}

// ---- timing for the benchmarks ----

static double Since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

static bool ListsFilled(HWND dialog)
{
    return SendMessageW(GetDlgItem(dialog, IDC_STORAGE_LIST), LB_GETCOUNT, 0, 0) > 0 &&
           SendMessageW(GetDlgItem(dialog, IDC_FUNCTION_LIST), LB_GETCOUNT, 0, 0) > 0;
}

// Starts program and times it from the process start to its dialog visible
// (with both lists filled, for palvenor). Prints "startup <label> <ms>" and,
// for palvenor, "populate <label> <ms>": from the dialog's window first seen,
// still hidden, to visible. Leaves the program running in *app.
static bool TimeStartup(const Text& program, const wchar_t* caption, bool isPalvenor, const char* label, Palvenor* app)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!Launch(program.c_str(), L"\"" + program + L"\"", &app->process)) {
        Fail(__LINE__, "%s did not start (error %lu)", Narrow(program).c_str(), GetLastError());
        return false;
    }
    double hiddenSeen = -1;
    for (;;) {
        std::vector<HWND> windows = FindWindows(*app, caption);
        if (!windows.empty() && hiddenSeen < 0)
            hiddenSeen = Since(start);
        if (!windows.empty() && IsWindowVisible(windows[0]) && (!isPalvenor || ListsFilled(windows[0]))) {
            app->dialog = windows[0];
            double visible = Since(start);
            printf("startup %s %.2f\n", label, visible);
            if (isPalvenor)
                printf("populate %s %.2f\n", label, visible - hiddenSeen);
            return true;
        }
        if (Since(start) > WAIT_MS || WaitForSingleObject(app->process.hProcess, 0) == WAIT_OBJECT_0) {
            Fail(__LINE__, "%s showed no dialog", Narrow(program).c_str());
            return false;
        }
        Sleep(1);
    }
}

// Start-up of palvenor and of the minimal dialog program, interleaved, on
// the default device and on the large one; then Refresh on the large one.
static int Timings(const Text& minimal, int runs)
{
    g_scenario = "timings";
    const wchar_t* minimalCaption = L"Minimal Dialog";
    for (int device = 0; device < 2; device++) {
        if (device == 0)
            ImportDevice({L"devices\\default.reg"});
        else
            ImportLargeDevice();
        const char* name = device == 0 ? "default" : "large";
        // The first run of each warms the prefix and is not counted.
        for (int run = 0; run <= runs && g_failures == 0; run++) {
            for (int program = 0; program < 2; program++) {
                Palvenor app;
                std::string label = std::string(name) + (program == 0 ? " palvenor" : " minimal");
                if (run == 0)
                    label = "warm-up";
                bool shown = program == 0 ? TimeStartup(g_palvenor, TITLE, true, label.c_str(), &app)
                                          : TimeStartup(minimal, minimalCaption, false, label.c_str(), &app);
                if (shown)
                    PostMessageW(app.dialog, WM_COMMAND, IDCANCEL, 0);
                ExpectExit(&app);
            }
        }
    }
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        for (int run = 0; run <= runs; run++) {
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            Refresh(app.dialog);
            double took = Since(start);
            if (run > 0)
                printf("refresh large %.2f\n", took);
        }
        CHECK(ListsFilled(app.dialog), "the lists are empty after Refresh");
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
    return g_failures == 0 ? 0 : 1;
}

// ---- the walk-through of scripts/run ----

// The screen, or only the part of it a window covers, as a BMP file.
static void SaveScreenshot(const Text& path, HWND window)
{
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window != NULL)
        GetWindowRect(window, &area);
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
static int Walkthrough(const Text& shots)
{
    g_scenario = "walk-through";
    PrintSettings("Before");
    Palvenor app = Start();
    if (!WaitForDialog(&app))
        return 1;
    Sleep(500);
    SaveScreenshot(shots + L"\\dialog.bmp", app.dialog);
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
    Sleep(300);
    SaveScreenshot(shots + L"\\chosen.bmp", app.dialog);
    Press(app.dialog, IDOK);
    HWND box = WaitForWindow(app, WARNING_CAPTION, true);
    if (box != NULL) {
        Sleep(500);
        SaveScreenshot(shots + L"\\warning.bmp", NULL);
        printf("\nA box captioned \"%s\" says: \"%s\"\n\n", Narrow(WARNING_CAPTION).c_str(),
               Narrow(WindowText(GetDlgItem(box, 0xFFFF))).c_str());
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    PrintSettings("After");
    return g_failures == 0 ? 0 : 1;
}

int wmain(int argc, wchar_t** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc == 5 && lstrcmpW(argv[1], L"--walkthrough") == 0) {
        g_repository = argv[2];
        g_palvenor = argv[3];
        return Walkthrough(argv[4]);
    }
    if (argc == 6 && lstrcmpW(argv[1], L"--timings") == 0) {
        g_repository = argv[2];
        g_palvenor = argv[3];
        return Timings(argv[4], _wtoi(argv[5]));
    }
    if (argc < 3) {
        printf("usage: driver.exe <repository> <palvenor.exe> [scenario ...]\n"
               "       driver.exe --timings <repository> <palvenor.exe> <minimal_dialog.exe> <runs>\n"
               "       driver.exe --walkthrough <repository> <palvenor.exe> <screenshot folder>\n");
        return 2;
    }
    g_repository = argv[1];
    g_palvenor = argv[2];

    struct {
        const char* name;
        void (*run)(void);
    } scenarios[] = {
        {"lists-on-start", ListsOnStart},
        {"ok-with-new-choice", OkWithNewChoice},
        {"ok-with-nothing-selected", OkWithNothingSelected},
        {"bus-fails", BusFails},
        {"inventory-fails", InventoryFails},
        {"refresh-rereads", RefreshRereads},
        {"keys-and-close-box", KeysAndCloseBox},
        {"second-start", SecondStart},
        {"presses-during-boxes", PressesDuringBoxes},
        {"built-resources", BuiltResources},
        {"emulator-rules", EmulatorRules},
        {"hostile-values", HostileValues},
        {"refresh-under-load", RefreshUnderLoad},
        {"random-presses-during-boxes", RandomPressesDuringBoxes},
    };
    int failed = 0, ran = 0;
    for (auto& scenario : scenarios) {
        bool chosen = argc == 3;
        for (int i = 3; i < argc; i++) {
            char name[64];
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, name, sizeof(name), NULL, NULL);
            chosen = chosen || strcmp(name, scenario.name) == 0;
        }
        if (!chosen)
            continue;
        g_scenario = scenario.name;
        int before = g_failures;
        DWORD start = GetTickCount();
        scenario.run();
        ran++;
        if (g_failures != before)
            failed++;
        printf("%s %s (%lu ms)\n", g_failures == before ? "ok  " : "FAIL", scenario.name, GetTickCount() - start);
    }
    printf("%d of %d scenarios passed\n", ran - failed, ran);
    return failed == 0 && ran > 0 ? 0 : 1;
}
