#include "support.h"

#include <winternl.h>

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>

#include "platform/desktop/emulated_device.h"

const TemplateControl TEMPLATE_CONTROLS[7] = {
    {1, L"#128", L"OK", 0x50010001, 128, 27, 35, 13},
    {2, L"#128", L"Cancel", 0x50010000, 128, 79, 35, 13},
    {1000, L"#128", L"Refresh", 0x50010000, 128, 53, 35, 13},
    {1001, L"#131", L"", 0x50A10103, 10, 16, 110, 46},
    {0xFFFF, L"#130", L"USB Functions", 0x50020000, 11, 6, 56, 8},
    {1002, L"#131", L"", 0x50A10103, 10, 76, 110, 30},
    {1003, L"#130", L"Mass Storage to Expose:", 0x50020000, 11, 66, 95, 8},
};

Text g_repository;
Text g_palvenor;
const char* g_scenario = "";
int g_failures;

void Fail(const char* file, int line, const char* format, ...)
{
    const char* name = strrchr(file, '/');
    va_list args;
    va_start(args, format);
    printf("FAIL %s (%s:%d): ", g_scenario, name != NULL ? name + 1 : file, line);
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
    va_end(args);
    g_failures++;
}

std::string Narrow(const Text& text)
{
    std::string narrow;
    for (wchar_t unit : text) {
        if (unit == L'\r')
            narrow += "\\r";
        else if (unit == L'\n')
            narrow += "\\n";
        else if (unit < 0x80)
            narrow += (char)unit;
        else if (unit < 0x800)
            narrow += std::string{(char)(0xC0 | unit >> 6), (char)(0x80 | (unit & 0x3F))};
        else
            narrow += std::string{(char)(0xE0 | unit >> 12), (char)(0x80 | (unit >> 6 & 0x3F)), (char)(0x80 | (unit & 0x3F))};
    }
    return narrow;
}

std::string Join(const std::vector<Text>& texts)
{
    std::string joined = "[";
    for (size_t i = 0; i < texts.size(); i++)
        joined += (i ? ", \"" : "\"") + Narrow(texts[i]) + "\"";
    return joined + "]";
}

Value ReadValue(const wchar_t* path, const wchar_t* name)
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
Value StringValue(const Text& text)
{
    Value value;
    value.present = true;
    value.type = REG_SZ;
    const BYTE* bytes = (const BYTE*)text.c_str();
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

std::string Describe(const Value& value)
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

DWORD RequestCount(void)
{
    Value count = ReadValue(BUS_KEY, L"RequestCount");
    return count.present && count.data.size() == 4 ? *(const DWORD*)count.data.data() : 0;
}

Outcome ReadOutcome(void)
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
bool Launch(const wchar_t* application, const Text& commandLine, PROCESS_INFORMATION* process)
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
        Sleep(100); // a retry's back-off, not a wait for a state
    }
    return false;
}

// What is run (regedit's import of a device, a program that loads or not)
// ends within seconds; a minute leaves room for a slow machine.
static const DWORD PROGRAM_ENDS_MS = 60000;

bool RunAndWait(const Text& commandLine)
{
    PROCESS_INFORMATION process;
    if (!Launch(NULL, commandLine, &process))
        return false;
    // A program that never ends fails the step rather than hanging the run.
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, PROGRAM_ENDS_MS) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

// The device as a .reg file of the repository, on a registry cleared of any
// earlier device; further files are laid over it in order.
void ImportDevice(std::initializer_list<const wchar_t*> files)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Palvenor");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, CLIENT_DRIVERS_KEY);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"System\\StorageManager", L"PNPUnloadDelay");
    for (const wchar_t* file : files) {
        Text path = g_repository + L"\\" + file;
        CHECK(RunAndWait(L"regedit.exe /S \"" + path + L"\""), "could not import %s", Narrow(path).c_str());
    }
}

Palvenor Start(void)
{
    Palvenor app;
    if (!Launch(g_palvenor.c_str(), L"\"" + g_palvenor + L"\"", &app.process))
        Fail(__FILE__, __LINE__, "palvenor.exe did not start (error %lu)", GetLastError());
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
    if ((search->processId == 0 || processId == search->processId) && GetClassNameW(window, className, 64) &&
        lstrcmpW(className, DIALOG_CLASS) == 0 && GetWindowTextW(window, caption, 128) >= 0 &&
        (search->caption == NULL || lstrcmpW(caption, search->caption) == 0))
        search->found.push_back(window);
    return TRUE;
}

