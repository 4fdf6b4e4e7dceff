// What the Wine driver's parts share: checks that name their line, the
// registry as palvenor leaves it, and palvenor's process and windows as a
// person finds and uses them.
#ifndef PALVENOR_WINE_SUPPORT_H
#define PALVENOR_WINE_SUPPORT_H

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/ce_services.h"

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

enum { IDC_REFRESH = 1000, IDC_FUNCTION_LIST = 1001, IDC_STORAGE_LIST = 1002, IDC_STORAGE_LABEL = 1003 };

// Dialog 101's controls as the template holds them, in its order; the first
// label's -1 is the word 0xFFFF. Rectangles in dialog units.
struct TemplateControl {
    WORD id;
    const wchar_t *className, *text;
    DWORD style;
    short x, y, cx, cy;
};
extern const TemplateControl TEMPLATE_CONTROLS[7];
// The template's size in dialog units.
static const int TEMPLATE_CX = 167, TEMPLATE_CY = 112;
// How long a wait may take before it reports a failure; no wait ends early
// on time alone.
static const DWORD WAIT_MS = 10000;

extern Text g_repository;
extern Text g_palvenor;
extern const char* g_scenario;
extern int g_failures;

void Fail(const char* file, int line, const char* format, ...);
#define CHECK(condition, ...)                          \
    do {                                               \
        if (!(condition))                              \
            Fail(__FILE__, __LINE__, __VA_ARGS__);     \
    } while (0)

std::string Narrow(const Text& text);
std::string Join(const std::vector<Text>& texts);

// ---- the registry ----

struct Value {
    bool present = false;
    DWORD type = 0;
    Bytes data;
    bool operator==(const Value& other) const
    {
        return present == other.present && type == other.type && data == other.data;
    }
};

Value ReadValue(const wchar_t* path, const wchar_t* name);
Value StringValue(const Text& text);
std::string Describe(const Value& value);
DWORD RequestCount(void);

// Everything palvenor may change: the two settings and the bus.
struct Outcome {
    Value deviceName, defaultDriver, currentDriver, requestCount;
    bool operator==(const Outcome& other) const
    {
        return deviceName == other.deviceName && defaultDriver == other.defaultDriver &&
               currentDriver == other.currentDriver && requestCount == other.requestCount;
    }
};

Outcome ReadOutcome(void);
void ImportDevice(std::initializer_list<const wchar_t*> files);
void ImportLargeDevice(void);
// A card put in while palvenor runs: a writable block store, SDMemory, under
// the device's Stores key; taken out, the key goes. The emulated device
// announces each itself.
void PutCardIn(const Text& key, const Text& deviceName, const Text& storeName);
void TakeCardOut(const Text& key);
// A DWORD of the device under HKEY_LOCAL_MACHINE: MountDelay and the fault
// values under EMULATOR_KEY, PNPUnloadDelay under STORAGE_MANAGER_KEY.
void SetDeviceValue(const wchar_t* path, const wchar_t* name, DWORD value);
#define STORAGE_MANAGER_KEY L"System\\StorageManager"
// CE's PNPUnloadDelay where the device sets none.
static const DWORD PNP_UNLOAD_DELAY_MS = 5000;
// How many store searches the device has had: two for each rebuild.
DWORD StoreSearches(void);
void SetString(HKEY key, const wchar_t* name, const Text& text);
void SetDword(HKEY key, const wchar_t* name, DWORD value);
void ExpectUnchanged(const Outcome& before);
void ExpectWritten(const Text& deviceName, const Text& driver);
void ExpectOneRequest(const Text& driver);

// ---- palvenor's process and windows ----

struct Palvenor {
    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
};

struct ListState {
    std::vector<Text> entries;
    int selected = LB_ERR;
};

// Looks at a state until it holds, for WAIT_MS at most; false if it never
// did. Between two looks the driver's own messages go through, so that its
// windows take their activation.
bool WaitUntil(const std::function<bool()>& holds, DWORD bound = WAIT_MS);

bool Launch(const wchar_t* application, const Text& commandLine, PROCESS_INFORMATION* process);
bool RunAndWait(const Text& commandLine);
Palvenor Start(void);
Palvenor Adopt(HWND dialog);
bool Ended(const Palvenor& app);
void ExpectExit(Palvenor* app);
std::vector<HWND> FindWindows(const Palvenor& app, const wchar_t* caption);
HWND WaitForWindow(const Palvenor& app, const wchar_t* caption, bool mustBeVisible);
bool WaitForDialog(Palvenor* app);
Text WindowText(HWND window);
void AnswerBox(const Palvenor& app, const wchar_t* caption, const Text& expected);

// A person's actions. Press, Key and CloseBox go through palvenor's queue
// and return at once; Choose and Refresh are handled before they return.
void Press(HWND dialog, int id);
void Key(HWND dialog, WPARAM key);
void CloseBox(HWND dialog);
void Choose(HWND dialog, int id, int index);
void Refresh(HWND dialog);
// Returns once palvenor has taken from its queue everything posted to it
// before, whichever loop (its own or a message box's) takes it.
void Drain(const Palvenor& app, HWND dialog);

// The running processes, from the system's list.
struct ProcessEntry {
    DWORD id;
    Text image;
    DWORD handles;
};
std::vector<ProcessEntry> ListProcesses(void);
DWORD HandleCount(DWORD processId);
std::vector<DWORD> ProcessesNamed(const wchar_t* image);

// A window of the driver's own, made the foreground window, so that a test
// can see another come forward; and a wait for a window to be in front.
HWND ShowFrontWindow(void);
bool WaitForForeground(HWND window);

// The desktop's Control Panel (control.exe) with the applet listed in it.
struct ControlPanel {
    PROCESS_INFORMATION process = {};
    HWND list = NULL;
    int item = -1;
};
Text AppletName(void);
bool OpenControlPanel(ControlPanel* panel);
void ClickApplet(const ControlPanel& panel, bool twice);
Palvenor OpenAppletFromPanel(const ControlPanel& panel);
void CloseControlPanel(ControlPanel* panel);
// The dialog of a palvenor.exe another program started.
Palvenor WaitForStartedDialog(void);

Text ReadEntry(HWND list, LRESULT index);
ListState ReadList(HWND dialog, int id);
bool StoreListed(HWND dialog, const Text& store);
void ExpectList(HWND dialog, int id, const std::vector<Text>& entries, int selected);

#endif
