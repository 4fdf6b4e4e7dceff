// The window and dialog manager stand-in: resources read from a .res file,
// dialogs built from their templates, list boxes, message boxes and the
// thread's message queue.
#include "host_internal.h"

#include "app/dialog_layout.h"

#include <stdio.h>

#include <algorithm>
#include <deque>

namespace {

struct Resource {
    WORD type;
    WORD name;
    WORD language;
    std::vector<BYTE> data;
};

struct Window {
    bool alive;
    bool destroying;
    HostText className;
    HostText text;
    int id;
    HWND parent;
    DWORD style;
    DLGPROC proc;
    bool visible;
    std::vector<HostText> items;
    int selection;
    // A list box repaints on each change while redrawing is on; changes made
    // with it off show only once the box is invalidated.
    bool redrawOff;
    bool stale;
    int repaints;
};

struct Timer {
    HWND window;
    UINT_PTR id;
    DWORD period;
    uint64_t due;
};

std::vector<Resource> g_resources;
std::vector<Timer> g_timers;
uint64_t g_clock;
std::vector<Window> g_windows;
std::deque<MSG> g_queue;
std::vector<HostMessageBox> g_boxes;
std::function<void(const HostMessageBox&)> g_onMessageBox;
std::function<void()> g_onIdle;
ULONG_PTR g_foregroundValue;
HWND g_foreground;
INITCOMMONCONTROLSEX g_commonControls;
int g_quitMessages;

const HINSTANCE MODULE_INSTANCE = (HINSTANCE)(uintptr_t)0x400000;

HWND HandleOf(size_t index)
{
    return (HWND)(uintptr_t)((index + 1) << 4);
}

Window* Find(HWND handle)
{
    uintptr_t value = (uintptr_t)handle;
    if (value == 0 || (value & 0xF) != 0 || (value >> 4) > g_windows.size())
        return NULL;
    Window* window = &g_windows[(value >> 4) - 1];
    return window->alive ? window : NULL;
}

Window* FindOrAbort(HWND handle, const char* call)
{
    Window* window = Find(handle);
    if (window == NULL)
        HostAbort((std::string(call) + " on a window that does not exist").c_str());
    return window;
}

HWND AddWindow(const HostText& className, const HostText& text, int id, HWND parent, DWORD style, DLGPROC proc)
{
    g_windows.push_back(Window{true, false, className, text, id, parent, style, proc, false, {}, -1, false, false, 0});
    return HandleOf(g_windows.size() - 1);
}

bool IsListBox(const Window* window)
{
    return HostEqualNoCase(window->className, u"ListBox");
}

// Reads a 16-bit unit from a template, bounds-checked.
struct Reader {
    const std::vector<BYTE>& bytes;
    size_t at;
    bool ok;

    WORD Word()
    {
        if (at + 2 > bytes.size()) {
            ok = false;
            return 0;
        }
        WORD value = (WORD)(bytes[at] | (bytes[at + 1] << 8));
        at += 2;
        return value;
    }
    DWORD Dword()
    {
        WORD low = Word();
        return low | ((DWORD)Word() << 16);
    }
    HostText Text()
    {
        HostText text;
        for (WORD unit = Word(); ok && unit != 0; unit = Word())
            text += (WCHAR)unit;
        return text;
    }
    // A name or an ordinal: 0xFFFF then a number, or a string.
    HostText NameOrOrdinal(WORD* ordinal)
    {
        *ordinal = 0;
        if (at + 2 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] == 0xFF) {
            Word();
            *ordinal = Word();
            return HostText();
        }
        return Text();
    }
    void AlignTo(size_t boundary) { at = (at + boundary - 1) / boundary * boundary; }
};

HostText ControlClassName(WORD atom)
{
    switch (atom) {
    case 0x80:
        return u"Button";
    case 0x81:
        return u"Edit";
    case 0x82:
        return u"Static";
    case 0x83:
        return u"ListBox";
    case 0x84:
        return u"ScrollBar";
    case 0x85:
        return u"ComboBox";
    }
    return u"#" + HostText(1, (WCHAR)atom);
}

const Resource* FindResourceEntry(WORD type, WORD name)
{
    for (const Resource& resource : g_resources) {
        if (resource.type == type && resource.name == name)
            return &resource;
    }
    return NULL;
}

void ListBoxChanged(Window* box)
{
    if (box->redrawOff)
        box->stale = true;
    else
        box->repaints++;
}

