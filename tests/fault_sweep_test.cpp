// Every platform call each operation makes, failed in turn. Each sweep also
// prints how many distinct faults it injected.
#include "test_support.h"

#include <set>

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

class FaultSweepTest : public HostTest {
protected:
    void OpenOnInstalledDevice()
    {
        InstallDevice();
        dialog = CreateChoiceDialogForTest();
        ASSERT_NE(nullptr, dialog);
    }
};

// A store list is the exposable stores in the order reported: whatever
// failed, the slots it filled are the first of them, the rest empty.
static void ExpectStoreSlotsInOrder(const StoreList* list, const std::vector<HostText>& exposable)
{
    ASSERT_LE(list->count, exposable.size());
    bool emptySeen = false;
    for (DWORD i = 0; i < list->count; i++) {
        EXPECT_EQ(list->deviceNames[i] == NULL, list->storeNames[i] == NULL);
        if (list->deviceNames[i] == NULL)
            emptySeen = true;
        else
            EXPECT_TRUE(!emptySeen && exposable[i] == HostText(list->deviceNames[i])) << "slot " << i;
    }
}

static std::string StoreListOutcome(const StoreList* list)
{
    if (list == NULL)
        return "none";
    for (DWORD i = 0; i < list->count; i++) {
        if (list->deviceNames[i] == NULL)
            return "an empty slot";
    }
    return list->count == 2 ? "both stores" : "fewer stores";
}

