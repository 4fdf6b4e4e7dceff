// The scenarios of the Wine suite: each runs the real palvenor.exe on a
// device of its own and checks what a person sees, what is written and what
// the bus receives.
#include "support.h"

#include <dbt.h>
#include <psapi.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>

#include "platform/desktop/emulated_device.h"

static void ExpectNoBoxes(const Palvenor& app)
{
    CHECK(FindWindows(app, ERROR_CAPTION).empty() && FindWindows(app, WARNING_CAPTION).empty(),
          "a message box is up");
}

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
        // The box comes while the dialog is still hidden, and holds it so; it shows afterwards.
        HWND box = WaitForWindow(app, ERROR_CAPTION, true);
        HWND hidden = WaitForWindow(app, TITLE, false);
        CHECK(box != NULL && hidden != NULL && !IsWindowVisible(hidden), "the dialog showed before the error box");
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
        TakeCardOut(L"2 SD");
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"DeviceName", 0, REG_SZ, (const BYTE*)L"DSK3:", 12);
            RegCloseKey(key);
        }
        Refresh(app.dialog);
        ExpectList(app.dialog, IDC_STORAGE_LIST, {L"USB Disk"}, 0);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 2);
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
}

// ---- lists that follow the device ----

// For as long as a rebuild would take to come twice over, the store list
// never shows the store: a check that cannot fail on a dialog that waits.
static void ExpectNotListedFor(HWND dialog, const Text& store, const char* why)
{
    const DWORD twiceTheLongestDelay = 2000;
    DWORD start = GetTickCount();
    WaitUntil([&] { return StoreListed(dialog, store) || GetTickCount() - start >= twiceTheLongestDelay; });
    CHECK(!StoreListed(dialog, store), "\"%s\" showed %s", Narrow(store).c_str(), why);
}

static int Rebuilds(DWORD searchesBefore)
{
    return (int)(StoreSearches() - searchesBefore) / 2;
}

static bool DeviceValueTaken(const wchar_t* name)
{
    Value value = ReadValue(EMULATOR_KEY, name);
    return value.present && value.data.size() == 4 && *(const DWORD*)value.data.data() == 0;
}

// The device as CE times it: a card's store listed only MountDelay after
// its block device came; one put back within PNPUnloadDelay swapped back in
// with no store announcement at all. The card shows whatever the delay, the
// person's choice on it is kept, and OK writes it. MountDelay 12 s, past
// the dialog's own watch, leaves the store announcement alone to show a
// card: it must still be heard after a spurious wake.
static void CardsAsTheDeviceTimesThem(void)
{
    const struct {
        DWORD mountDelay;
        bool spuriousWake, reseated;
    } rows[] = {{0, false, true}, {1500, false, true}, {10000, false, true}, {12000, true, false}};
    for (auto& row : rows) {
        const DWORD mountDelay = row.mountDelay;
        ImportDevice({L"devices\\default.reg"});
        SetDeviceValue(EMULATOR_KEY, L"MountDelay", mountDelay);
        const DWORD bound = mountDelay + WAIT_MS;
        Palvenor app = Start();
        if (!WaitForDialog(&app)) {
            ExpectExit(&app);
            continue;
        }
        if (row.spuriousWake) {
            SetDeviceValue(EMULATOR_KEY, L"SpuriousWakes", 1);
            CHECK(WaitUntil([] { return DeviceValueTaken(L"SpuriousWakes"); }), "no spurious wake was played");
        }
        DWORD putIn = GetTickCount();
        PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
        bool shown = WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card"); }, bound);
        CHECK(shown, "with MountDelay %lu ms, the card put in did not show", mountDelay);
        printf("     MountDelay %5lu ms: the card put in %s after %lu ms%s", mountDelay, shown ? "showed" : "missing",
               GetTickCount() - putIn, row.reseated ? "" : "\n");
        Choose(app.dialog, IDC_STORAGE_LIST, 2);
        Choose(app.dialog, IDC_FUNCTION_LIST, 1);
        if (row.reseated) {
            // Re-seated: taken out, and put back as soon as the list has let it go.
            DWORD takenOut = GetTickCount();
            TakeCardOut(L"6 Card");
            CHECK(WaitUntil([&] { return !StoreListed(app.dialog, L"Camera Card"); }),
                  "with MountDelay %lu ms, the card taken out still shows", mountDelay);
            DWORD putBack = GetTickCount();
            PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
            CHECK(putBack - takenOut < PNP_UNLOAD_DELAY_MS, "the card was out %lu ms", putBack - takenOut);
            shown = WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card"); }, bound);
            printf("; put back after %lu ms out, it %s after %lu ms\n", putBack - takenOut,
                   shown ? "showed" : "was missing", GetTickCount() - putBack);
            CHECK(shown, "with MountDelay %lu ms, the card put back did not show", mountDelay);
            ExpectList(app.dialog, IDC_STORAGE_LIST, {L"SD Card", L"USB Disk", L"Camera Card"}, 2);
        }
        fflush(stdout);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 1);
        Press(app.dialog, IDOK);
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
        ExpectExit(&app);
        ExpectWritten(L"DSK6:", L"RNDIS_Class");
    }

    // The device manager lets go of the program's queue: the broadcast
    // alone is left, and the dialog's watch after it.
    ImportDevice({L"devices\\default.reg"});
    SetDeviceValue(EMULATOR_KEY, L"MountDelay", 1500);
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        SetDeviceValue(EMULATOR_KEY, L"BreakQueues", 1);
        CHECK(WaitUntil([] { return DeviceValueTaken(L"BreakQueues"); }), "the queue was not let go of");
        PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
        CHECK(WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card"); }),
              "with no queue, the card put in did not show");
        TakeCardOut(L"6 Card");
        CHECK(WaitUntil([&] { return !StoreListed(app.dialog, L"Camera Card"); }),
              "with no queue, the card taken out still shows");
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
}

