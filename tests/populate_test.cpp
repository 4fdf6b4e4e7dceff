#include "test_support.h"

#include "selection/selection.h"

// The dialog is created with its first populate; each test then calls
// PopulateLists as Refresh does.
class PopulateTest : public HostTest {
protected:
    void Open()
    {
        dialog = CreateChoiceDialogForTest();
        ASSERT_NE(nullptr, dialog);
    }
    std::vector<HostText> Stores() { return ListItems(dialog, IDC_STORAGE_LIST); }
    std::vector<HostText> Functions() { return ListItems(dialog, IDC_FUNCTION_LIST); }
    int StoreSelection() { return ListSelection(dialog, IDC_STORAGE_LIST); }
    int FunctionSelection() { return ListSelection(dialog, IDC_FUNCTION_LIST); }
};

TEST_F(PopulateTest, FillsBothListsInOrderAndSelectsTheCurrentValues)
{
    InstallDevice();
    Open();
    EXPECT_EQ((std::vector<HostText>{u"SD Card", u"USB Disk"}), Stores());
    EXPECT_EQ((std::vector<HostText>{u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"}), Functions());
    EXPECT_EQ(1, StoreSelection());
    EXPECT_EQ(1, FunctionSelection());
    EXPECT_TRUE(HostMessageBoxes().empty());
    EXPECT_TRUE(PopulateLists(dialog));
}

TEST_F(PopulateTest, SelectsOnlyTheEntryTheValueNames)
{
    struct Row {
        const char* what;
        HostText deviceName, driverName;
        int storeSelection, functionSelection;
    } rows[] = {
        {"exact", u"DSK3:", u"Serial_Class", 1, 1},
        {"driver in other letter case", u"DSK3:", u"serial_CLASS", 1, 1},
        {"device name in other letter case", u"dsk3:", u"RNDIS", -1, 2},
        {"driver name a prefix of a listed name", u"DSK", u"Serial", -1, -1},
        {"values longer than any entry", u"DSK3:x", u"Serial_Classx", -1, -1},
        {"empty values", u"", u"", -1, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        InstallDevice();
        HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, row.deviceName);
        HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, row.driverName);
        Open();
        EXPECT_EQ(row.storeSelection, StoreSelection());
        EXPECT_EQ(row.functionSelection, FunctionSelection());
        DestroyWindow(dialog);
    }
}

TEST_F(PopulateTest, ADeviceNameListedTwiceSelectsTheFirstStoreWithIt)
{
    InstallDevice();
    HostSetStores({MakeStore(u"DSK2:", u"SD Card"), MakeStore(u"DSK3:", u"USB Disk"),
                   MakeStore(u"DSK3:", u"USB Disk, second partition")});
    Open();
    EXPECT_EQ(1, StoreSelection());
    // OK writes the selected store's name over whatever the value holds by then.
    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK2:");
    HostClickButton(dialog, IDOK);
    EXPECT_EQ(HostText(u"DSK3:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
}

// A box that cannot take an entry (too little memory) would show every
// later entry at another slot's index: it is emptied, and OK applies nothing.
TEST_F(PopulateTest, ABoxThatCannotTakeAnEntryIsEmptiedAndReported)
{
    struct Row {
        const char* what;
        int failingInsert;
        HostText message;
        std::vector<HostText> stores;
    } rows[] = {
        {"storage box takes its first entry, not its second", 2, u"Error in listing storage types.", {}},
        {"function box takes its first entry, not its second", 4, u"Error in listing USB Function Types.",
         {u"SD Card", u"USB Disk"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        InstallDevice();
        HostFailCall(HOST_LIST_INSERT, row.failingInsert);
        Open();
        EXPECT_EQ(std::vector<HostText>{row.message}, BoxTexts());
        EXPECT_EQ(row.stores, Stores());
        EXPECT_TRUE(Functions().empty());
        HostChooseEntry(dialog, IDC_STORAGE_LIST, 0);
        HostClickButton(dialog, IDOK);
        EXPECT_EQ(HostText(u"DSK3:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
        EXPECT_EQ(HostText(u"Serial_Class"), RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE));
        EXPECT_TRUE(HostBusRequests().empty());
    }
}

// Key names ignore letter case beyond ASCII too: one key, and a value in
// other case names it.
TEST_F(PopulateTest, LettersBeyondAsciiFoldAsKeyNamesDo)
{
    InstallDevice();
    AddClientDrivers({u"Série_Ünïcode", u"SÉRIE_üNÏCODE"});
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"série_ÜNÏCODE");
    Open();
    EXPECT_EQ((std::vector<HostText>{u"Mass_Storage_Class", u"Serial_Class", u"RNDIS", u"Série_Ünïcode"}),
              Functions());
    EXPECT_EQ(3, FunctionSelection());
}

// A list box that repainted for each entry would take seconds to fill with
// a thousand client drivers.
TEST_F(PopulateTest, FillingRepaintsAsOftenForAThousandEntriesAsForThree)
{
    InstallDevice();
    Open();
    HWND functionBox = GetDlgItem(dialog, IDC_FUNCTION_LIST);
    int before = HostListRepaints(functionBox);
    ASSERT_TRUE(PopulateLists(dialog));
    int repaintsForThree = HostListRepaints(functionBox) - before;
    for (int i = 0; i < 1000; i++)
        AddClientDrivers({u"Driver_" + HostText(1, u'a' + i % 26) + HostText(1, u'a' + i / 26)});
    before = HostListRepaints(functionBox);
    ASSERT_TRUE(PopulateLists(dialog));
    EXPECT_EQ(1003u, ListItems(dialog, IDC_FUNCTION_LIST).size());
    EXPECT_EQ(repaintsForThree, HostListRepaints(functionBox) - before);
    EXPECT_GE(3, repaintsForThree);
    EXPECT_TRUE(HostListShowsItsItems(functionBox));
    EXPECT_TRUE(HostListShowsItsItems(GetDlgItem(dialog, IDC_STORAGE_LIST)));
}

TEST_F(PopulateTest, LongerNameListedFirstDoesNotCaptureTheSelection)
{
    AddClientDrivers({u"Serial_Class_Ex", u"Serial_Class"});
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"Serial_Class");
    HostSetStores({MakeStore(u"DSK2:", u"Card"), MakeStore(u"DSK3:", u"Card")});
    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK3:");
    Open();
    EXPECT_EQ(1, FunctionSelection());
    // Two stores of one name: the one whose device name matches, the lower.
    EXPECT_EQ(1, StoreSelection());
}

TEST_F(PopulateTest, MissingOrUnreadableValuesLeaveNoSelection)
{
    InstallDevice();
    HostRegSetValue(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, REG_DWORD, "\3\0\0\0", 4);
    HostRegDeleteKey(HKEY_LOCAL_MACHINE, HostText(FUNCTION_DRIVERS_KEY) + u"\\Serial_Class");
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"Serial_Class");
    Open();
    EXPECT_EQ(-1, StoreSelection());
    EXPECT_EQ(-1, FunctionSelection());
    EXPECT_TRUE(HostMessageBoxes().empty());
}

TEST_F(PopulateTest, EmptySlotsAreShownAndNeverSelected)
{
    InstallDevice();
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"");
    HostOnStoreSearch([](int search) {
        if (search == 2)
            HostSetStores({MakeStore(u"DSK3:", u"USB Disk")});
    });
    HostFailCall(HOST_REG_ENUM_KEY, 1);
    Open();
    EXPECT_EQ((std::vector<HostText>{u"USB Disk", EMPTY_SLOT_TEXT}), Stores());
    EXPECT_EQ((std::vector<HostText>{EMPTY_SLOT_TEXT, u"Serial_Class", u"RNDIS"}), Functions());
    EXPECT_EQ(0, StoreSelection());
    EXPECT_EQ(-1, FunctionSelection());
}

TEST_F(PopulateTest, RefreshReadsEverythingAgain)
{
    InstallDevice();
    Open();
    HostChooseEntry(dialog, IDC_FUNCTION_LIST, 2);
    HostSetStores({MakeStore(u"DSK2:", u"SD Card")});
    AddClientDrivers({u"CDC_Ethernet"});
    EXPECT_TRUE(PopulateLists(dialog));
    EXPECT_EQ((std::vector<HostText>{u"SD Card"}), Stores());
    EXPECT_EQ(-1, StoreSelection()) << "DeviceName names the store that went away";
    EXPECT_EQ(4u, Functions().size());
    EXPECT_EQ(1, FunctionSelection()) << "taken from the registry, not from the previous choice";

    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK2:");
    EXPECT_TRUE(PopulateLists(dialog));
    EXPECT_EQ(0, StoreSelection());
}

TEST_F(PopulateTest, StoreInventoryFailureLeavesTheFunctionsAsTheyWere)
{
    InstallDevice();
    Open();
    const FunctionList* functions = g_pFunctionList;
    HostSetStores({});
    EXPECT_FALSE(PopulateLists(dialog));
    EXPECT_EQ(std::vector<HostText>{u"Error in finding storage types."}, BoxTexts());
    EXPECT_EQ((UINT)MB_TOPMOST, HostMessageBoxes()[0].style);
    EXPECT_EQ(HostText(u"Palvenor Error"), HostMessageBoxes()[0].caption);
    EXPECT_EQ(nullptr, HostMessageBoxes()[0].owner);
    EXPECT_EQ(nullptr, g_pStoreList);
    EXPECT_TRUE(Stores().empty());
    EXPECT_EQ(functions, g_pFunctionList);
    EXPECT_EQ(3u, Functions().size());
    EXPECT_EQ(1, FunctionSelection());
}

TEST_F(PopulateTest, FunctionInventoryFailureEmptiesBothBoxes)
{
    InstallDevice();
    Open();
    HostRegDeleteKey(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY);
    EXPECT_FALSE(PopulateLists(dialog));
    EXPECT_EQ(std::vector<HostText>{u"Error in finding USB Function Types."}, BoxTexts());
    EXPECT_NE(nullptr, g_pStoreList);
    EXPECT_EQ(nullptr, g_pFunctionList);
    EXPECT_TRUE(Stores().empty());
    EXPECT_TRUE(Functions().empty());
}

// The program as it starts: the box of a failed first populate comes while
// the dialog is still hidden, and the dialog shows once it is closed.
TEST_F(PopulateTest, FirstPopulateFailuresAreReportedBeforeTheDialogShows)
{
    struct Row {
        const char* what;
        std::function<void()> arrange;
        HostText message;
    } rows[] = {
        {"no store", [] { AddClientDrivers({u"Serial_Class"}); }, u"Error in finding storage types."},
        {"no client driver", [] { HostSetStores({MakeStore(u"DSK2:", u"SD Card")}); },
         u"Error in finding USB Function Types."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        row.arrange();
        std::vector<bool> visibleAtBox, visibleAfter;
        auto dialogVisible = [] {
            HWND running = FindWindowW(u"Dialog", u"USB Function Palvenor");
            return running != NULL && HostIsVisible(running);
        };
        HostOnMessageBox([&](const HostMessageBox&) { visibleAtBox.push_back(dialogVisible()); });
        HostOnIdle([&] {
            visibleAfter.push_back(dialogVisible());
            PostMessageW(FindWindowW(u"Dialog", u"USB Function Palvenor"), WM_CLOSE, 0, 0);
        });
        g_hInstance = HostModuleInstance();
        EXPECT_EQ(0, RunApplication());
        EXPECT_EQ(std::vector<HostText>{row.message}, BoxTexts());
        EXPECT_EQ(std::vector<bool>{false}, visibleAtBox);
        EXPECT_EQ(std::vector<bool>{true}, visibleAfter);
    }
}

TEST_F(PopulateTest, EveryFailedAllocationIsReportedAndReleased)
{
    int allocations = SweepAllocations(
        [this] {
            InstallDevice();
            Open();
        },
        [this](bool failing) {
            EXPECT_EQ(!failing, PopulateLists(dialog));
            EXPECT_EQ(failing ? 1u : 0u, HostMessageBoxes().size());
            DestroyWindow(dialog);
        },
        [] {
            EXPECT_EQ(0u, HostLiveBlocks());
            EXPECT_EQ(0, HostOpenKeys());
            EXPECT_EQ(0, HostOpenStoreSearches());
        });
    EXPECT_LT(0, allocations);
}
