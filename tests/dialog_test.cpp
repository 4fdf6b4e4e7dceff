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