static void ListsFollowTheDevice(void)
{
    ImportDevice({L"devices\\default.reg"});
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        // The person's choices stay through a card put in and taken out.
        Choose(app.dialog, IDC_STORAGE_LIST, 1);
        Choose(app.dialog, IDC_FUNCTION_LIST, 1);
        PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
        CHECK(WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card"); }), "the card put in did not show");
        ExpectList(app.dialog, IDC_STORAGE_LIST, {L"SD Card", L"USB Disk", L"Camera Card"}, 1);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 1);
        TakeCardOut(L"6 Card");
        CHECK(WaitUntil([&] { return !StoreListed(app.dialog, L"Camera Card"); }), "the card taken out still shows");
        ExpectList(app.dialog, IDC_STORAGE_LIST, DEFAULT_STORES, 1);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 1);

        // The chosen card taken out: the registry's store, never another.
        PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
        CHECK(WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card"); }), "the card put in again did not show");
        Choose(app.dialog, IDC_STORAGE_LIST, 2);
        TakeCardOut(L"6 Card");
        CHECK(WaitUntil([&] { return !StoreListed(app.dialog, L"Camera Card"); }), "the chosen card still shows");
        ExpectList(app.dialog, IDC_STORAGE_LIST, DEFAULT_STORES, 0);
        ExpectList(app.dialog, IDC_FUNCTION_LIST, DEFAULT_DRIVERS, 1);

        // Forty cards put in, then taken out, as fast as the registry takes
        // them: a rebuild or a few each time, and the dialog answers between.
        for (bool putIn : {true, false}) {
            DWORD searches = StoreSearches();
            bool answered = true;
            for (int i = 0; i < 40; i++) {
                wchar_t key[16], device[8], store[16];
                swprintf(key, 16, L"7 Burst %02d", i);
                swprintf(device, 8, L"BU%02d:", i);
                swprintf(store, 16, L"Burst %02d", i);
                if (putIn)
                    PutCardIn(key, device, store);
                else
                    TakeCardOut(key);
                DWORD_PTR ignored;
                answered &= SendMessageTimeoutW(app.dialog, WM_NULL, 0, 0, SMTO_NORMAL, WAIT_MS, &ignored) != 0;
            }
            CHECK(answered, "the dialog did not answer during the burst");
            size_t expected = putIn ? 42 : 2;
            CHECK(WaitUntil([&] { return ReadList(app.dialog, IDC_STORAGE_LIST).entries.size() == expected; }),
                  "after forty cards %s, the store list has %zu entries", putIn ? "put in" : "taken out",
                  ReadList(app.dialog, IDC_STORAGE_LIST).entries.size());
            int rebuilds = Rebuilds(searches);
            printf("     forty cards %s: %d rebuilds\n", putIn ? "put in" : "taken out", rebuilds);
            CHECK(rebuilds >= 1 && rebuilds <= 4, "forty cards %s gave %d rebuilds", putIn ? "put in" : "taken out",
                  rebuilds);
            CHECK(ReadList(app.dialog, IDC_STORAGE_LIST).selected == 0, "the chosen store was not kept");
        }

        // Every store gone: the rebuild's error box; a card put in while
        // it waits shows once it is gone, and it is the card the person
        // chose before it was taken out, with no other chosen since: chosen again.
        TakeCardOut(L"2 SD");
        TakeCardOut(L"3 USB");
        if (WaitForWindow(app, ERROR_CAPTION, true) != NULL) {
            PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
            ExpectNotListedFor(app.dialog, L"Camera Card", "while an error box waited");
            AnswerBox(app, ERROR_CAPTION, L"Error in finding storage types.");
            CHECK(WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card"); }),
                  "the card did not show after the box");
            ExpectList(app.dialog, IDC_STORAGE_LIST, {L"Camera Card"}, 0);
        } else {
            Fail(__FILE__, __LINE__, "no error box when the last store went");
        }
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);

    // An image without device notifications: Refresh alone; OK writes the card.
    ImportDevice({L"devices\\default.reg"});
    SetDeviceValue(EMULATOR_KEY, L"NoDeviceNotifications", 1);
    app = Start();
    if (WaitForDialog(&app)) {
        PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
        ExpectNotListedFor(app.dialog, L"Camera Card", "without notifications, before Refresh");
        Refresh(app.dialog);
        ExpectList(app.dialog, IDC_STORAGE_LIST, {L"SD Card", L"USB Disk", L"Camera Card"}, 0);
        Choose(app.dialog, IDC_STORAGE_LIST, 2);
        Choose(app.dialog, IDC_FUNCTION_LIST, 1);
        Press(app.dialog, IDOK);
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    ExpectWritten(L"DSK6:", L"RNDIS_Class");
    ExpectOneRequest(L"RNDIS_Class");

    CardsAsTheDeviceTimesThem();
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
        ExpectUnchanged(before);
    }
}

static void SecondStart(void)
{
    ImportDevice({L"devices\\default.reg"});
    Palvenor first = Start();
    if (WaitForDialog(&first)) {
        // Something else is in front when the second start comes.
        HWND front = ShowFrontWindow();
        Palvenor second = Start();
        CHECK(WaitForSingleObject(second.process.hProcess, 5000) == WAIT_OBJECT_0,
              "the second start did not end at once");
        ExpectExit(&second);
        CHECK(WaitForForeground(first.dialog), "the running dialog did not come to the front");
        CHECK(IsWindowVisible(first.dialog), "the running dialog went away");
        DestroyWindow(front);
        Press(first.dialog, IDCANCEL);
    }
    ExpectExit(&first);
}

// Every button and the close box while a box waits: none may start, end or
// rebuild anything. (Enter and Escape are not pressed: the box's own loop
// hands them to the list box as plain keys, whatever palvenor does.)
static void PressEverything(const Palvenor& app, HWND dialog)
{
    Press(dialog, IDOK);
    Press(dialog, IDC_REFRESH);
    Press(dialog, IDCANCEL);
    CloseBox(dialog);
    Drain(app, dialog);
}

static void ExpectStillWaiting(const Palvenor& app, HWND dialog, const wchar_t* caption)
{
    CHECK(IsWindow(dialog), "the dialog was destroyed under the waiting box");
    CHECK(FindWindows(app, caption).size() == 1, "%zu \"%s\" boxes are up, expected one",
          FindWindows(app, caption).size(), Narrow(caption).c_str());
    CHECK(FindWindows(app, caption == ERROR_CAPTION ? WARNING_CAPTION : ERROR_CAPTION).empty(),
          "another box came up");
    CHECK(!Ended(app), "palvenor.exe ended");
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
        PressEverything(app, dialog);
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
            PressEverything(app, app.dialog);
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
            PressEverything(app, app.dialog);
            ExpectStillWaiting(app, app.dialog, WARNING_CAPTION);
            CHECK(RequestCount() == 0, "a request went out before the warning was closed");
        }
        AnswerBox(app, WARNING_CAPTION, WARNING_TEXT);
    }
    ExpectExit(&app);
    ExpectWritten(L"DSK2:", L"Mass_Storage_Class");
    ExpectOneRequest(L"Mass_Storage_Class");
}

// ---- under load ----

struct ProcessUse {
    SIZE_T privateBytes;
    DWORD handles;
};

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
        Fail(__FILE__, __LINE__, "cannot open %s", Narrow(path).c_str());
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