LRESULT ListBoxMessage(Window* box, UINT message, WPARAM wParam, LPARAM lParam)
{
    int count = (int)box->items.size();
    int index = (int)wParam;
    switch (message) {
    case WM_SETREDRAW:
        box->redrawOff = wParam == FALSE;
        return 0;
    case LB_INSERTSTRING:
        if (index < -1 || index > count)
            return LB_ERR;
        if (HostShouldFail(HOST_LIST_INSERT))
            return LB_ERRSPACE;
        if (index == -1)
            index = count;
        // The sort style does not reorder an insertion.
        box->items.insert(box->items.begin() + index, HostText((LPCWSTR)lParam));
        if (box->selection >= index)
            box->selection++;
        ListBoxChanged(box);
        return index;
    case LB_RESETCONTENT:
        box->items.clear();
        box->selection = -1;
        ListBoxChanged(box);
        return 0;
    case LB_SETCURSEL:
        if (index == -1) {
            box->selection = -1;
            return LB_ERR;
        }
        if (index < 0 || index >= count)
            return LB_ERR;
        box->selection = index;
        ListBoxChanged(box);
        return index;
    case LB_GETCURSEL:
        return box->selection;
    case LB_GETCOUNT:
        return count;
    case LB_GETTEXTLEN:
        return index >= 0 && index < count ? (LRESULT)box->items[index].size() : LB_ERR;
    case LB_GETTEXT:
        if (index < 0 || index >= count)
            return LB_ERR;
        memcpy((WCHAR*)lParam, box->items[index].c_str(), (box->items[index].size() + 1) * sizeof(WCHAR));
        return (LRESULT)box->items[index].size();
    }
    HostAbort(("list box message " + std::to_string(message) + " is not modelled").c_str());
}

int DefaultButton(HWND dialog)
{
    for (size_t i = 0; i < g_windows.size(); i++) {
        const Window& child = g_windows[i];
        if (child.alive && child.parent == dialog && HostEqualNoCase(child.className, u"Button") &&
            (child.style & 0xF) == 1)
            return child.id;
    }
    return IDOK;
}

// The dialog manager's part: the procedure first, then its default handling.
LRESULT DialogMessage(HWND dialog, Window* window, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR handled = window->proc(dialog, message, wParam, lParam);
    if (message == WM_CLOSE && !handled && Find(dialog) != NULL) {
        HWND cancel = GetDlgItem(dialog, IDCANCEL);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)cancel);
    }
    return handled;
}

bool BelongsTo(HWND window, HWND dialog)
{
    Window* found = Find(window);
    return window == dialog || (found != NULL && found->parent == dialog);
}

} // namespace

void HostResetWindows(void)
{
    g_windows.clear();
    g_queue.clear();
    g_timers.clear();
    g_clock = 0;
    g_boxes.clear();
    g_onMessageBox = nullptr;
    g_onIdle = nullptr;
    g_foregroundValue = 0;
    g_foreground = NULL;
    g_commonControls = INITCOMMONCONTROLSEX{0, 0};
    g_quitMessages = 0;
}

bool HostLoadResourceFile(const char* path)
{
    FILE* file = fopen(path, "rb");
    if (file == NULL)
        return false;
    std::vector<BYTE> bytes;
    int c;
    while ((c = fgetc(file)) != EOF)
        bytes.push_back((BYTE)c);
    fclose(file);

    g_resources.clear();
    Reader reader{bytes, 0, true};
    while (reader.ok && reader.at + 8 <= bytes.size()) {
        size_t start = reader.at;
        DWORD dataSize = reader.Dword();
        DWORD headerSize = reader.Dword();
        Resource resource{0, 0, 0, {}};
        if (!reader.NameOrOrdinal(&resource.type).empty() || !reader.NameOrOrdinal(&resource.name).empty())
            return false; // only numbered resources are modelled
        reader.AlignTo(4);
        reader.Dword(); // data version
        reader.Word();  // memory flags
        resource.language = reader.Word();
        size_t data = start + headerSize;
        if (!reader.ok || data + dataSize > bytes.size())
            return false;
        resource.data.assign(bytes.begin() + data, bytes.begin() + data + dataSize);
        if (resource.type != 0)
            g_resources.push_back(resource);
        reader.at = data + dataSize;
        reader.AlignTo(4);
    }
    return reader.ok && !g_resources.empty();
}

HINSTANCE HostModuleInstance(void)
{
    return MODULE_INSTANCE;
}