// palvenor's top-level dialogs (the choice dialog, message boxes) with this
// caption (NULL: any); an app with no process id stands for every process.
std::vector<HWND> FindWindows(const Palvenor& app, const wchar_t* caption)
{
    WindowSearch search = {app.process.dwProcessId, caption, {}};
    EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

// A palvenor.exe that another program started, found by its dialog.
Palvenor Adopt(HWND dialog)
{
    Palvenor app;
    app.dialog = dialog;
    GetWindowThreadProcessId(dialog, &app.process.dwProcessId);
    app.process.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, app.process.dwProcessId);
    CHECK(app.process.hProcess != NULL, "palvenor.exe's process cannot be opened");
    return app;
}

bool Ended(const Palvenor& app)
{
    return WaitForSingleObject(app.process.hProcess, 0) == WAIT_OBJECT_0;
}

bool WaitUntil(const std::function<bool()>& holds, DWORD bound)
{
    for (DWORD start = GetTickCount();;) {
        if (holds())
            return true;
        if (GetTickCount() - start > bound)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

HWND WaitForWindow(const Palvenor& app, const wchar_t* caption, bool mustBeVisible)
{
    HWND found = NULL;
    WaitUntil([&] {
        for (HWND window : FindWindows(app, caption)) {
            if (!mustBeVisible || IsWindowVisible(window)) {
                found = window;
                return true;
            }
        }
        return Ended(app);
    });
    return found;
}

// The choice dialog, in whatever language: the dialog with the function list.
bool WaitForDialog(Palvenor* app)
{
    app->dialog = NULL;
    WaitUntil([&] {
        for (HWND window : FindWindows(*app, NULL)) {
            if (IsWindowVisible(window) && GetDlgItem(window, IDC_FUNCTION_LIST) != NULL)
                app->dialog = window;
        }
        return app->dialog != NULL || Ended(*app);
    });
    CHECK(app->dialog != NULL, "the dialog did not show");
    return app->dialog != NULL;
}

Text WindowText(HWND window)
{
    wchar_t text[512] = {0};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, (LPARAM)text, SMTO_NORMAL, WAIT_MS, &length);
    return text;
}

// Waits for a message box with this caption, checks its text and closes it
// with its OK button.
void AnswerBox(const Palvenor& app, const wchar_t* caption, const Text& expected)
{
    HWND box = WaitForWindow(app, caption, true);
    if (box == NULL) {
        Fail(__FILE__, __LINE__, "no \"%s\" box with \"%s\"", Narrow(caption).c_str(), Narrow(expected).c_str());
        return;
    }
    Text text = WindowText(GetDlgItem(box, 0xFFFF));
    CHECK(text == expected, "the \"%s\" box says \"%s\", expected \"%s\"", Narrow(caption).c_str(),
          Narrow(text).c_str(), Narrow(expected).c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    CHECK(WaitUntil([&] { return !IsWindow(box); }), "the \"%s\" box did not close", Narrow(caption).c_str());
}

void Press(HWND dialog, int id)
{
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// A key pressed while the function list has the focus; the dialog's message
// loop turns Enter and Escape into the default button and Cancel.
void Key(HWND dialog, WPARAM key)
{
    HWND list = GetDlgItem(dialog, IDC_FUNCTION_LIST);
    PostMessageW(list, WM_KEYDOWN, key, 1);
    PostMessageW(list, WM_KEYUP, key, 0xC0000001);
}

void CloseBox(HWND dialog)
{
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

Text ReadEntry(HWND list, LRESULT index)
{
    wchar_t text[256] = {0};
    if (SendMessageW(list, LB_GETTEXTLEN, index, 0) < 256)
        SendMessageW(list, LB_GETTEXT, index, (LPARAM)text);
    return text;
}

ListState ReadList(HWND dialog, int id)
{
    ListState state;
    HWND list = GetDlgItem(dialog, id);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++)
        state.entries.push_back(ReadEntry(list, i));
    state.selected = (int)SendMessageW(list, LB_GETCURSEL, 0, 0);
    return state;
}

bool StoreListed(HWND dialog, const Text& store)
{
    std::vector<Text> stores = ReadList(dialog, IDC_STORAGE_LIST).entries;
    return std::find(stores.begin(), stores.end(), store) != stores.end();
}

void ExpectList(HWND dialog, int id, const std::vector<Text>& entries, int selected)
{
    ListState state = ReadList(dialog, id);
    const char* which = id == IDC_STORAGE_LIST ? "storage" : "function";
    CHECK(state.entries == entries, "%s list shows %s, expected %s", which, Join(state.entries).c_str(),
          Join(entries).c_str());
    CHECK(state.selected == selected, "%s list has entry %d selected, expected %d", which, state.selected,
          selected);
}

void Choose(HWND dialog, int id, int index)
{
    SendMessageW(GetDlgItem(dialog, id), LB_SETCURSEL, index, 0);
}

// palvenor's dialogs and boxes, as a person would see them: what a process
// that does not end is waiting on.
static std::string DescribeWindows(const Palvenor& app)
{
    std::string seen;
    for (const wchar_t* caption : {TITLE, ERROR_CAPTION, WARNING_CAPTION}) {
        for (HWND window : FindWindows(app, caption)) {
            seen += seen.empty() ? "" : ", ";
            seen += "\"" + Narrow(caption) + "\"" + (IsWindowVisible(window) ? "" : " (hidden)");
            if (caption != TITLE)
                seen += " saying \"" + Narrow(WindowText(GetDlgItem(window, 0xFFFF))) + "\"";
        }
    }
    return seen.empty() ? "no window" : seen;
}

// Waits for palvenor to end and checks its exit code; ends it if it hangs.
void ExpectExit(Palvenor* app)
{
    if (app->process.hProcess == NULL)
        return;
    if (WaitForSingleObject(app->process.hProcess, WAIT_MS) != WAIT_OBJECT_0) {
        Fail(__FILE__, __LINE__, "palvenor.exe is still running; it shows %s", DescribeWindows(*app).c_str());
        TerminateProcess(app->process.hProcess, 99);
        WaitForSingleObject(app->process.hProcess, WAIT_MS);
    }
    DWORD code = 99;
    GetExitCodeProcess(app->process.hProcess, &code);
    // An exception's code has its two top bits set; with no debugger it is the exit code.
    CHECK(code < 0xC0000000, "palvenor.exe crashed: exception 0x%08lX", code);
    CHECK(code == 0 || code >= 0xC0000000, "palvenor.exe exited with %lu", code);
    CloseHandle(app->process.hThread);
    CloseHandle(app->process.hProcess);
    app->process = PROCESS_INFORMATION();
}

void ExpectUnchanged(const Outcome& before)
{
    Outcome after = ReadOutcome();
    CHECK(after == before, "the registry changed: DeviceName %s, DefaultClientDriver %s, bus %s",
          Describe(after.deviceName).c_str(), Describe(after.defaultDriver).c_str(),
          Describe(after.currentDriver).c_str());
}

void ExpectWritten(const Text& deviceName, const Text& driver)
{
    Value device = ReadValue(MASS_STORAGE_KEY, L"DeviceName");
    Value defaultDriver = ReadValue(CLIENT_DRIVERS_KEY, L"DefaultClientDriver");
    CHECK(device == StringValue(deviceName), "DeviceName is %s", Describe(device).c_str());
    CHECK(defaultDriver == StringValue(driver), "DefaultClientDriver is %s", Describe(defaultDriver).c_str());
}

// The one request the bus received: the code and the driver's 256-byte slot.
void ExpectOneRequest(const Text& driver)
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

void SetString(HKEY key, const wchar_t* name, const Text& text)
{
    RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text.c_str(), (DWORD)((text.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof(value));
}

// The default device with 1,000 more client drivers, names of 127 characters,
// and 64 more exposable stores.
void ImportLargeDevice(void)
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
        wchar_t name[16], device[16], store[32];
        swprintf(name, 16, L"6 Load %02d", i);
        swprintf(device, 16, L"LD%02d:", i);
        swprintf(store, 32, L"Load Store %02d", i);
        PutCardIn(name, device, store);
    }
}

void PutCardIn(const Text& key, const Text& deviceName, const Text& storeName)
{
    HKEY store;
    CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (Text(STORES_KEY) + L"\\" + key).c_str(), 0, NULL, 0, KEY_WRITE, NULL,
                          &store, NULL) == ERROR_SUCCESS,
          "could not put in the card %s", Narrow(key).c_str());
    SetString(store, L"DeviceName", deviceName);
    SetString(store, L"StoreName", storeName);
    SetString(store, L"Profile", L"SDMemory");
    SetDword(store, L"DeviceClass", 1);
    SetDword(store, L"DeviceFlags", 1);
    RegCloseKey(store);
}