// Key names ignore letter case beyond ASCII, on CE as on the desktop: a
// DefaultClientDriver in other case names the key, and selects it.
static void CaseBeyondAscii(void)
{
    const Text driver = L"S\u00E9rie_\u00DCn\u00EFcode", otherCase = L"S\u00C9RIE_\u00FCN\u00CFCODE";
    ImportDevice({L"devices\\default.reg"});
    AddClientDriver(driver);
    SetValue(CLIENT_DRIVERS_KEY, L"DefaultClientDriver", REG_SZ, TextBytes(otherCase, (otherCase.size() + 1) * 2));
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        ListState functions = ReadList(app.dialog, IDC_FUNCTION_LIST);
        int index = (int)(std::find(functions.entries.begin(), functions.entries.end(), driver) - functions.entries.begin());
        CHECK(index < (int)functions.entries.size() && functions.selected == index,
              "the function list shows %s with entry %d selected", Join(functions.entries).c_str(), functions.selected);
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
}

// One run's presses, drawn before the run: a device, then up to twenty
// turns of presses, each followed by answering any box that is up.
struct PressPlan {
    int overlay;
    std::vector<std::vector<int>> turns;
};

enum { PRESS_OK, PRESS_REFRESH, PRESS_CANCEL, PRESS_ENTER, PRESS_ESCAPE, PRESS_CLOSE_BOX, PRESS_KINDS };

static std::string DescribePlan(const PressPlan& plan)
{
    std::string text = "device " + std::to_string(plan.overlay) + ":";
    for (const std::vector<int>& turn : plan.turns) {
        text += " ";
        for (int press : turn)
            text += "ORCEXB"[press];
        if (turn.empty())
            text += "-";
    }
    return text;
}

static void Perform(HWND dialog, int press)
{
    switch (press) {
    case PRESS_OK: Press(dialog, IDOK); break;
    case PRESS_REFRESH: Press(dialog, IDC_REFRESH); break;
    case PRESS_CANCEL: Press(dialog, IDCANCEL); break;
    case PRESS_ENTER: Key(dialog, VK_RETURN); break;
    case PRESS_ESCAPE: Key(dialog, VK_ESCAPE); break;
    default: CloseBox(dialog); break;
    }
}

// Random presses while each kind of box is up, in a fixed number of runs.
// Every run's plan is drawn from the seed before the first run starts, so a
// seed gives the same plans whatever the timing; PALVENOR_SEED gives
// another, and replays a failure.
static void RandomPressesDuringBoxes(void)
{
    const int RUNS = 40, TURNS = 20;
    const wchar_t* overlays[] = {NULL, L"tests\\wine\\devices\\no-exposable-store.reg",
                                 L"tests\\wine\\devices\\no-device-name.reg", L"tests\\wine\\devices\\bus-refusing.reg"};
    char seedText[16] = "";
    GetEnvironmentVariableA("PALVENOR_SEED", seedText, sizeof(seedText));
    DWORD seed = seedText[0] != 0 ? (DWORD)strtoul(seedText, NULL, 10) : 20261208;
    std::mt19937 random(seed);
    std::vector<PressPlan> plans(RUNS);
    for (PressPlan& plan : plans) {
        plan.overlay = (int)(random() % 4);
        plan.turns.resize(TURNS);
        for (std::vector<int>& turn : plan.turns)
            turn.resize(random() % 6);
        for (std::vector<int>& turn : plan.turns)
            for (int& press : turn)
                press = (int)(random() % PRESS_KINDS);
    }
    printf("     seed %lu; each run's plan: device (0 default, 1 no exposable store, 2 no DeviceName, 3 bus "
           "refusing), then per turn O(K) R(efresh) C(ancel) E(nter) (escape)X B (close box)\n",
           seed);
    const int failuresBefore = g_failures;
    int answered = 0, switched = 0, ran = 0;
    for (int run = 0; run < RUNS && g_failures == failuresBefore; run++, ran++) {
        const PressPlan& plan = plans[run];
        printf("     run %2d %s\n", run + 1, DescribePlan(plan).c_str());
        if (plan.overlay != 0)
            ImportDevice({L"devices\\default.reg", overlays[plan.overlay]});
        else
            ImportDevice({L"devices\\default.reg"});
        Palvenor app = Start();
        HWND dialog = WaitForWindow(app, TITLE, false);
        CHECK(dialog != NULL || Ended(app), "the dialog was not made");
        // Until palvenor ends: the turns' presses, and each box answered once they have been handled.
        for (int turn = 0; turn < TURNS && dialog != NULL && !Ended(app); turn++) {
            for (int press : plan.turns[turn])
                Perform(dialog, press);
            Drain(app, dialog);
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
        if (!Ended(app)) {
            // Still up after every turn: end it the way a person would.
            for (const wchar_t* caption : {ERROR_CAPTION, WARNING_CAPTION})
                for (HWND box : FindWindows(app, caption))
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
            if (dialog != NULL)
                Press(dialog, IDCANCEL);
        }
        ExpectExit(&app);
        CHECK(RequestCount() <= 1, "the bus received %lu requests", RequestCount());
        switched += RequestCount();
        if (g_failures != failuresBefore)
            printf("     run %d of seed %lu failed; replay: PALVENOR_SEED=%lu scripts/test-wine "
                   "random-presses-during-boxes\n",
                   run + 1, seed, seed);
    }
    printf("     %d runs of palvenor.exe, %d boxes answered, %d requests sent\n", ran, answered, switched);
}

// ---- the stand-ins themselves ----

// coredll.dll's exports, as palvenor.exe reaches them.
static struct {
    HANDLE(WINAPI* FindFirstStore)(STOREINFO*);
    BOOL(WINAPI* FindNextStore)(HANDLE, STOREINFO*);
    BOOL(WINAPI* FindCloseStore)(HANDLE);
    HANDLE(WINAPI* FindFirstDevice)(DeviceSearchType, LPCVOID, DEVMGR_DEVICE_INFORMATION*);
    decltype(&CreateFileW) CreateFileW;
    decltype(&DeviceIoControl) DeviceIoControl;
    decltype(&CloseHandle) CloseHandle;
    decltype(&FindWindowW) FindWindowW;
    decltype(&RegOpenKeyExW) RegOpenKeyExW;
    decltype(&SystemParametersInfoW) SystemParametersInfoW;
    FARPROC(WINAPI* GetProcAddressW)(HMODULE, LPCWSTR);
    decltype(&CreateMsgQueue) CreateMsgQueue;
    decltype(&ReadMsgQueue) ReadMsgQueue;
    decltype(&CloseMsgQueue) CloseMsgQueue;
    decltype(&RequestDeviceNotifications) RequestDeviceNotifications;
    decltype(&StopDeviceNotifications) StopDeviceNotifications;
} g_core;

static void StoreSearchRules(void)
{
    STOREINFO info;
    memset(&info, 0, sizeof(info));
    SetLastError(0xdeadbeef);
    CHECK(g_core.FindFirstStore(&info) == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER,
          "a store search with cbSize 0 did not fail as an invalid parameter");
    info.cbSize = sizeof(info) - 4;
    CHECK(g_core.FindFirstStore(&info) == INVALID_HANDLE_VALUE, "a store search with a short cbSize did not fail");

    info.cbSize = sizeof(info);
    HANDLE search = g_core.FindFirstStore(&info);
    CHECK(search != INVALID_HANDLE_VALUE, "the store search did not open");
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<STOREINFO> stores(1, info);
    while (g_core.FindNextStore(search, &info))
        stores.push_back(info);
    CHECK(GetLastError() == ERROR_NO_MORE_FILES, "the walk ended with error %lu", GetLastError());
    CHECK(!g_core.FindNextStore(search, &info), "the walk went on after its end");
    CHECK(g_core.FindCloseStore(search), "the search did not close");
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
    search = g_core.FindFirstStore(&info);
    CHECK(search != INVALID_HANDLE_VALUE && Text(info.szStoreName, STORENAMESIZE) == Text(STORENAMESIZE, L'x'),
          "a long store name was not cut to its field");
    if (search != INVALID_HANDLE_VALUE)
        g_core.FindCloseStore(search);

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, STORES_KEY);
    SetLastError(0xdeadbeef);
    CHECK(g_core.FindFirstStore(&info) == INVALID_HANDLE_VALUE && GetLastError() == ERROR_NO_MORE_FILES,
          "a device without stores did not fail the first search");
}