TEST_F(FaultSweepTest, BuildStoreList)
{
    auto setup = [] {
        HostSetStores({MakeStore(u"DSK2:", u"SD"), MakeStore(u"DSK1:", u"F", u"Tulvane"), MakeStore(u"DSK3:", u"U")});
    };
    std::set<std::string> seen;
    int faults = SweepFaults(AllHostCalls(), setup, [&](const Fault* fault) {
        SetLastError(0);
        StoreList* list = BuildStoreList();
        DWORD error = GetLastError();
        EXPECT_EQ(0, HostOpenStoreSearches());
        if (list != NULL)
            ExpectStoreSlotsInOrder(list, {u"DSK2:", u"DSK3:"});
        if (fault == nullptr) {
            EXPECT_EQ("both stores", StoreListOutcome(list));
        } else if (fault->Is(HOST_FIND_FIRST_STORE)) {
            EXPECT_EQ((DWORD)ERROR_INVALID_DRIVE, error) << "no store could be searched";
        }
        seen.insert(StoreListOutcome(list));
        FreeStoreList(list);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    EXPECT_EQ((std::set<std::string>{"none", "both stores", "fewer stores", "an empty slot"}), seen);
    Report("BuildStoreList", faults);
}

TEST_F(FaultSweepTest, BuildFunctionList)
{
    const std::vector<HostText> drivers{u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"};
    auto setup = [&] { AddClientDrivers({drivers[0], drivers[1], drivers[2]}); };
    std::set<std::string> seen;
    int faults = SweepFaults(AllHostCalls(), setup, [&](const Fault* fault) {
        FunctionList* list = BuildFunctionList();
        EXPECT_EQ(0, HostOpenKeys());
        int empty = 0;
        if (list != NULL) {
            // Every slot holds its own subkey's name or nothing.
            ASSERT_EQ(drivers, std::vector<HostText>(drivers.begin(), drivers.begin() + list->count));
            for (DWORD i = 0; i < list->count; i++) {
                if (list->names[i] == NULL)
                    empty++;
                else
                    EXPECT_EQ(drivers[i], HostText(list->names[i]));
            }
        }
        EXPECT_GE(1, empty) << "one failed call left more than one slot empty";
        if (fault == nullptr) {
            EXPECT_TRUE(list != NULL && empty == 0);
        }
        seen.insert(list == NULL ? "none" : empty ? "an empty slot" : "every driver");
        FreeFunctionList(list);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    EXPECT_EQ((std::set<std::string>{"none", "every driver", "an empty slot"}), seen);
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
    Report("AccessRegistryString read", readFaults);
    Report("AccessRegistryString write", writeFaults);
}

// What a list box shows for a list: each slot's text, "(unavailable)" for an empty one.
static std::vector<HostText> Shown(WCHAR* const* names, DWORD count)
{
    std::vector<HostText> shown;
    for (DWORD i = 0; i < count; i++)
        shown.push_back(names[i] != NULL ? HostText(names[i]) : HostText(EMPTY_SLOT_TEXT));
    return shown;
}

TEST_F(FaultSweepTest, PopulateLists)
{
    // Refresh on an open dialog: three stores (one the flash), three client
    // drivers; DeviceName names USB Disk, DefaultClientDriver Serial_Class.
    auto setup = [this] { OpenOnInstalledDevice(); };
    const HostText storageError = u"Error in finding storage types.";
    const HostText functionError = u"Error in finding USB Function Types.";
    std::set<std::string> seen;
    int faults = SweepFaults(AllHostCalls(), setup, [&](const Fault* fault) {
        std::vector<HostText> functionsBefore = ListItems(dialog, IDC_FUNCTION_LIST);
        int functionSelectionBefore = ListSelection(dialog, IDC_FUNCTION_LIST);
        BOOL populated = PopulateLists(dialog);
        ExpectNothingOpen();
        std::vector<HostText> stores = ListItems(dialog, IDC_STORAGE_LIST);
        std::vector<HostText> functions = ListItems(dialog, IDC_FUNCTION_LIST);
        int storeSelection = ListSelection(dialog, IDC_STORAGE_LIST);
        int functionSelection = ListSelection(dialog, IDC_FUNCTION_LIST);
        EXPECT_EQ(HostText(u"DSK3:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE)) << "populating writes nothing";
        EXPECT_EQ(HostText(u"Serial_Class"), RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE));
        EXPECT_EQ(populated != FALSE, BoxTexts().empty());

        if (BoxTexts() == std::vector<HostText>{storageError}) {
            seen.insert("storage error");
            EXPECT_TRUE(stores.empty());
            EXPECT_EQ(functionsBefore, functions) << "the function list stays as it was";
            EXPECT_EQ(functionSelectionBefore, functionSelection);
        } else if (BoxTexts() == std::vector<HostText>{functionError}) {
            seen.insert("function error");
            EXPECT_TRUE(stores.empty());
            EXPECT_TRUE(functions.empty());
        } else if (BoxTexts() == std::vector<HostText>{u"Error in listing storage types."}) {
            // A box that could not take every entry shows none.
            seen.insert("storage listing error");
            EXPECT_TRUE(stores.empty());
            EXPECT_TRUE(functions.empty());
        } else if (BoxTexts() == std::vector<HostText>{u"Error in listing USB Function Types."}) {
            seen.insert("function listing error");
            EXPECT_EQ(Shown(g_pStoreList->storeNames, g_pStoreList->count), stores);
            EXPECT_TRUE(functions.empty());
        } else {
            ASSERT_TRUE(BoxTexts().empty()) << "unexpected boxes";
            ASSERT_NE(nullptr, g_pStoreList);
            ASSERT_NE(nullptr, g_pFunctionList);
            // Each box shows its list, entry for slot, and the lists are what
            // the builders may make of this device.
            EXPECT_EQ(Shown(g_pStoreList->storeNames, g_pStoreList->count), stores);
            EXPECT_EQ(Shown(g_pFunctionList->names, g_pFunctionList->count), functions);
            ExpectStoreSlotsInOrder(g_pStoreList, {u"DSK2:", u"DSK3:"});
            EXPECT_EQ(3u, functions.size());
            // A selection is the entry the registry names, or none.
            int usbDisk = (int)(std::find(stores.begin(), stores.end(), u"USB Disk") - stores.begin());
            EXPECT_TRUE(storeSelection == -1 || storeSelection == usbDisk);
            EXPECT_TRUE(functionSelection == -1 || (functionSelection == 1 && functions[1] == u"Serial_Class"));
            if (fault == nullptr) {
                EXPECT_TRUE(storeSelection == 1 && functionSelection == 1 && stores.size() == 2);
            }
            bool unavailable = std::count(stores.begin(), stores.end(), EMPTY_SLOT_TEXT) +
                                   std::count(functions.begin(), functions.end(), EMPTY_SLOT_TEXT) !=
                               0;
            seen.insert(unavailable ? "an unavailable entry"
                        : storeSelection == -1 || functionSelection == -1 ? "a selection missing"
                                                                           : "everything");
        }
        DestroyWindow(dialog);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    EXPECT_EQ((std::set<std::string>{"storage error", "function error", "storage listing error", "function listing error",
                                     "an unavailable entry", "a selection missing", "everything"}),
              seen);
    Report("PopulateLists", faults);
}

// The warning's text as shown: when the first string load (its text) is
// the one that fails, the box shows the text's number instead, never nothing.
static HostText WarningShown(const Fault* fault)
{
    return fault != nullptr && fault->Is(HOST_LOAD_STRING, 1) ? u"Palvenor Error 07"
                                                                                : REMOVE_CABLE_TEXT;
}

TEST_F(FaultSweepTest, ApplySelection)
{
    // SD Card (DSK2:) and RNDIS chosen; the registry holds DSK3: and Serial_Class.
    auto setup = [this] {
        OpenOnInstalledDevice();
        HostChooseEntry(dialog, IDC_STORAGE_LIST, 0);
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, 2);
        HostOnMessageBox([](const HostMessageBox& box) {
            // The warning comes only once both values are written and flushed.
            if (box.caption == u"USB Palvenor") {
                EXPECT_EQ(HostText(u"DSK2:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
                EXPECT_EQ(HostText(u"RNDIS"), RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE));
                EXPECT_EQ(3u, EventsStartingWith("RegFlushKey").size());
                EXPECT_TRUE(HostBusRequests().empty());
            }
        });
    };
    std::set<std::string> seen;
    int faults = SweepFaults(AllHostCalls(), setup, [&](const Fault* fault) {
        HostText warning = WarningShown(fault);
        BOOL applied = ApplySelection(dialog);
        ExpectNothingOpen();
        HostText deviceName = RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE);
        HostText driver = RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE);
        bool switched = HostCurrentClient() == u"RNDIS";
        EXPECT_GE(1u, HostBusRequests().size());
        EXPECT_EQ(applied != FALSE, switched);
        if (fault == nullptr) {
            EXPECT_TRUE(applied);
        }

        std::vector<HostText> boxes = BoxTexts();
        if (boxes == std::vector<HostText>{u"Error, Writing selected storage type to registry."}) {
            seen.insert("nothing written");
            EXPECT_EQ(HostText(u"DSK3:"), deviceName);
            EXPECT_EQ(HostText(u"Serial_Class"), driver);
        } else if (boxes == std::vector<HostText>{u"Error, Writing selected function type to registry."}) {
            seen.insert("DeviceName written");
            EXPECT_EQ(HostText(u"DSK2:"), deviceName);
            EXPECT_EQ(HostText(u"Serial_Class"), driver);
        } else if (boxes == std::vector<HostText>{warning, u"Error, Changing the current USB Function."}) {
            seen.insert("written, not switched");
            EXPECT_EQ(HostText(u"DSK2:"), deviceName);
            EXPECT_EQ(HostText(u"RNDIS"), driver);
        } else {
            seen.insert("switched");
            EXPECT_EQ(std::vector<HostText>{warning}, boxes);
            EXPECT_TRUE(switched);
        }
        if (std::find(boxes.begin(), boxes.end(), warning) == boxes.end()) {
            EXPECT_TRUE(HostBusRequests().empty() && EventsStartingWith("RegFlushKey").empty());
        }
        DestroyWindow(dialog);
        EXPECT_EQ(0u, HostLiveBlocks());
    });
    EXPECT_EQ((std::set<std::string>{"nothing written", "DeviceName written", "written, not switched", "switched"}),
              seen);
    Report("ApplySelection", faults);
}

TEST_F(FaultSweepTest, ChangeCurrentFunction)
{
    WCHAR slot[CLIENT_NAME_CHARS] = u"RNDIS";
    int faults = SweepFaults(AllHostCalls(), InstallDevice, [&](const Fault* fault) {
        // A text that cannot be loaded is no failure of the switch.
        bool switches = fault == nullptr || fault->Is(HOST_LOAD_STRING);
        EXPECT_EQ(switches, ChangeCurrentFunction(slot) != FALSE);
        EXPECT_EQ(std::vector<HostText>{WarningShown(fault)}, BoxTexts());
        bool requested = switches || fault->Is(HOST_DEVICE_IO_CONTROL);
        EXPECT_EQ(requested ? 1u : 0u, HostBusRequests().size());
        EXPECT_EQ(HostText(switches ? u"RNDIS" : u""), HostCurrentClient());
        ExpectNothingOpen();
    });
    Report("ChangeCurrentFunction", faults);
}

// The whole program, started, a card put in, the card chosen once it shows,
// then OK pressed: whatever call fails, it ends with 0, releases
// everything, and never switches the bus after an error. Without the
// notification queue it still follows the card, by the broadcast.
TEST_F(FaultSweepTest, TheWholeProgram)
{
    auto setup = [] {
        InstallDevice();
        auto mounted = std::make_shared<bool>(false);
        HostOnIdle([mounted] {
            HWND running = FindWindowW(u"Dialog", u"USB Function Palvenor");
            if (running == NULL)
                running = FindWindowW(u"Dialog", u"");
            ASSERT_NE(nullptr, running);
            if (!*mounted) {
                *mounted = true;
                HostMountStore(MakeStore(u"DSK5:", u"Camera Card"));
                return;
            }
            if (HostArmedTimers() != 0)
                return;
            std::vector<HostText> stores = ListItems(running, IDC_STORAGE_LIST);
            auto card = std::find(stores.begin(), stores.end(), u"Camera Card");
            if (card != stores.end())
                HostChooseEntry(running, IDC_STORAGE_LIST, (int)(card - stores.begin()));
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
        // An error the card's rebuild mended is no error of the switch.
        const std::vector<HostMessageBox>& boxes = HostMessageBoxes();
        EXPECT_NE(switched, boxes.empty() || boxes.back().caption == u"Palvenor Error");
        if (fault == nullptr || fault->Is(HOST_CREATE_MSG_QUEUE) || fault->Is(HOST_REQUEST_NOTIFICATIONS) ||
            fault->Is(HOST_READ_MSG_QUEUE) || fault->Is(HOST_MSG_WAIT)) {
            EXPECT_TRUE(switched);
            EXPECT_EQ(HostText(u"DSK5:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
        }
        EXPECT_EQ(0, HostNotificationRequests());
    });
    Report("the whole program", faults);
}