const std::vector<BYTE>* HostFindResource(WORD type, WORD name, WORD* language)
{
    const Resource* resource = FindResourceEntry(type, name);
    if (resource != NULL && language != NULL)
        *language = resource->language;
    return resource != NULL ? &resource->data : NULL;
}

bool HostParseDialogTemplate(const std::vector<BYTE>& bytes, HostDialogTemplate* parsed)
{
    Reader reader{bytes, 0, true};
    parsed->style = reader.Dword();
    parsed->exStyle = reader.Dword();
    WORD count = reader.Word();
    parsed->x = (short)reader.Word();
    parsed->y = (short)reader.Word();
    parsed->cx = (short)reader.Word();
    parsed->cy = (short)reader.Word();
    WORD ordinal;
    parsed->menu = reader.NameOrOrdinal(&ordinal);
    parsed->className = reader.NameOrOrdinal(&ordinal);
    parsed->caption = reader.Text();
    parsed->pointSize = 0;
    parsed->font.clear();
    if (parsed->style & 0x40) { // DS_SETFONT
        parsed->pointSize = reader.Word();
        parsed->font = reader.Text();
    }
    parsed->items.clear();
    for (WORD i = 0; i < count && reader.ok; i++) {
        reader.AlignTo(4);
        HostDialogItem item;
        item.style = reader.Dword();
        item.exStyle = reader.Dword();
        item.x = (short)reader.Word();
        item.y = (short)reader.Word();
        item.cx = (short)reader.Word();
        item.cy = (short)reader.Word();
        item.id = reader.Word();
        WORD atom;
        item.className = reader.NameOrOrdinal(&atom);
        if (atom != 0)
            item.className = ControlClassName(atom);
        item.text = reader.NameOrOrdinal(&ordinal);
        WORD extra = reader.Word();
        reader.at += extra;
        parsed->items.push_back(item);
    }
    return reader.ok && reader.at <= bytes.size();
}

HWND HostCreateWindow(const HostText& className, const HostText& title)
{
    return AddWindow(className, title, 0, NULL, 0, NULL);
}

HostText HostWindowClass(HWND window)
{
    return FindOrAbort(window, "HostWindowClass")->className;
}

HostText HostWindowText(HWND window)
{
    return FindOrAbort(window, "HostWindowText")->text;
}

bool HostIsVisible(HWND window)
{
    return FindOrAbort(window, "HostIsVisible")->visible;
}

std::vector<HostText> HostListItems(HWND listBox)
{
    return FindOrAbort(listBox, "HostListItems")->items;
}

int HostListRepaints(HWND listBox)
{
    return FindOrAbort(listBox, "HostListRepaints")->repaints;
}

bool HostListShowsItsItems(HWND listBox)
{
    Window* box = FindOrAbort(listBox, "HostListShowsItsItems");
    return !box->redrawOff && !box->stale;
}

int HostListSelection(HWND listBox)
{
    return FindOrAbort(listBox, "HostListSelection")->selection;
}

HWND HostForegroundWindow(void)
{
    return g_foreground;
}

ULONG_PTR HostForegroundHandleValue(void)
{
    return g_foregroundValue;
}

INITCOMMONCONTROLSEX HostCommonControls(void)
{
    return g_commonControls;
}

int HostQuitMessages(void)
{
    return g_quitMessages;
}

const std::vector<HostMessageBox>& HostMessageBoxes(void)
{
    return g_boxes;
}

void HostOnMessageBox(std::function<void(const HostMessageBox& box)> hook)
{
    g_onMessageBox = hook;
}

void HostOnIdle(std::function<void()> hook)
{
    g_onIdle = hook;
}