// Sends one request to an open bus; the slot holds name, zero-filled.
static BOOL Request(HANDLE bus, DWORD code, const wchar_t* name, DWORD bytes)
{
    WCHAR slot[129] = {0};
    memcpy(slot, name, lstrlenW(name) * sizeof(WCHAR));
    DWORD returned = 0xdddddddd;
    BOOL accepted = g_core.DeviceIoControl(bus, code, slot, bytes, NULL, 0, &returned, NULL);
    CHECK(!accepted || returned == 0, "the bus returned %lu bytes", returned);
    return accepted;
}

static void BusRules(void)
{
    static const GUID busInterface = {0xE2BDC372, 0x598F, 0x4619, {0xBC, 0x50, 0x54, 0xB3, 0xF7, 0x84, 0x8D, 0x35}};
    GUID otherInterface = busInterface;
    otherInterface.Data4[7] ^= 1;
    DEVMGR_DEVICE_INFORMATION device;
    memset(&device, 0, sizeof(device));
    device.dwSize = sizeof(device) - 2;
    CHECK(g_core.FindFirstDevice(DeviceSearchByGuid, &busInterface, &device) == INVALID_HANDLE_VALUE,
          "a device search with a wrong dwSize did not fail");
    device.dwSize = sizeof(device);
    CHECK(g_core.FindFirstDevice(DeviceSearchByGuid, &otherInterface, &device) == INVALID_HANDLE_VALUE,
          "another interface found the bus");
    HANDLE search = g_core.FindFirstDevice(DeviceSearchByGuid, &busInterface, &device);
    CHECK(search != INVALID_HANDLE_VALUE && lstrcmpW(device.szBusName, L"$bus\\UFN_0") == 0,
          "the bus was not found by its interface");
    if (search == INVALID_HANDLE_VALUE)
        return;
    CHECK(g_core.CloseHandle(search), "the device search did not close");

    // Reading and writing are all a bus handle is for.
    struct {
        const char* what;
        DWORD access;
        bool opens;
    } opens[] = {
        {"read and write", GENERIC_READ | GENERIC_WRITE, true},
        {"every right", GENERIC_ALL, false},
        {"read and delete", GENERIC_READ | DELETE, false},
    };
    for (auto& o : opens) {
        HANDLE opened = g_core.CreateFileW(device.szBusName, o.access, 0, NULL, OPEN_EXISTING, 0, NULL);
        CHECK((opened != INVALID_HANDLE_VALUE) == o.opens, "an open for %s %s", o.what, o.opens ? "failed" : "succeeded");
        if (opened != INVALID_HANDLE_VALUE)
            g_core.CloseHandle(opened);
    }

    HANDLE bus = g_core.CreateFileW(device.szBusName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
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

    // A slot with no terminator in its 128 units names nothing, though the
    // units up to a zero just past it name a registered driver.
    Text fullName(128, L'A');
    HKEY fullKey;
    CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (Text(CLIENT_DRIVERS_KEY) + L"\\" + fullName).c_str(), 0, NULL, 0,
                          KEY_WRITE, NULL, &fullKey, NULL) == ERROR_SUCCESS,
          "a driver of 128 characters cannot be registered");
    RegCloseKey(fullKey);
    WCHAR full[129];
    memcpy(full, fullName.c_str(), 128 * sizeof(WCHAR));
    full[128] = 0;
    DWORD returned;
    CHECK(!g_core.DeviceIoControl(bus, 0x00220010, full, 128 * sizeof(WCHAR), NULL, 0, &returned, NULL),
          "an unterminated slot was accepted");
    // Without an overlapped record the returned-byte count is required.
    WCHAR serial[128] = L"Serial_Class";
    SetLastError(0);
    CHECK(!g_core.DeviceIoControl(bus, 0x00220010, serial, sizeof(serial), NULL, 0, NULL, NULL) &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "a request with no returned-byte count was not refused as an invalid parameter");
    CHECK(g_core.CloseHandle(bus), "the bus handle did not close");
    CHECK(!g_core.CloseHandle(bus), "the bus handle closed twice");
    CHECK(!Request(bus, 0x00220010, L"Serial_Class", 256), "a closed bus took a request");

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BUS_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        DWORD refuse = 1;
        RegSetValueExW(key, L"Refuse", 0, REG_DWORD, (const BYTE*)&refuse, sizeof(refuse));
        RegCloseKey(key);
    }
    bus = g_core.CreateFileW(L"$BUS\\ufn_0", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(bus != INVALID_HANDLE_VALUE, "the bus name did not open in other letter case");
    CHECK(!Request(bus, 0x00220010, L"Serial_Class", 256), "a refusing bus accepted a request");
    g_core.CloseHandle(bus);

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, BUS_KEY);
    CHECK(g_core.FindFirstDevice(DeviceSearchByGuid, &busInterface, &device) == INVALID_HANDLE_VALUE,
          "an absent bus was found");
    CHECK(g_core.CreateFileW(L"$bus\\UFN_0", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) ==
              INVALID_HANDLE_VALUE,
          "an absent bus opened");
}

// Every other file goes to the system.
static void OtherHandlesPassThrough(void)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    HANDLE file = g_core.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(file != INVALID_HANDLE_VALUE, "a real file did not open through the stand-in");
    CHECK(GetFileSize(file, NULL) > 0, "the file opened is not the real one");
    CHECK(g_core.CloseHandle(file), "a real file did not close through the stand-in");
}

