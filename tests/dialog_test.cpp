#include "test_support.h"

#include "selection/selection.h"

class DialogTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        InstallDevice();
    }
    void Open()
    {
        dialog = CreateChoiceDialogForTest();
        ASSERT_NE(nullptr, dialog);
    }
};

TEST_F(DialogTest, ProcedureResults)
{
    Open();
    EXPECT_NE(0, ChoiceDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_FUNCTION_LIST, LBN_DBLCLK), 0));
    EXPECT_NE(0, ChoiceDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_STORAGE_LABEL, 0), 0));
    EXPECT_EQ(0, ChoiceDialogProc(dialog, WM_KEYDOWN, VK_RETURN, 0));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(2u, EventsStartingWith("FindFirstStore").size()) << "only the two walks of the first populate ran";
    EXPECT_EQ(0, ChoiceDialogProc(dialog, WM_CLOSE, 0, 0));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(1, HostQuitMessages());
}

TEST_F(DialogTest, EveryWayOutDestroysTheDialogAndReleasesTheLists)
{
    struct Row {
        const char* what;
        std::function<void(HWND)> act;
        bool writes;
    } rows[] = {
        {"OK", [](HWND d) { HostClickButton(d, IDOK); }, true},
        {"Enter", [](HWND d) { HostPressKey(d, VK_RETURN); }, true},
        {"OK with the bus missing", [](HWND d) { HostRemoveBus(); HostClickButton(d, IDOK); }, true},
        {"OK with nothing selected",
         [](HWND d) {
             SendMessageW(GetDlgItem(d, IDC_STORAGE_LIST), LB_SETCURSEL, (WPARAM)-1, 0);
             HostClickButton(d, IDOK);
         },
         false},
        {"Cancel", [](HWND d) { HostClickButton(d, IDCANCEL); }, false},
        {"Escape", [](HWND d) { HostPressKey(d, VK_ESCAPE); }, false},
        {"close box", [](HWND d) { HostClickCloseBox(d); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        SetUp();
        Open();
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, 2);
        row.act(dialog);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(nullptr, g_pStoreList);
        EXPECT_EQ(nullptr, g_pFunctionList);
        EXPECT_EQ(1, HostQuitMessages());
        EXPECT_EQ(row.writes ? 2u : 0u, EventsStartingWith("RegSetValueExW").size());
    }
}

TEST_F(DialogTest, RefreshRebuildsFromTheRegistry)
{
    Open();
    HostChooseEntry(dialog, IDC_STORAGE_LIST, 0);
    HostClickButton(dialog, IDC_REFRESH);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(1, ListSelection(dialog, IDC_STORAGE_LIST));
    EXPECT_EQ(2u, ListItems(dialog, IDC_STORAGE_LIST).size());
}

// While a message box of an operation is up, every button of the dialog and
// its close box are pressed, both at once (sent) and through the queue that
// the box's own loop empties (posted); none may act. Enter and Escape are
// not pressed: the box's loop hands keys to the list box as plain keys, so
// the dialog never sees them as OK or Cancel whatever it does.
class ReentryTest : public DialogTest {
protected:
    void PressEverythingDuringBoxes()
    {
        HostOnMessageBox([this](const HostMessageBox&) {
            size_t boxes = HostMessageBoxes().size();
            const StoreList* stores = g_pStoreList;
            const FunctionList* functions = g_pFunctionList;
            HWND current = FindWindowW(u"Dialog", u"USB Function Palvenor");
            ASSERT_NE(nullptr, current);
            for (int id : {IDOK, IDC_REFRESH, IDCANCEL}) {
                HostClickButton(current, id);
                PostMessageW(current, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(current, id));
            }
            HostClickCloseBox(current);
            PostMessageW(current, WM_CLOSE, 0, 0);
            EXPECT_TRUE(IsWindow(current));
            EXPECT_EQ(boxes, HostMessageBoxes().size());
            EXPECT_EQ(stores, g_pStoreList);
            EXPECT_EQ(functions, g_pFunctionList);
            presses++;
        });
    }
    int presses = 0;
};

TEST_F(ReentryTest, DuringTheFirstPopulateErrorBox)
{
    HostSetStores({});
    PressEverythingDuringBoxes();
    Open();
    EXPECT_EQ(1, presses);
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(ReentryTest, DuringARefreshErrorBox)
{
    Open();
    HostRegDeleteKey(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY);
    PressEverythingDuringBoxes();
    HostClickButton(dialog, IDC_REFRESH);
    EXPECT_EQ(1, presses);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(EventsStartingWith("RegSetValueExW").empty());
}

TEST_F(ReentryTest, DuringTheApplyErrorBoxAndTheWarning)
{
    for (bool busPresent : {true, false}) {
        SCOPED_TRACE(busPresent ? "bus present: the warning" : "bus missing: the warning, then the error");
        HostReset();
        SetUp();
        if (!busPresent)
            HostRemoveBus();
        Open();
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, 0);
        presses = 0;
        PressEverythingDuringBoxes();
        HostClickButton(dialog, IDOK);
        EXPECT_EQ(busPresent ? 1 : 2, presses);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(2u, EventsStartingWith("RegSetValueExW").size());
        ASSERT_EQ(busPresent ? 1u : 0u, HostBusRequests().size());
        if (busPresent) {
            HostText sent((const WCHAR*)HostBusRequests()[0].input.data(), 128);
            EXPECT_EQ(HostText(u"Mass_Storage_Class") + HostText(128 - 18, u'\0'), sent);
        }
    }
}

// The whole program, as WinMain runs it, with a person at the keyboard.
class ApplicationTest : public DialogTest {
protected:
    // Each idle turn of the message loop, the next action is taken.
    void Script(std::vector<std::function<void(HWND)>> actions)
    {
        HostOnIdle([this, actions]() mutable {
            ASSERT_FALSE(actions.empty()) << "the loop waits after the script ended";
            HWND running = FindWindowW(u"Dialog", u"USB Function Palvenor");
            ASSERT_NE(nullptr, running);
            EXPECT_TRUE(HostIsVisible(running));
            actions.front()(running);
            actions.erase(actions.begin());
        });
    }
};

TEST_F(ApplicationTest, RunsTheDialogUntilItIsGone)
{
    Script({[](HWND d) { HostChooseEntry(d, IDC_STORAGE_LIST, 0); PostMessageW(d, WM_NULL, 0, 0); },
            [](HWND d) { HostPostKey(d, VK_RETURN); }});
    g_hInstance = NULL;
    EXPECT_EQ(0, WinMain(HostModuleInstance(), NULL, (LPWSTR)u"ignored", SW_HIDE));
    EXPECT_EQ(HostText(u"DSK2:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
    EXPECT_EQ(HostText(u"Serial_Class"), HostCurrentClient());
    INITCOMMONCONTROLSEX controls = HostCommonControls();
    EXPECT_EQ(8u, controls.dwSize);
    EXPECT_EQ(0x00000200u, controls.dwICC);
    EXPECT_EQ(std::vector<std::string>{"ShowWindow 5"}, EventsStartingWith("ShowWindow"));
    EXPECT_EQ(1u, EventsStartingWith("UpdateWindow").size());
}

// A card put in or taken out while the dialog is open: the device announces
// it and the lists follow, with no press.
class FollowTest : public ApplicationTest {
protected:
    // An idle turn that queues nothing, so that time passes to the next
    // timer; with none, the loop only turns.
    static void Settle(HWND d)
    {
        if (HostArmedTimers() == 0)
            PostMessageW(d, WM_NULL, 0, 0);
    }
    // The first steps, then idle turns enough for so many timers to fire, then the rest.
    static std::vector<std::function<void(HWND)>> Steps(std::vector<std::function<void(HWND)>> first, int turns,
                                                        const std::vector<std::function<void(HWND)>>& then)
    {
        first.insert(first.end(), turns, Settle);
        first.insert(first.end(), then.begin(), then.end());
        return first;
    }
    static int Rebuilds() { return (int)EventsStartingWith("FindFirstStore").size() / 2; }
    static HostText Selected(HWND d, int id)
    {
        int index = ListSelection(d, id);
        return index < 0 ? u"<none>" : ListItems(d, id)[index];
    }
};

static const STOREINFO CARD = MakeStore(u"DSK5:", u"Camera Card");


TEST_F(FollowTest, ThePersonsChoicesStayWhereTheyAreStillListed)
{
    struct Row {
        const char* what;
        std::vector<std::function<void(HWND)>> beforeOk;
        std::vector<HostText> stores;
        HostText store, function, written, switched = u"RNDIS";
    } rows[] = {
        {"a card put in",
         {[](HWND) { HostMountStore(CARD); }, Settle},
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"a card put in, then taken out",
         {[](HWND) { HostMountStore(CARD); }, Settle, [](HWND) { HostDismountStore(u"DSK5:"); }, Settle},
         {u"SD Card", u"USB Disk"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"the chosen card taken out: the registry's store",
         {[](HWND) { HostDismountStore(u"DSK2:"); }, Settle},
         {u"USB Disk"}, u"USB Disk", u"RNDIS", u"DSK3:"},
        {"the chosen card taken out, the registry's store gone too: nothing, and OK writes nothing",
         {[](HWND) { HostMountStore(CARD); }, Settle,
          [](HWND d) { HostChooseEntry(d, IDC_STORAGE_LIST, 2); PostMessageW(d, WM_NULL, 0, 0); },
          [](HWND) { HostDismountStore(u"DSK3:"); }, Settle, [](HWND) { HostDismountStore(u"DSK5:"); }, Settle},
         {u"SD Card"}, u"<none>", u"RNDIS", u"DSK3:", u""},
        {"a card whose store is mounted 600 ms after its block device came",
         {[](HWND) { HostMountStore(CARD, 600); }, Settle, [](HWND) { HostAdvanceClock(600); }, Settle},
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"a wake with nothing to read, then a card whose store only the queue announces",
         {[](HWND) { HostWakeQueuesWithNothing(); }, Settle, [](HWND) { HostMountStore(CARD, 600); }, Settle,
          [](HWND) { HostAdvanceClock(600); }, Settle},
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"the queue's writer gone: the broadcast alone brings the card",
         {[](HWND) { HostBreakQueues(); }, Settle, [](HWND) { HostMountStore(CARD); }, Settle},
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"the chosen card re-seated, listed again 1,500 ms after its block device came: chosen again",
         {[](HWND) { HostReseatStores({u"DSK2:"}, 1500); }, Settle, Settle, Settle, Settle, Settle},
         {u"SD Card", u"USB Disk"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"the device resumed, every card listed again 10 s after its block device came",
         {[](HWND) { HostReseatStores({u"DSK2:", u"DSK3:"}, 10000); }, Settle},
         {u"SD Card", u"USB Disk"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"the chosen card re-seated, another chosen while it was away: the other stays",
         {[](HWND) { HostMountStore(CARD); }, Settle, [](HWND) { HostReseatStores({u"DSK2:"}, 1500); }, Settle,
          [](HWND d) { HostChooseEntry(d, IDC_STORAGE_LIST, 1); PostMessageW(d, WM_NULL, 0, 0); }},
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"Camera Card", u"RNDIS", u"DSK5:"},
        {"once the watch is over, a message sent from another thread, then a store only the queue announces",
         Steps({[](HWND) { HostMountStore(CARD, 30000); }}, 25,
               {[](HWND d) { HostSendFromAnotherThread(d, WM_NULL, 0, 0); }, [](HWND) { HostAdvanceClock(30000); },
                Settle}),
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"once the watch is over, a store the queue announces as its writer goes: still followed",
         Steps({[](HWND) { HostMountStore(CARD, 30000); }}, 25,
               {[](HWND) { HostBreakQueues(); HostAdvanceClock(30000); }, Settle}),
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
        {"a client driver added as a card comes",
         {[](HWND) { AddClientDrivers({u"Another_Class"}); HostMountStore(CARD); }, Settle},
         {u"SD Card", u"USB Disk", u"Camera Card"}, u"SD Card", u"RNDIS", u"DSK2:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        SetUp();
        std::vector<std::function<void(HWND)>> actions = {[](HWND d) {
            HostChooseEntry(d, IDC_STORAGE_LIST, 0);
            HostChooseEntry(d, IDC_FUNCTION_LIST, 2);
            PostMessageW(d, WM_NULL, 0, 0);
        }};
        actions.insert(actions.end(), row.beforeOk.begin(), row.beforeOk.end());
        // Time enough for the watch after an arrival (11 s, a timer turn each) to end.
        actions.insert(actions.end(), 30, Settle);
        actions.push_back([&row](HWND d) {
            EXPECT_EQ(row.stores, ListItems(d, IDC_STORAGE_LIST));
            EXPECT_EQ(row.store, Selected(d, IDC_STORAGE_LIST));
            EXPECT_EQ(row.function, Selected(d, IDC_FUNCTION_LIST));
            EXPECT_EQ(0, HostArmedTimers()) << "a timer runs while nothing changes";
            HostPostKey(d, VK_RETURN);
        });
        Script(actions);
        g_hInstance = HostModuleInstance();
        EXPECT_EQ(0, RunApplication());
        EXPECT_EQ(row.written, RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
        EXPECT_EQ(row.switched, HostCurrentClient());
        EXPECT_EQ(0, HostNotificationRequests());
    }
}

// One change shows once the device has been quiet 250 ms, not at the
// burst's cap; a store listed late, within the 500 ms of the look that finds
// it and the same quiet: 750 ms after it is listed at the most.
TEST_F(FollowTest, AChangeShowsOnceTheDeviceIsQuietAMoment)
{
    for (DWORD listedAfter : {0u, 1100u, 10000u}) {
        SCOPED_TRACE(listedAfter);
        HostReset();
        SetUp();
        DWORD announced = 0, shown = 0;
        bool gone = listedAfter == 0;
        std::vector<std::function<void(HWND)>> actions = {[&](HWND) {
            announced = HostClock();
            if (listedAfter == 0)
                HostMountStore(CARD);
            else
                HostReseatStores({u"DSK3:"}, listedAfter);
        }};
        // Each turn lets the clock run to the next timer.
        actions.insert(actions.end(), 40, [&](HWND d) {
            std::vector<HostText> items = ListItems(d, IDC_STORAGE_LIST);
            HostText awaited = listedAfter == 0 ? u"Camera Card" : u"USB Disk";
            bool listed = std::find(items.begin(), items.end(), awaited) != items.end();
            gone = gone || !listed;
            if (gone && listed && shown == 0)
                shown = HostClock();
            Settle(d);
        });
        actions.push_back([](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); });
        Script(actions);
        g_hInstance = HostModuleInstance();
        EXPECT_EQ(0, RunApplication());
        ASSERT_NE(0u, shown) << "the store never showed";
        if (listedAfter == 0)
            EXPECT_EQ(250u, shown - announced);
        else
            EXPECT_LE(shown - announced, listedAfter + 750);
    }
}

// Changes 10 or 25 ms apart: one rebuild once they stop, or one more for
// each 750 ms they go on.
TEST_F(FollowTest, ABurstOfChangesGivesOneRebuildOrAFew)
{
    for (DWORD apart : {10u, 25u}) {
        SCOPED_TRACE(std::to_string(apart) + " ms apart");
        HostReset();
        SetUp();
        std::vector<std::function<void(HWND)>> actions;
        for (int i = 0; i < 40; i++) {
            actions.push_back([i, apart](HWND) {
                if (i % 2 == 0)
                    HostMountStore(CARD);
                else
                    HostDismountStore(u"DSK5:");
                HostAdvanceClock(apart);
            });
        }
        actions.push_back(Settle);
        actions.push_back([](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); });
        Script(actions);
        g_hInstance = HostModuleInstance();
        EXPECT_EQ(0, RunApplication());
        EXPECT_EQ(apart == 10 ? 2 : 3, Rebuilds()) << "the first populate and one rebuild for each 750 ms";
    }
}

// With the queue or without it (the broadcast alone), a change that comes
// while a box waits is followed once the box is gone.
TEST_F(FollowTest, NoRebuildWhileABoxWaits)
{
    for (bool queue : {true, false}) {
        SCOPED_TRACE(queue ? "with the queue" : "CreateMsgQueue failing");
        HostReset();
        SetUp();
        if (!queue)
            HostFailCall(HOST_CREATE_MSG_QUEUE, 1);
        int rebuildsUnderTheBox = -1;
        HostOnMessageBox([&](const HostMessageBox&) {
            int before = Rebuilds();
            const StoreList* stores = g_pStoreList;
            AddClientDrivers({u"Serial_Class"});
            HostMountStore(CARD);
            HostAdvanceClock(1000);
            // The box's own loop takes the timer's message.
            MSG msg;
            GetMessageW(&msg, NULL, 0, 0);
            EXPECT_EQ(WM_TIMER, msg.message);
            DispatchMessageW(&msg);
            rebuildsUnderTheBox = Rebuilds() - before;
            EXPECT_EQ(stores, g_pStoreList);
        });
        Script({[](HWND d) {
                    HostRegDeleteKey(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY);
                    HostClickButton(d, IDC_REFRESH);
                },
                Settle,
                [](HWND d) {
                    EXPECT_EQ((std::vector<HostText>{u"SD Card", u"USB Disk", u"Camera Card"}),
                              ListItems(d, IDC_STORAGE_LIST));
                    EXPECT_EQ(std::vector<HostText>{u"Serial_Class"}, ListItems(d, IDC_FUNCTION_LIST));
                    PostMessageW(d, WM_CLOSE, 0, 0);
                }});
        g_hInstance = HostModuleInstance();
        EXPECT_EQ(0, RunApplication());
        EXPECT_EQ(0, rebuildsUnderTheBox);
        EXPECT_EQ(1u, HostMessageBoxes().size());
    }
}

TEST_F(ApplicationTest, ExitsWithZeroWhateverEndsIt)
{
    struct Row {
        const char* what;
        std::function<void()> arrange;
        std::function<void(HWND)> act;
    } rows[] = {
        {"Escape", [] {}, [](HWND d) { HostPostKey(d, VK_ESCAPE); }},
        {"close box", [] {}, [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }},
        {"failed apply", [] { HostRemoveBus(); }, [](HWND d) { HostPostKey(d, VK_RETURN); }},
        {"failed populate", [] { HostSetStores({}); }, [](HWND d) { HostPostKey(d, VK_RETURN); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        SetUp();
        row.arrange();
        Script({row.act});
        g_hInstance = HostModuleInstance();
        EXPECT_EQ(0, RunApplication());
        EXPECT_EQ(0u, HostLiveBlocks());
    }
}

TEST_F(ApplicationTest, ASecondInstanceBringsTheFirstForward)
{
    HWND first = HostCreateWindow(u"Dialog", u"USB Function Palvenor");
    g_hInstance = HostModuleInstance();
    EXPECT_EQ(0, RunApplication());
    EXPECT_EQ(first, HostForegroundWindow());
    EXPECT_EQ((ULONG_PTR)first | 1, HostForegroundHandleValue());
    EXPECT_TRUE(EventsStartingWith("CreateDialogIndirectParamW").empty());
    EXPECT_TRUE(EventsStartingWith("FindFirstStore").empty());
}

TEST_F(ApplicationTest, AnUnloadableTitleLooksForAnUntitledDialog)
{
    HWND untitled = HostCreateWindow(u"Dialog", u"");
    HostFailCall(HOST_LOAD_STRING, 1);
    g_hInstance = HostModuleInstance();
    EXPECT_EQ(0, RunApplication());
    EXPECT_EQ(untitled, HostForegroundWindow());
}

TEST_F(ApplicationTest, WithoutItsTemplateTheProgramEndsQuietly)
{
    for (HostCall failing : {HOST_FIND_RESOURCE, HOST_LOAD_RESOURCE, HOST_CREATE_DIALOG}) {
        SCOPED_TRACE(failing);
        HostReset();
        HostFailCall(failing, 1);
        g_hInstance = HostModuleInstance();
        // No idle hook: a message loop that ran would abort the test.
        EXPECT_EQ(0, RunApplication());
        EXPECT_TRUE(HostMessageBoxes().empty());
        EXPECT_TRUE(EventsStartingWith("ShowWindow").empty());
    }
}