void HostClickButton(HWND dialog, int id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void HostChooseEntry(HWND dialog, int listId, int index)
{
    HWND box = GetDlgItem(dialog, listId);
    SendMessageW(box, LB_SETCURSEL, (WPARAM)index, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(listId, LBN_SELCHANGE), (LPARAM)box);
}

void HostClickCloseBox(HWND dialog)
{
    SendMessageW(dialog, WM_CLOSE, 0, 0);
}

void HostPressKey(HWND dialog, UINT virtualKey)
{
    MSG msg = {dialog, WM_KEYDOWN, virtualKey, 0, 0, {0, 0}};
    IsDialogMessageW(dialog, &msg);
}

void HostPostKey(HWND dialog, UINT virtualKey)
{
    PostMessageW(dialog, WM_KEYDOWN, virtualKey, 0);
}

// The host has no screen: the dialog keeps its template's layout.
void FitDialogToWorkArea(HWND dialog)
{
    (void)dialog;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init)
{
    g_commonControls = *init;
    return init->dwSize == sizeof(INITCOMMONCONTROLSEX);
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity)
{
    if (capacity <= 0)
        HostAbort("LoadStringW: only copying into a buffer is modelled");
    if (HostShouldFail(HOST_LOAD_STRING) || instance != MODULE_INSTANCE) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const Resource* block = FindResourceEntry(6, (WORD)((id >> 4) + 1));
    if (block == NULL) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    Reader reader{block->data, 0, true};
    for (UINT i = 0; i < (id & 15) && reader.ok; i++)
        reader.at += 2 * (size_t)reader.Word();
    WORD length = reader.Word();
    if (!reader.ok || length == 0 || reader.at + 2 * (size_t)length > block->data.size()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    int copied = length < capacity - 1 ? length : capacity - 1;
    memcpy(buffer, block->data.data() + reader.at, copied * sizeof(WCHAR));
    buffer[copied] = 0;
    return copied;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR title)
{
    for (size_t i = 0; i < g_windows.size(); i++) {
        const Window& window = g_windows[i];
        if (window.alive && window.parent == NULL && HostEqualNoCase(window.className, className) &&
            (title == NULL || HostEqualNoCase(window.text, title)))
            return HandleOf(i);
    }
    return NULL;
}

BOOL SetForegroundWindow(HWND window)
{
    g_foregroundValue = (ULONG_PTR)window;
    // CE reads the low bit as a flag, not as part of the handle.
    HWND target = (HWND)((ULONG_PTR)window & ~(ULONG_PTR)1);
    if (Find(target) == NULL)
        return FALSE;
    g_foreground = target;
    return TRUE;
}

HRSRC FindResourceW(HINSTANCE instance, LPCWSTR name, LPCWSTR type)
{
    if (!IS_INTRESOURCE(name) || !IS_INTRESOURCE(type))
        HostAbort("FindResourceW: only numbered resources are modelled");
    if (HostShouldFail(HOST_FIND_RESOURCE) || instance != MODULE_INSTANCE) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return NULL;
    }
    for (size_t i = 0; i < g_resources.size(); i++) {
        if (g_resources[i].type == (WORD)(ULONG_PTR)type && g_resources[i].name == (WORD)(ULONG_PTR)name)
            return (HRSRC)(uintptr_t)(i + 1);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return NULL;
}

HGLOBAL LoadResource(HINSTANCE instance, HRSRC resource)
{
    size_t index = (size_t)(uintptr_t)resource;
    if (index == 0 || index > g_resources.size())
        HostAbort("LoadResource: not a resource handle");
    if (HostShouldFail(HOST_LOAD_RESOURCE) || instance != MODULE_INSTANCE)
        return NULL;
    return g_resources[index - 1].data.data();
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner, DLGPROC dialogProc,
                                LPARAM initParam)
{
    const Resource* source = NULL;
    for (const Resource& resource : g_resources) {
        if ((const void*)resource.data.data() == (const void*)dialogTemplate)
            source = &resource;
    }
    if (source == NULL)
        HostAbort("CreateDialogIndirectParamW: only templates from loaded resources are modelled");
    HostDialogTemplate parsed;
    if (!HostParseDialogTemplate(source->data, &parsed))
        HostAbort("CreateDialogIndirectParamW: the template does not parse");
    if (HostShouldFail(HOST_CREATE_DIALOG) || instance != MODULE_INSTANCE || dialogProc == NULL)
        return NULL;

    HWND dialog = AddWindow(parsed.className.empty() ? u"Dialog" : parsed.className, parsed.caption, 0, owner,
                            parsed.style, dialogProc);
    HWND focus = NULL;
    for (const HostDialogItem& item : parsed.items) {
        HWND control = AddWindow(item.className, item.text, (short)item.id, dialog, item.style, NULL);
        if (focus == NULL && (item.style & 0x00010000)) // WS_TABSTOP
            focus = control;
    }
    HostRecord("CreateDialogIndirectParamW");
    dialogProc(dialog, WM_INITDIALOG, (WPARAM)focus, initParam);
    Window* window = Find(dialog);
    if (window == NULL)
        return NULL;
    window->visible = (parsed.style & 0x10000000) != 0; // WS_VISIBLE
    return dialog;
}

BOOL ShowWindow(HWND window, int command)
{
    Window* found = FindOrAbort(window, "ShowWindow");
    BOOL wasVisible = found->visible;
    found->visible = command != SW_HIDE;
    HostRecord("ShowWindow " + std::to_string(command));
    return wasVisible;
}

BOOL UpdateWindow(HWND window)
{
    FindOrAbort(window, "UpdateWindow");
    HostRecord("UpdateWindow");
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* area, BOOL erase)
{
    Window* found = FindOrAbort(window, "InvalidateRect");
    if (area != NULL || !erase)
        HostAbort("InvalidateRect: only the whole window, erased, is modelled");
    if (!found->redrawOff) {
        found->stale = false;
        found->repaints++;
    }
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    return Find(window) != NULL;
}

BOOL DestroyWindow(HWND window)
{
    Window* found = Find(window);
    if (found == NULL || found->destroying)
        return FALSE;
    HostRecord("DestroyWindow");
    found->destroying = true;
    if (found->proc != NULL)
        found->proc(window, WM_DESTROY, 0, 0);
    for (Window& child : g_windows) {
        if (child.parent == window)
            child.alive = false;
    }
    Find(window)->alive = false;
    auto ofWindow = [window](const Timer& timer) { return timer.window == window; };
    g_timers.erase(std::remove_if(g_timers.begin(), g_timers.end(), ofWindow), g_timers.end());
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    g_quitMessages++;
    g_queue.push_back(MSG{NULL, WM_QUIT, (WPARAM)exitCode, 0, 0, {0, 0}});
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window != NULL && Find(window) == NULL)
        return FALSE;
    g_queue.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

void HostAdvanceClock(DWORD milliseconds)
{
    g_clock += milliseconds;
    HostDeviceClock(g_clock);
}

DWORD HostClock(void)
{
    return (DWORD)g_clock;
}

int HostArmedTimers(void)
{
    return (int)g_timers.size();
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC callback)
{
    FindOrAbort(window, "SetTimer");
    if (callback != NULL || id == 0)
        HostAbort("SetTimer: only a numbered timer of a window, without a callback, is modelled");
    HostRecord("SetTimer " + std::to_string(id) + " " + std::to_string(milliseconds));
    for (Timer& timer : g_timers) {
        if (timer.window == window && timer.id == id) {
            timer.period = milliseconds;
            timer.due = g_clock + milliseconds;
            return id;
        }
    }
    g_timers.push_back(Timer{window, id, milliseconds, g_clock + milliseconds});
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    for (size_t i = 0; i < g_timers.size(); i++) {
        if (g_timers[i].window == window && g_timers[i].id == id) {
            g_timers.erase(g_timers.begin() + i);
            return TRUE;
        }
    }
    return FALSE;
}

void HostBroadcast(UINT message, WPARAM wParam, LPARAM lParam)
{
    for (size_t i = 0; i < g_windows.size(); i++) {
        if (g_windows[i].alive && g_windows[i].parent == NULL && g_windows[i].proc != NULL)
            SendMessageW(HandleOf(i), message, wParam, lParam);
    }
}

// The next message to fetch: a queued one first, then a due timer's.
static bool NextMessage(MSG* msg, bool remove)
{
    if (!g_queue.empty()) {
        *msg = g_queue.front();
        if (remove)
            g_queue.pop_front();
        return true;
    }
    Timer* due = NULL;
    for (Timer& timer : g_timers) {
        if (timer.due <= g_clock && (due == NULL || timer.due < due->due))
            due = &timer;
    }
    if (due == NULL)
        return false;
    *msg = MSG{due->window, WM_TIMER, due->id, 0, (DWORD)g_clock, {0, 0}};
    if (remove)
        due->due = g_clock + due->period;
    return true;
}

// The thread waits: the person acts (the idle hook), or else time passes to
// the next timer or the device's next change. False when nothing would
// ever come.
static bool WaitForInput(const std::function<bool()>& ready)
{
    if (ready())
        return true;
    if (g_onIdle)
        g_onIdle();
    while (!ready()) {
        uint64_t next;
        bool coming = HostNextDeviceChange(&next);
        for (const Timer& timer : g_timers) {
            next = coming ? std::min(next, timer.due) : timer.due;
            coming = true;
        }
        if (!coming)
            return false;
        g_clock = std::max(g_clock, next);
        HostDeviceClock(g_clock);
    }
    return true;
}

// Messages sent from another thread are handled inside the thread's waits,
// and leave nothing to fetch.
static std::vector<MSG> g_sentFromAnotherThread;

void HostSendFromAnotherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG sent = {};
    sent.hwnd = window;
    sent.message = message;
    sent.wParam = wParam;
    sent.lParam = lParam;
    g_sentFromAnotherThread.push_back(sent);
}

static bool HandleSentMessages(void)
{
    std::vector<MSG> sent;
    sent.swap(g_sentFromAnotherThread);
    for (const MSG& message : sent)
        SendMessageW(message.hwnd, message.message, message.wParam, message.lParam);
    return !sent.empty();
}

BOOL GetMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax)
{
    if (window != NULL || filterMin != 0 || filterMax != 0)
        HostAbort("GetMessageW: only the unfiltered form is modelled");
    if (!WaitForInput([msg] {
            HandleSentMessages();
            return NextMessage(msg, false);
        }))
        HostAbort("GetMessageW: the queue is empty and nothing will fill it: the loop would wait forever");
    NextMessage(msg, true);
    return msg->message != WM_QUIT;
}