// Where CE and the desktop differ, coredll.dll answers as CE does.
static void WindowAndRegistryRules(void)
{
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        CHECK(g_core.FindWindowW(L"Dialog", TITLE) == app.dialog, "CE's dialog class \"Dialog\" did not find the dialog");
        // The low bit of SetForegroundWindow is not checked here: Wine takes
        // a handle with it set as the window from this process. Palvenor's
        // own call from another process is checked, by second-start.
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);

    HKEY key;
    CHECK(g_core.RegOpenKeyExW(HKEY_LOCAL_MACHINE, CLIENT_DRIVERS_KEY, 0, 0, &key) == ERROR_SUCCESS,
          "a key did not open with access 0");
    wchar_t name[128];
    DWORD length = 128;
    CHECK(RegEnumKeyExW(key, 0, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS,
          "a key opened with access 0 cannot be enumerated");
    RegCloseKey(key);

    // The work area is the screen less the device's taskbar, whatever the
    // input panel does. SipGetInfo is there only where the image has the
    // panel; it tells what a docked panel covers.
    MONITORINFO screen = {};
    screen.cbSize = sizeof(screen);
    GetMonitorInfoW(MonitorFromWindow(NULL, MONITOR_DEFAULTTOPRIMARY), &screen);
    const RECT full = screen.rcMonitor, taskbar = {full.left, full.top, full.right, full.bottom - 26};
    // The panel as CE's docks it: along the work area's bottom, screen-wide, 80 pixels high.
    const RECT docked = {0, taskbar.bottom - 80, full.right, taskbar.bottom}, above = {0, 0, full.right, docked.top};
    const RECT dockedOnFull = {0, full.bottom - 80, full.right, full.bottom}, floating = {20, 40, 220, 120};
    const RECT none = {0, 0, full.right, 0};
    const struct {
        const char* what;
        DWORD taskbarType, taskbar; // REG_NONE: no value
        DWORD panelFlags;           // ~0: no input panel in the image
        DWORD panelHeight;
        const RECT *workArea, *visible, *panel;
    } areas[] = {
        {"a 26-pixel taskbar, the panel off", REG_DWORD, 26, SIPF_DOCKED, 80, &taskbar, &taskbar, &docked},
        {"a docked panel open", REG_DWORD, 26, SIPF_ON | SIPF_DOCKED, 80, &taskbar, &above, &docked},
        {"a docked panel taller than the work area", REG_DWORD, 26, SIPF_ON | SIPF_DOCKED, 5000, &taskbar, &none,
         &taskbar},
        {"a floating panel open", REG_DWORD, 26, SIPF_ON, 80, &taskbar, &taskbar, &floating},
        {"no input panel in the image", REG_DWORD, 26, ~0u, 80, &taskbar, NULL, NULL},
        {"a taskbar as a string", REG_SZ, 26, SIPF_DOCKED, 80, &full, &full, &dockedOnFull},
        {"a taskbar taller than the screen", REG_DWORD, 100000, SIPF_DOCKED, 80, &full, &full, &dockedOnFull},
        {"no taskbar", REG_NONE, 0, SIPF_DOCKED, 80, &full, &full, &dockedOnFull},
    };
    for (auto& a : areas) {
        HKEY emulator, panel;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Palvenor\\Emulator", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &emulator, NULL);
        RegDeleteValueW(emulator, L"TaskbarHeight");
        if (a.taskbarType == REG_DWORD)
            SetDword(emulator, L"TaskbarHeight", a.taskbar);
        else if (a.taskbarType == REG_SZ)
            SetString(emulator, L"TaskbarHeight", L"26");
        RegDeleteKeyW(emulator, L"InputPanel");
        if (a.panelFlags != ~0u && RegCreateKeyExW(emulator, L"InputPanel", 0, NULL, 0, KEY_SET_VALUE, NULL, &panel,
                                                    NULL) == ERROR_SUCCESS) {
            SetDword(panel, L"Flags", a.panelFlags);
            SetDword(panel, L"Height", a.panelHeight);
            RegSetValueExW(panel, L"FloatingRect", 0, REG_BINARY, (const BYTE*)&floating, sizeof(floating));
            RegCloseKey(panel);
        }
        RegCloseKey(emulator);
        // A program importing SipGetInfo loads only where the image has the panel.
        Text importer = g_palvenor.substr(0, g_palvenor.rfind(L'\\')) + L"\\sip_importer.exe";
        CHECK(RunAndWait(L"\"" + importer + L"\"") == (a.visible != NULL), "with %s, a program importing SipGetInfo %s",
              a.what, a.visible != NULL ? "did not run" : "was loaded");
        RECT area = {};
        CHECK(g_core.SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) && EqualRect(&area, a.workArea),
              "with %s, the work area is %ld,%ld,%ld,%ld", a.what, area.left, area.top, area.right, area.bottom);
        HMODULE core = GetModuleHandleW(L"coredll.dll");
        SIP_GET_INFO getInfo = (SIP_GET_INFO)(void*)g_core.GetProcAddressW(core, L"SipGetInfo");
        SIPINFO info = {};
        info.cbSize = sizeof(info) - 4;
        SetLastError(0xdeadbeef);
        CHECK(getInfo == NULL || (!getInfo(&info) && GetLastError() == ERROR_INVALID_PARAMETER),
              "with %s, SipGetInfo took a short cbSize", a.what);
        info.cbSize = sizeof(info);
        CHECK((getInfo != NULL) == (a.visible != NULL), "with %s, SipGetInfo is %sfound", a.what, getInfo ? "" : "not ");
        CHECK(getInfo == NULL || (getInfo(&info) && info.fdwFlags == a.panelFlags &&
                                  EqualRect(&info.rcVisibleDesktop, a.visible) && EqualRect(&info.rcSipRect, a.panel)),
              "with %s, SipGetInfo: flags %lx, the visible desktop %ld,%ld,%ld,%ld, the panel %ld,%ld,%ld,%ld", a.what,
              info.fdwFlags, info.rcVisibleDesktop.left, info.rcVisibleDesktop.top, info.rcVisibleDesktop.right,
              info.rcVisibleDesktop.bottom, info.rcSipRect.left, info.rcSipRect.top, info.rcSipRect.right,
              info.rcSipRect.bottom);
    }
}

// ---- device notifications ----

static const GUID BLOCK_DRIVER = {0xA4E7EDDA, 0xE575, 0x4252, {0x9D, 0x6B, 0x41, 0x95, 0xD4, 0x8B, 0xB8, 0x65}};
static const GUID STORE_MOUNT = {0xC1115848, 0x46FD, 0x4976, {0xBD, 0xE9, 0xD7, 0x94, 0x48, 0x45, 0x70, 0x04}};

static HANDLE MakeQueue(DWORD messages, DWORD bytes)
{
    MSGQUEUEOPTIONS options = {sizeof(options), 0, messages, bytes, TRUE};
    return g_core.CreateMsgQueue(NULL, &options);
}