void TakeCardOut(const Text& key)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (Text(STORES_KEY) + L"\\" + key).c_str());
}

void SetDeviceValue(const wchar_t* path, const wchar_t* name, DWORD value)
{
    HKEY key;
    CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS,
          "could not open %s", Narrow(path).c_str());
    SetDword(key, name, value);
    RegCloseKey(key);
}

DWORD StoreSearches(void)
{
    Value count = ReadValue(EMULATOR_KEY, L"StoreSearches");
    return count.present && count.data.size() == 4 ? *(const DWORD*)count.data.data() : 0;
}

// A press of Refresh that returns once the lists are filled again.
void Refresh(HWND dialog)
{
    DWORD_PTR ignored;
    CHECK(SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED),
                              (LPARAM)GetDlgItem(dialog, IDC_REFRESH), SMTO_NORMAL, WAIT_MS, &ignored),
          "palvenor did not handle Refresh within %lu ms", WAIT_MS);
}


// Posted messages are taken from a queue in the order posted, by whichever
// loop runs. A marker posted last to the function list, a horizontal extent
// that changes nothing it shows, is therefore handled after all of them.
void Drain(const Palvenor& app, HWND dialog)
{
    static WPARAM marker = 1000;
    // A dialog found while it is being made may not have its list yet; a
    // marker posted to no window would go to the driver's own queue.
    HWND list = NULL;
    WaitUntil([&] { return (list = GetDlgItem(dialog, IDC_FUNCTION_LIST)) != NULL || !IsWindow(dialog); });
    marker = marker % 4000 + 1;
    if (list == NULL || !PostMessageW(list, LB_SETHORIZONTALEXTENT, marker, 0))
        return; // the dialog is gone, and its queue with it
    // A look that palvenor does not answer at once is not taken: one that
    // stopped taking messages fails the wait.
    bool taken = WaitUntil([&] {
        DWORD_PTR extent = 0;
        return (SendMessageTimeoutW(list, LB_GETHORIZONTALEXTENT, 0, 0, SMTO_NORMAL, 100, &extent) && extent == marker) ||
               !IsWindow(list) || Ended(app);
    });
    CHECK(taken, "palvenor did not take, within %lu ms, the marker posted to its function list after what was posted "
          "before", WAIT_MS);
}

static LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND ShowFrontWindow(void)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"PalvenorTestFront";
    RegisterClassW(&windowClass); // fails harmlessly once registered
    HWND front = CreateWindowW(L"PalvenorTestFront", L"front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, NULL,
                               NULL, windowClass.hInstance, NULL);
    SetForegroundWindow(front);
    CHECK(WaitForForeground(front), "could not bring another window to the front");
    return front;
}

bool WaitForForeground(HWND window)
{
    return WaitUntil([&] { return GetForegroundWindow() == window; });
}

// From the system's process list, which has the handle counts the server
// keeps (Wine's GetProcessHandleCount reports 0).
std::vector<ProcessEntry> ListProcesses(void)
{
    typedef LONG(WINAPI * QuerySystem)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    QuerySystem query = (QuerySystem)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    std::vector<ProcessEntry> processes;
    if (query == NULL || query(SystemProcessInformation, buffer.data(), (ULONG)buffer.size(), &needed) != 0)
        return processes;
    for (BYTE* entry = buffer.data();; entry += ((SYSTEM_PROCESS_INFORMATION*)entry)->NextEntryOffset) {
        SYSTEM_PROCESS_INFORMATION* process = (SYSTEM_PROCESS_INFORMATION*)entry;
        Text image(process->ImageName.Buffer, process->ImageName.Length / sizeof(wchar_t));
        processes.push_back({(DWORD)(ULONG_PTR)process->UniqueProcessId, image, process->HandleCount});
        if (process->NextEntryOffset == 0)
            return processes;
    }
}

DWORD HandleCount(DWORD processId)
{
    for (const ProcessEntry& process : ListProcesses()) {
        if (process.id == processId)
            return process.handles;
    }
    return 0;
}

std::vector<DWORD> ProcessesNamed(const wchar_t* image)
{
    std::vector<DWORD> found;
    for (const ProcessEntry& process : ListProcesses()) {
        if (lstrcmpiW(process.image.c_str(), image) == 0)
            found.push_back(process.id);
    }
    return found;
}
