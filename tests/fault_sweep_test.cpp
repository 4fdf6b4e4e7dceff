// Every platform call each operation makes, failed in turn. Each sweep also
// prints how many distinct faults it injected.
#include "test_support.h"

#include "inventory/function_list.h"
#include "inventory/store_list.h"
#include "selection/function_bus.h"
#include "selection/selection.h"

static void Report(const char* operation, int faults)
{
    printf("[ sweep    ] %s: %d faults injected\n", operation, faults);
}

static void ExpectNothingOpen()
{
    EXPECT_EQ(0, HostOpenKeys());
    EXPECT_EQ(0, HostOpenHandles());
    EXPECT_EQ(0, HostOpenStoreSearches());
}

static std::vector<HostText> Names(WCHAR* const* names, DWORD count)
{
    std::vector<HostText> found;
    for (DWORD i = 0; i < count; i++)
        found.push_back(names[i] != NULL ? HostText(names[i]) : u"<empty>");
    return found;
}

class FaultSweepTest : public HostTest {
protected:
    void OpenOnInstalledDevice()
    {
        InstallDevice();
        dialog = CreateChoiceDialogForTest();
        ASSERT_NE(nullptr, dialog);
    }
};

TEST_F(FaultSweepTest, BuildStoreList)
{
    // The flash between two exposable stores: each walk makes three next calls.
    auto setup = [] {
        HostSetStores({MakeStore(u"DSK2:", u"SD"), MakeStore(u"DSK1:", u"F", u"Tulvane"), MakeStore(u"DSK3:", u"U")});
    };
    int faults = SweepFaults(AllHostCalls(), setup, [](const Fault* fault) {
        SetLastError(0);
        StoreList* list = BuildStoreList();
        DWORD error = GetLastError();
        EXPECT_EQ(0, HostOpenStoreSearches());
        if (fault == nullptr || fault->Is(HOST_FIND_NEXT_STORE)) {
            // A failed next call ends its walk: the first walk counts fewer
            // stores, the second leaves the slots it did not reach empty.
            std::vector<HostText> expected{u"DSK2:", u"DSK3:"};
            if (fault != nullptr && fault->nth <= 2)
                expected = {u"DSK2:"};
            else if (fault != nullptr && (fault->nth == 4 || fault->nth == 5))
                expected = {u"DSK2:", u"<empty>"};
            ASSERT_NE(nullptr, list);
            EXPECT_EQ(expected, Names(list->deviceNames, list->count));
            for (DWORD i = 0; i < list->count; i++)
                EXPECT_EQ(list->deviceNames[i] == NULL, list->storeNames[i] == NULL);
        } else {
            EXPECT_EQ(nullptr, list);
            if (fault->Is(HOST_FIND_FIRST_STORE)) {
                EXPECT_EQ((DWORD)ERROR_INVALID_DRIVE, error);
            }
        }
        FreeStoreList(list);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    EXPECT_EQ(2 + 6 + 7, faults); // two searches, six next calls, seven blocks
    Report("BuildStoreList", faults);
}

TEST_F(FaultSweepTest, BuildFunctionList)
{
    auto setup = [] { AddClientDrivers({u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"}); };
    int faults = SweepFaults(AllHostCalls(), setup, [](const Fault* fault) {
        FunctionList* list = BuildFunctionList();
        EXPECT_EQ(0, HostOpenKeys());
        if (fault == nullptr || fault->Is(HOST_REG_ENUM_KEY)) {
            std::vector<HostText> expected{u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"};
            if (fault != nullptr)
                expected[fault->nth - 1] = u"<empty>";
            ASSERT_NE(nullptr, list);
            EXPECT_EQ(expected, Names(list->names, list->count));
        } else {
            EXPECT_EQ(nullptr, list);
        }
        FreeFunctionList(list);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    EXPECT_EQ(1 + 1 + 3 + 5, faults); // open, count, three names, five blocks
    Report("BuildFunctionList", faults);
}

TEST_F(FaultSweepTest, AccessRegistryStringReadAndWrite)
{
    auto setup = [] { HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK3:"); };
    int readFaults = SweepFaults(AllHostCalls(), setup, [](const Fault* fault) {
        WCHAR buffer[REGISTRY_TEXT_CHARS];
        std::fill(buffer, buffer + REGISTRY_TEXT_CHARS, u'#');
        DWORD bytes = sizeof(buffer);
        BOOL read = AccessRegistryString(FALSE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, buffer, &bytes);
        EXPECT_EQ(fault == nullptr, read != FALSE);
        if (fault != nullptr) {
            EXPECT_EQ(HostText(u"##"), HostText(buffer, 2)) << "a failed read delivers nothing";
        }
        EXPECT_EQ(0, HostOpenKeys());
    });
    int writeFaults = SweepFaults(AllHostCalls(), setup, [](const Fault* fault) {
        WCHAR text[] = u"DSK9:";
        DWORD bytes = sizeof(text);
        EXPECT_EQ(fault == nullptr, AccessRegistryString(TRUE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, text, &bytes) != FALSE);
        EXPECT_EQ(sizeof(text), bytes);
        EXPECT_EQ(HostText(fault == nullptr ? u"DSK9:" : u"DSK3:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
        EXPECT_EQ(0, HostOpenKeys());
    });
    EXPECT_EQ(2, readFaults);
    EXPECT_EQ(2, writeFaults);
    Report("AccessRegistryString read", readFaults);
    Report("AccessRegistryString write", writeFaults);
}

TEST_F(FaultSweepTest, PopulateLists)
{
    // Refresh on an open dialog: three stores (one the flash), three client
    // drivers, both values naming an entry.
    auto setup = [this] { OpenOnInstalledDevice(); };
    const int storeBlocks = 7;
    // What the storage list shows when the nth next call fails: the flash
    // comes first, so a first walk cut at once finds no exposable store.
    const std::vector<HostText> storesAfterFailedNext[] = {
        {}, {u"SD Card"}, {u"SD Card", u"USB Disk"}, {EMPTY_SLOT_TEXT, EMPTY_SLOT_TEXT},
        {u"SD Card", EMPTY_SLOT_TEXT}, {u"SD Card", u"USB Disk"}};
    int faults = SweepFaults(AllHostCalls(), setup, [&](const Fault* fault) {
        size_t eventsBefore = HostEvents().size();
        BOOL populated = PopulateLists(dialog);
        ExpectNothingOpen();
        std::vector<HostText> stores = ListItems(dialog, IDC_STORAGE_LIST);
        std::vector<HostText> functions = ListItems(dialog, IDC_FUNCTION_LIST);
        std::vector<HostText> expectedStores{u"SD Card", u"USB Disk"};
        if (fault != nullptr && fault->Is(HOST_FIND_NEXT_STORE))
            expectedStores = storesAfterFailedNext[fault->nth - 1];

        if (expectedStores.empty() || (fault != nullptr && (fault->Is(HOST_FIND_FIRST_STORE) ||
                                                            (fault->Is(HOST_LOCAL_ALLOC) && fault->nth <= storeBlocks)))) {
            EXPECT_FALSE(populated);
            EXPECT_EQ(std::vector<HostText>{u"Error in finding storage types."}, BoxTexts());
            EXPECT_TRUE(stores.empty());
        } else if (fault != nullptr && (fault->Is(HOST_REG_OPEN_KEY, 1) || fault->Is(HOST_REG_QUERY_INFO) ||
                                        fault->Is(HOST_LOCAL_ALLOC))) {
            EXPECT_FALSE(populated);
            EXPECT_EQ(std::vector<HostText>{u"Error in finding USB Function Types."}, BoxTexts());
            EXPECT_TRUE(functions.empty());
        } else {
            EXPECT_TRUE(populated);
            EXPECT_TRUE(BoxTexts().empty());
            std::vector<HostText> expectedFunctions{u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"};
            if (fault != nullptr && fault->Is(HOST_REG_ENUM_KEY))
                expectedFunctions[fault->nth - 1] = EMPTY_SLOT_TEXT;
            EXPECT_EQ(expectedStores, stores);
            EXPECT_EQ(expectedFunctions, functions);
            // DeviceName names USB Disk and DefaultClientDriver Serial_Class;
            // a value that cannot be read selects nothing and shows nothing.
            bool deviceNameRead = fault == nullptr || !(fault->Is(HOST_REG_OPEN_KEY, 2) || fault->Is(HOST_REG_QUERY_VALUE, 1));
            bool driverRead = fault == nullptr || !(fault->Is(HOST_REG_OPEN_KEY, 3) || fault->Is(HOST_REG_QUERY_VALUE, 2));
            bool storeListed = stores.size() == 2 && stores[1] == u"USB Disk";
            EXPECT_EQ(deviceNameRead && storeListed ? 1 : -1, ListSelection(dialog, IDC_STORAGE_LIST));
            EXPECT_EQ(driverRead && expectedFunctions[1] == u"Serial_Class" ? 1 : -1,
                      ListSelection(dialog, IDC_FUNCTION_LIST));
        }
        for (size_t i = eventsBefore; i < HostEvents().size(); i++)
            EXPECT_NE(0u, HostEvents()[i].rfind("RegSetValueExW", 0)) << "populating writes nothing";
        DestroyWindow(dialog);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    // Two searches and six next calls; three key opens, one count, three
    // names, two value reads; twelve blocks.
    EXPECT_EQ(2 + 6 + 3 + 1 + 3 + 2 + 12, faults);
    Report("PopulateLists", faults);
}

TEST_F(FaultSweepTest, ApplySelection)
{
    // SD Card (DSK2:) and RNDIS chosen; the registry holds DSK3: and Serial_Class.
    auto setup = [this] {
        OpenOnInstalledDevice();
        HostChooseEntry(dialog, IDC_STORAGE_LIST, 0);
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, 2);
    };
    const HostText warning = REMOVE_CABLE_TEXT;
    int faults = SweepFaults(AllHostCalls(), setup, [&](const Fault* fault) {
        BOOL applied = ApplySelection(dialog);
        ExpectNothingOpen();
        HostText deviceName = RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE);
        HostText driver = RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE);
        size_t flushes = EventsStartingWith("RegFlushKey").size();

        if (fault != nullptr && (fault->Is(HOST_REG_OPEN_KEY, 1) || fault->Is(HOST_REG_SET_VALUE, 1))) {
            EXPECT_EQ(std::vector<HostText>{u"Error, Writing selected storage type to registry."}, BoxTexts());
            EXPECT_EQ(HostText(u"DSK3:"), deviceName);
            EXPECT_EQ(HostText(u"Serial_Class"), driver);
            EXPECT_EQ(0u, flushes);
            EXPECT_TRUE(HostBusRequests().empty());
        } else if (fault != nullptr && (fault->Is(HOST_REG_OPEN_KEY, 2) || fault->Is(HOST_REG_SET_VALUE, 2))) {
            EXPECT_EQ(std::vector<HostText>{u"Error, Writing selected function type to registry."}, BoxTexts());
            EXPECT_EQ(HostText(u"DSK2:"), deviceName);
            EXPECT_EQ(HostText(u"Serial_Class"), driver);
            EXPECT_EQ(0u, flushes);
            EXPECT_TRUE(HostBusRequests().empty());
        } else if (fault != nullptr && !fault->Is(HOST_REG_FLUSH)) {
            // The bus cannot be found, opened or switched: both values stay
            // written and flushed, and the warning came first.
            EXPECT_EQ((std::vector<HostText>{warning, u"Error, Changing the current USB Function."}), BoxTexts());
            EXPECT_EQ(HostText(u"DSK2:"), deviceName);
            EXPECT_EQ(HostText(u"RNDIS"), driver);
            EXPECT_EQ(3u, flushes);
            EXPECT_EQ(fault->Is(HOST_DEVICE_IO_CONTROL) ? 1u : 0u, HostBusRequests().size());
            EXPECT_NE(HostText(u"RNDIS"), HostCurrentClient());
        } else {
            // A flush's result is not examined.
            EXPECT_TRUE(applied);
            EXPECT_EQ(std::vector<HostText>{warning}, BoxTexts());
            EXPECT_EQ(HostText(u"RNDIS"), HostCurrentClient());
            EXPECT_EQ(1u, HostBusRequests().size());
        }
        EXPECT_EQ(BoxTexts().size() == 1 && BoxTexts()[0] == warning, applied != FALSE);
        DestroyWindow(dialog);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    // Two key opens and two writes, three flushes, the search, the open and the request.
    EXPECT_EQ(2 + 2 + 3 + 3, faults);
    Report("ApplySelection", faults);
}

TEST_F(FaultSweepTest, ChangeCurrentFunction)
{
    WCHAR slot[CLIENT_NAME_CHARS] = u"RNDIS";
    int faults = SweepFaults(AllHostCalls(), InstallDevice, [&](const Fault* fault) {
        EXPECT_EQ(fault == nullptr, ChangeCurrentFunction(slot) != FALSE);
        EXPECT_EQ(std::vector<HostText>{REMOVE_CABLE_TEXT}, BoxTexts());
        bool requested = fault == nullptr || fault->Is(HOST_DEVICE_IO_CONTROL);
        EXPECT_EQ(requested ? 1u : 0u, HostBusRequests().size());
        EXPECT_EQ(HostText(fault == nullptr ? u"RNDIS" : u""), HostCurrentClient());
        ExpectNothingOpen();
    });
    EXPECT_EQ(3, faults);
    Report("ChangeCurrentFunction", faults);
}

// The whole program, started, then OK pressed: whatever call fails, it ends
// with 0, releases everything, and never switches the bus after an error.
TEST_F(FaultSweepTest, TheWholeProgram)
{
    auto setup = [] {
        InstallDevice();
        HostOnIdle([] {
            HWND running = FindWindowW(u"Dialog", u"USB Function Palvenor");
            if (running == NULL)
                running = FindWindowW(u"Dialog", u"");
            ASSERT_NE(nullptr, running);
            HostPostKey(running, VK_RETURN);
        });
        g_hInstance = HostModuleInstance();
    };
    int faults = SweepFaults(AllHostCalls(), setup, [](const Fault* fault) {
        EXPECT_EQ(0, RunApplication());
        ExpectNothingOpen();
        EXPECT_EQ(0u, HostLiveBlocks());
        EXPECT_EQ(nullptr, g_pStoreList);
        EXPECT_EQ(nullptr, g_pFunctionList);
        EXPECT_GE(1u, HostBusRequests().size());
        bool switched = HostCurrentClient() == u"Serial_Class";
        bool errorShown = false;
        for (const HostMessageBox& box : HostMessageBoxes())
            errorShown |= box.caption == u"Palvenor Error";
        EXPECT_NE(switched, errorShown || HostMessageBoxes().empty());
        if (fault == nullptr) {
            EXPECT_TRUE(switched);
        }
    });
    Report("the whole program", faults);
}