// What reached this process: records read from the queue, in order, as
// "+block DSK6:" or "-store DSK6:"; and, apart, since they come in no fixed
// order with the records, broadcasts to its window as "arrival DSK6:" or
// "removal DSK6:", "(sent)" after one that was sent rather than posted.
static HANDLE g_heardQueue;
static std::vector<std::string> g_heard, g_broadcasts;

static void ReadHeard(void)
{
    DWORD record[64], bytes, flags;
    while (g_core.ReadMsgQueue(g_heardQueue, record, sizeof(record), &bytes, 0, &flags)) {
        const DEVDETAIL* detail = (const DEVDETAIL*)record;
        const char* kind = IsEqualGUID(detail->guidDevClass, BLOCK_DRIVER)  ? "block"
                           : IsEqualGUID(detail->guidDevClass, STORE_MOUNT) ? "store"
                                                                            : "other";
        bool whole = bytes == offsetof(DEVDETAIL, szName) + (DWORD)detail->cbName &&
                     detail->cbName == (int)((lstrlenW(detail->szName) + 1) * sizeof(WCHAR));
        g_heard.push_back(std::string(detail->fAttached ? "+" : "-") + kind + " " + Narrow(detail->szName) +
                          (whole ? "" : " (its size disagrees)"));
    }
}