BOOL PeekMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove)
{
    if (window != NULL || filterMin != 0 || filterMax != 0 || remove != PM_NOREMOVE)
        HostAbort("PeekMessageW: only the unfiltered look that removes nothing is modelled");
    return NextMessage(msg, false);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags)
{
    if (milliseconds != INFINITE || wakeMask != ANY_MESSAGE_WAKES || flags != MWMO_INPUTAVAILABLE)
        HostAbort("MsgWaitForMultipleObjectsEx: only an endless wait for any message, seen or not, is modelled");
    if (HostShouldFail(HOST_MSG_WAIT))
        return WAIT_FAILED;
    // The last look that found something left signalled at what it found;
    // a sent message handled is a wake for a message, with none to fetch.
    DWORD signalled = count;
    MSG next;
    auto ready = [&] {
        for (signalled = 0; signalled < count; signalled++) {
            if (HostQueueSignalled(handles[signalled]))
                return true;
        }
        return HandleSentMessages() || NextMessage(&next, false);
    };
    if (!WaitForInput(ready))
        HostAbort("MsgWaitForMultipleObjectsEx: nothing is queued or signalled and nothing will be: it would wait "
                  "forever");
    return WAIT_OBJECT_0 + signalled;
}

BOOL IsDialogMessageW(HWND dialog, MSG* msg)
{
    if (Find(dialog) == NULL || msg->hwnd == NULL || !BelongsTo(msg->hwnd, dialog))
        return FALSE;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        int id = DefaultButton(dialog);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
    } else if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    } else {
        DispatchMessageW(msg);
    }
    return TRUE;
}

BOOL TranslateMessage(const MSG* msg)
{
    (void)msg;
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg)
{
    if (msg->hwnd == NULL || Find(msg->hwnd) == NULL)
        return 0;
    return SendMessageW(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window* found = Find(window);
    if (found == NULL)
        return 0;
    if (found->proc != NULL)
        return DialogMessage(window, found, message, wParam, lParam);
    if (IsListBox(found))
        return ListBoxMessage(found, message, wParam, lParam);
    if (message == WM_KEYDOWN)
        return 0;
    HostAbort(("message " + std::to_string(message) + " to a " + HostNarrow(found->className) + " is not modelled")
                  .c_str());
}

HWND GetDlgItem(HWND dialog, int id)
{
    for (size_t i = 0; i < g_windows.size(); i++) {
        const Window& child = g_windows[i];
        if (child.alive && child.parent == dialog && child.id == id)
            return HandleOf(i);
    }
    return NULL;
}

// The box's own modal loop: whatever is queued for the thread's windows is
// dispatched while the box is up. Only the box's dialog keyboard handling
// runs, so keys meant for another dialog reach its controls as plain keys.
// A quit message ends the loop and is left for the loop outside.
static void RunBoxLoop(void)
{
    MSG msg;
    while (NextMessage(&msg, false) && msg.message != WM_QUIT) {
        NextMessage(&msg, true);
        DispatchMessageW(&msg);
    }
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    HostRecord("MessageBoxW " + HostNarrow(caption));
    g_boxes.push_back(HostMessageBox{owner, text, caption, style});
    RunBoxLoop();
    if (g_onMessageBox) {
        HostMessageBox box = g_boxes.back();
        g_onMessageBox(box);
    }
    // What the person did before closing the box is handled before it closes.
    RunBoxLoop();
    return IDOK;
}