static LRESULT CALLBACK HearingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE) {
        const DEV_BROADCAST_PORT_W* port = (const DEV_BROADCAST_PORT_W*)lParam;
        bool named = port != NULL && port->dbcp_devicetype == DBT_DEVTYP_PORT &&
                     port->dbcp_size == offsetof(DEV_BROADCAST_PORT_W, dbcp_name) +
                                            (lstrlenW(port->dbcp_name) + 1) * sizeof(WCHAR);
        g_broadcasts.push_back(std::string(wParam == DBT_DEVICEARRIVAL          ? "arrival"
                                           : wParam == DBT_DEVICEREMOVECOMPLETE ? "removal"
                                                                                : "another event") +
                               " " + (named ? Narrow(port->dbcp_name) : "(no port named)") +
                               (InSendMessage() ? " (sent)" : ""));
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Waits, taking this thread's messages, until so many records and
// broadcasts were heard.
static bool Hear(size_t records, size_t broadcasts = 0)
{
    return WaitUntil([=] {
        ReadHeard();
        return g_heard.size() >= records && g_broadcasts.size() >= broadcasts;
    });
}

static std::string Joined(const std::vector<std::string>& items)
{
    std::string joined;
    for (const std::string& item : items)
        joined += (joined.empty() ? "" : ", ") + item;
    return joined;
}

static size_t Items(const char* joined)
{
    return *joined == 0 ? 0 : std::count(joined, joined + strlen(joined), ',') + 1;
}

// The device names a store search lists now.
static std::string Listed(void)
{
    std::vector<std::string> names;
    STOREINFO info = {};
    info.cbSize = sizeof(info);
    HANDLE search = g_core.FindFirstStore(&info);
    for (BOOL found = search != INVALID_HANDLE_VALUE; found; found = g_core.FindNextStore(search, &info))
        names.push_back(Narrow(Text(info.szDeviceName, wcsnlen(info.szDeviceName, DEVICENAMESIZE))));
    if (search != INVALID_HANDLE_VALUE)
        g_core.FindCloseStore(search);
    return Joined(names);
}

static bool Has(const std::string& joined, const char* item)
{
    return (", " + joined + ", ").find(std::string(", ") + item + ", ") != std::string::npos;
}

// The emulated device announces what a test does to its stores, as CE's
// device manager and storage manager do, and the queue calls are as strict
// as CE's.
static void NotificationRules(void)
{
    MSGQUEUEOPTIONS options = {sizeof(options) - 4, 0, 16, 160, TRUE};
    SetLastError(0xdeadbeef);
    CHECK(g_core.CreateMsgQueue(NULL, &options) == NULL && GetLastError() == ERROR_INVALID_PARAMETER,
          "a queue with a short dwSize was made");
    CHECK(g_core.CreateMsgQueue(NULL, NULL) == NULL, "a queue without options was made");
    options.dwSize = sizeof(options);
    CHECK(g_core.CreateMsgQueue(L"Named", &options) == NULL, "a named queue was made: the emulator has none");
    CHECK(g_core.RequestDeviceNotifications(&STORE_MOUNT, (HANDLE)(ULONG_PTR)0x1234, FALSE) == NULL &&
              GetLastError() == ERROR_INVALID_HANDLE,
          "notifications were sent to what is no queue");

    // A disk that takes its time to mount, and the time a store taken out is kept.
    SetDeviceValue(EMULATOR_KEY, L"MountDelay", 1000);
    SetDeviceValue(STORAGE_MANAGER_KEY, L"PNPUnloadDelay", 2000);

    // One queue for both interfaces, and this thread's window for the broadcast.
    WNDCLASSW hearing = {};
    hearing.lpfnWndProc = HearingWindow;
    hearing.lpszClassName = L"PalvenorHearing";
    RegisterClassW(&hearing);
    HWND window = CreateWindowW(L"PalvenorHearing", L"", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    g_heardQueue = MakeQueue(16, 160);
    CHECK(window != NULL && g_heardQueue != NULL, "no queue or window to hear with");
    HANDLE mounts = g_core.RequestDeviceNotifications(&STORE_MOUNT, g_heardQueue, TRUE);
    HANDLE blocks = g_core.RequestDeviceNotifications(&BLOCK_DRIVER, g_heardQueue, FALSE);
    CHECK(mounts != NULL && blocks != NULL, "notifications were not given: %lu", GetLastError());
    g_heard.clear();
    Hear(5);
    std::sort(g_heard.begin(), g_heard.end());
    CHECK(Joined(g_heard) == "+store DSK1:, +store DSK2:, +store DSK3:, +store DSK4:, +store RAM1:",
          "asked for all, the stores mounted were reported as: %s", Joined(g_heard).c_str());

    // What a card does is heard in its order; a row's first record is heard
    // before what the row checks then.
    const struct {
        const char* what;
        std::function<void()> change;
        const char* records;
        const char* broadcasts;
        std::function<bool()> atFirstRecord;
    } changes[] = {
        {"a card put in", [] { PutCardIn(L"6 Card", L"DSK6:", L"Camera Card"); }, "+block DSK6:, +store DSK6:",
         "arrival DSK6:", [] { return !Has(Listed(), "DSK6:"); }},
        {"a card taken out", [] { TakeCardOut(L"6 Card"); }, "-block DSK6:, -store DSK6:", "removal DSK6:",
         [] { return !Has(Listed(), "DSK6:"); }},
        {"a card put back within PNPUnloadDelay: no store record either way",
         [] {
             PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
             Hear(2, 1);
             g_heard.clear();
             g_broadcasts.clear();
             TakeCardOut(L"6 Card");
             Hear(1, 1);
             PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
         },
         "-block DSK6:, +block DSK6:", "removal DSK6:, arrival DSK6:", [] { return !Has(Listed(), "DSK6:"); }},
        {"the card put back taken out: its store lets go, once",
         [] {
             CHECK(WaitUntil([] { return Has(Listed(), "DSK6:"); }), "the card put back was not listed again: %s",
                   Listed().c_str());
             TakeCardOut(L"6 Card");
         },
         "-block DSK6:, -store DSK6:", "removal DSK6:", [] { return true; }},
        {"two cards at once",
         [] {
             PutCardIn(L"6 Card", L"DSK6:", L"A");
             PutCardIn(L"7 Card", L"DSK7:", L"B");
         },
         "+block DSK6:, +block DSK7:, +store DSK6:, +store DSK7:", "arrival DSK6:, arrival DSK7:",
         [] { return true; }},
        {"a card changed for another in its slot", [] { PutCardIn(L"7 Card", L"DSK8:", L"C"); },
         "-block DSK7:, +block DSK8:, +store DSK8:, -store DSK7:", "removal DSK7:, arrival DSK8:",
         [] { return Has(Listed(), "DSK6:") && !Has(Listed(), "DSK7:"); }},
    };
    for (auto& c : changes) {
        g_heard.clear();
        g_broadcasts.clear();
        c.change();
        Hear(1);
        CHECK(c.atFirstRecord(), "%s: as its first record came, the stores listed were %s", c.what,
              Listed().c_str());
        Hear(Items(c.records), Items(c.broadcasts));
        CHECK(Joined(g_heard) == c.records && Joined(g_broadcasts) == c.broadcasts,
              "%s was heard as: %s; and broadcast as: %s; expected %s; and %s", c.what, Joined(g_heard).c_str(),
              Joined(g_broadcasts).c_str(), c.records, c.broadcasts);
    }

    DWORD record[64], bytes, flags;
    SetLastError(0xdeadbeef);
    CHECK(!g_core.ReadMsgQueue(g_heardQueue, record, sizeof(record), &bytes, 0, &flags) &&
              GetLastError() == ERROR_TIMEOUT,
          "an empty queue did not time out at once");
    CHECK(!g_core.ReadMsgQueue(g_heardQueue, record, sizeof(record), &bytes, 0, NULL) &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "a read without its flags was taken");
    // A record bigger than the buffer is read cut to it, and is gone.
    TakeCardOut(L"7 Card");
    CHECK(WaitForSingleObject(g_heardQueue, WAIT_MS) == WAIT_OBJECT_0, "the card taken out was not announced");
    SetLastError(0xdeadbeef);
    memset(record, 0, sizeof(record));
    CHECK(g_core.ReadMsgQueue(g_heardQueue, record, 20, &bytes, 0, &flags) &&
              GetLastError() == ERROR_INSUFFICIENT_BUFFER && bytes == 20 &&
              IsEqualGUID(((DEVDETAIL*)record)->guidDevClass, BLOCK_DRIVER) && record[5] == 0,
          "a record was not read cut to too small a buffer, with ERROR_INSUFFICIENT_BUFFER");
    g_heard.clear();
    Hear(1);
    CHECK(Joined(g_heard) == "-store DSK8:", "after the short read, heard: %s", Joined(g_heard).c_str());

    // A spurious wake: the queue signals with nothing in it; the empty read
    // fails with ERROR_TIMEOUT and quietens it.
    SetDeviceValue(EMULATOR_KEY, L"SpuriousWakes", 1);
    CHECK(WaitForSingleObject(g_heardQueue, WAIT_MS) == WAIT_OBJECT_0, "no spurious wake came");
    SetLastError(0xdeadbeef);
    CHECK(!g_core.ReadMsgQueue(g_heardQueue, record, sizeof(record), &bytes, 0, &flags) &&
              GetLastError() == ERROR_TIMEOUT && WaitForSingleObject(g_heardQueue, 0) == WAIT_TIMEOUT,
          "a spurious wake's read did not fail with ERROR_TIMEOUT and quieten the queue (error %lu)",
          GetLastError());

    // A full queue, or one whose records are too small, loses what does not fit.
    HANDLE oneRecord = MakeQueue(1, 160), tinyRecords = MakeQueue(16, 30);
    HANDLE intoOne = g_core.RequestDeviceNotifications(&BLOCK_DRIVER, oneRecord, FALSE);
    HANDLE intoTiny = g_core.RequestDeviceNotifications(&BLOCK_DRIVER, tinyRecords, FALSE);
    // Two cards not yet in: two block records for a queue of one.
    g_heard.clear();
    PutCardIn(L"8 Card", L"DSK9:", L"A");
    PutCardIn(L"9 Card", L"DSKA:", L"B");
    CHECK(Hear(4), "two cards put in were heard as: %s", Joined(g_heard).c_str());
    int held = 0;
    while (g_core.ReadMsgQueue(oneRecord, record, sizeof(record), &bytes, 0, &flags))
        held++;
    CHECK(held == 1, "a queue of one record held %d", held);
    CHECK(!g_core.ReadMsgQueue(tinyRecords, record, sizeof(record), &bytes, 0, &flags),
          "a record bigger than the queue's records was queued");

    // A client driver with a legacy name is a device too: Serial_Class is COM5:.
    HANDLE bus = g_core.CreateFileW(L"$bus\\UFN_0", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    g_broadcasts.clear();
    CHECK(Request(bus, 0x00220010, L"RNDIS_Class", 256) && Request(bus, 0x00220010, L"Serial_Class", 256),
          "the bus did not switch");
    g_core.CloseHandle(bus);
    Hear(0, 2);
    CHECK(Joined(g_broadcasts) == "removal COM5:, arrival COM5:", "the serial client driver was broadcast as: %s",
          Joined(g_broadcasts).c_str());

    // Stopped, nothing more comes, and with no writer left a queue is
    // broken: it signals, and a read fails with ERROR_PIPE_NOT_CONNECTED.
    // Every handle ends once.
    for (HANDLE request : {mounts, blocks, intoOne, intoTiny})
        CHECK(g_core.StopDeviceNotifications(request), "a request did not stop");
    CHECK(!g_core.StopDeviceNotifications(mounts) && GetLastError() == ERROR_INVALID_HANDLE, "a request stopped twice");
    g_heard.clear();
    g_broadcasts.clear();
    TakeCardOut(L"8 Card");
    Hear(0, 1);
    ReadHeard();
    SetLastError(0xdeadbeef);
    CHECK(g_heard.empty() && !g_core.ReadMsgQueue(g_heardQueue, record, sizeof(record), &bytes, 0, &flags) &&
              GetLastError() == ERROR_PIPE_NOT_CONNECTED && WaitForSingleObject(g_heardQueue, 0) == WAIT_OBJECT_0,
          "after its requests stopped, the queue heard %s, and read as error %lu", Joined(g_heard).c_str(),
          GetLastError());
    for (HANDLE queue : {g_heardQueue, oneRecord, tinyRecords})
        CHECK(g_core.CloseMsgQueue(queue), "a queue did not close");
    CHECK(!g_core.CloseMsgQueue(g_heardQueue), "a queue closed twice");

    // The device manager lets go of a queue while its request lives: the
    // same; the broadcast still comes.
    g_heardQueue = MakeQueue(16, 160);
    blocks = g_core.RequestDeviceNotifications(&BLOCK_DRIVER, g_heardQueue, FALSE);
    SetDeviceValue(EMULATOR_KEY, L"BreakQueues", 1);
    CHECK(WaitForSingleObject(g_heardQueue, WAIT_MS) == WAIT_OBJECT_0, "the broken queue did not signal");
    g_heard.clear();
    g_broadcasts.clear();
    TakeCardOut(L"9 Card");
    Hear(0, 1);
    SetLastError(0xdeadbeef);
    CHECK(!g_core.ReadMsgQueue(g_heardQueue, record, sizeof(record), &bytes, 0, &flags) &&
              GetLastError() == ERROR_PIPE_NOT_CONNECTED && Joined(g_broadcasts) == "removal DSKA:",
          "a queue let go of read as error %lu; broadcast: %s", GetLastError(), Joined(g_broadcasts).c_str());
    CHECK(g_core.StopDeviceNotifications(blocks) && g_core.CloseMsgQueue(g_heardQueue),
          "the request or queue let go of did not end");
    DestroyWindow(window);

    // An image without device notifications gives none.
    SetDeviceValue(EMULATOR_KEY, L"NoDeviceNotifications", 1);
    HANDLE queue = MakeQueue(16, 160);
    SetLastError(0xdeadbeef);
    CHECK(g_core.RequestDeviceNotifications(&STORE_MOUNT, queue, FALSE) == NULL &&
              GetLastError() == ERROR_NOT_SUPPORTED,
          "an image without notifications gave them");
    // Nor does a device whose key is gone, once its device manager has seen it go.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, EMULATOR_KEY);
    DWORD error = 0;
    CHECK(WaitUntil([&] {
              SetLastError(0xdeadbeef);
              HANDLE request = g_core.RequestDeviceNotifications(&STORE_MOUNT, queue, FALSE);
              error = request == NULL ? GetLastError() : 0;
              if (request != NULL)
                  g_core.StopDeviceNotifications(request);
              return error == ERROR_NOT_SUPPORTED;
          }),
          "a device without its key gave notifications, or failed with error %lu", error);
    g_core.CloseMsgQueue(queue);
}

static void EmulatorRules(void)
{
    HMODULE core = LoadLibraryW(L"coredll.dll");
    CHECK(core != NULL, "coredll.dll is not beside the driver");
    if (core == NULL)
        return;
#define LOAD(name) g_core.name = (decltype(g_core.name))(void*)GetProcAddress(core, #name)
    LOAD(FindFirstStore);
    LOAD(FindNextStore);
    LOAD(FindCloseStore);
    LOAD(FindFirstDevice);
    LOAD(CreateFileW);
    LOAD(DeviceIoControl);
    LOAD(CloseHandle);
    LOAD(FindWindowW);
    LOAD(RegOpenKeyExW);
    LOAD(SystemParametersInfoW);
    LOAD(GetProcAddressW);
    LOAD(CreateMsgQueue);
    LOAD(ReadMsgQueue);
    LOAD(CloseMsgQueue);
    LOAD(RequestDeviceNotifications);
    LOAD(StopDeviceNotifications);
#undef LOAD
    ImportDevice({L"tests\\wine\\devices\\several.reg"});
    StoreSearchRules();
    BusRules();
    OtherHandlesPassThrough();
    ImportDevice({L"devices\\default.reg"});
    WindowAndRegistryRules();
    ImportDevice({L"devices\\default.reg"});
    NotificationRules();
    FreeLibrary(core);
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
        const TemplateControl* expected = TEMPLATE_CONTROLS;
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


void AppletProtocol(void);      // applet.cpp
void DesktopControlPanel(void); // applet.cpp
void FitWhileABoxWaits(void);   // screen.cpp
void Languages(void);           // languages.cpp
void LanguageFallbacks(void);   // languages.cpp

static const struct {
    const char* name;
    void (*run)(void);
} SCENARIOS[] = {
    {"lists-on-start", ListsOnStart},
    {"ok-with-new-choice", OkWithNewChoice},
    {"ok-with-nothing-selected", OkWithNothingSelected},
    {"bus-fails", BusFails},
    {"inventory-fails", InventoryFails},
    {"refresh-rereads", RefreshRereads},
    {"lists-follow-the-device", ListsFollowTheDevice},
    {"keys-and-close-box", KeysAndCloseBox},
    {"second-start", SecondStart},
    {"presses-during-boxes", PressesDuringBoxes},
    {"built-resources", BuiltResources},
    {"emulator-rules", EmulatorRules},
    {"hostile-values", HostileValues},
    {"case-beyond-ascii", CaseBeyondAscii},
    {"refresh-under-load", RefreshUnderLoad},
    {"random-presses-during-boxes", RandomPressesDuringBoxes},
    {"applet-protocol", AppletProtocol},
    {"desktop-control-panel", DesktopControlPanel},
    {"fit-while-a-box-waits", FitWhileABoxWaits},
    {"languages", Languages},
    {"language-fallbacks", LanguageFallbacks},
};

int ListScenarios(void)
{
    for (auto& scenario : SCENARIOS)
        printf("%s\n", scenario.name);
    return 0;
}

// Runs the scenarios named (all when none is) and prints each result. A
// name that is no scenario's runs nothing: exit 2, with the list.
int RunScenarios(int count, wchar_t** names)
{
    std::vector<std::string> chosen;
    bool unknown = false;
    for (int i = 0; i < count; i++) {
        char name[64] = "";
        WideCharToMultiByte(CP_UTF8, 0, names[i], -1, name, sizeof(name) - 1, NULL, NULL);
        bool known = false;
        for (auto& scenario : SCENARIOS)
            known = known || strcmp(name, scenario.name) == 0;
        if (!known) {
            printf("no scenario is named \"%s\"\n", name);
            unknown = true;
        }
        chosen.push_back(name);
    }
    if (unknown) {
        printf("the scenarios are:\n");
        ListScenarios();
        return 2;
    }
    int failed = 0, ran = 0;
    for (auto& scenario : SCENARIOS) {
        if (count != 0 && std::find(chosen.begin(), chosen.end(), scenario.name) == chosen.end())
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
