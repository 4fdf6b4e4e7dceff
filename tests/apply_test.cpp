#include "test_support.h"

#include "selection/selection.h"

class ApplyTest : public HostTest {
public:
    void SetUp() override
    {
        HostTest::SetUp();
        InstallDevice();
        dialog = CreateChoiceDialogForTest();
        ASSERT_NE(nullptr, dialog);
    }
    void Choose(int store, int function)
    {
        HostChooseEntry(dialog, IDC_STORAGE_LIST, store);
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, function);
    }
    HostText DeviceName() { return RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE); }
    HostText DefaultDriver() { return RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE); }
};

TEST_F(ApplyTest, WritesFlushesWarnsAndSwitchesInThatOrder)
{
    Choose(0, 2);
    EXPECT_TRUE(ApplySelection(dialog));
    EXPECT_EQ(HostText(u"DSK2:"), DeviceName());
    EXPECT_EQ(HostText(u"RNDIS"), DefaultDriver());
    std::vector<BYTE> stored;
    HostRegGetValue(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, NULL, &stored);
    EXPECT_EQ(12u, stored.size()) << "the terminator is stored";
    EXPECT_EQ(HostText(u"RNDIS"), HostCurrentClient());
    EXPECT_EQ(std::vector<HostText>{u"Driver Issue...\r\n\n    Remove USB cable now!."}, BoxTexts());

    std::vector<std::string> order;
    for (const std::string& event : HostEvents()) {
        if (event.rfind("RegSetValueExW", 0) == 0 || event.rfind("RegFlushKey", 0) == 0 ||
            event.rfind("Sleep", 0) == 0 || event.rfind("MessageBoxW", 0) == 0 ||
            event.rfind("DeviceIoControl", 0) == 0)
            order.push_back(event);
    }
    EXPECT_EQ((std::vector<std::string>{"RegSetValueExW DeviceName", "RegSetValueExW DefaultClientDriver",
                                        "RegFlushKey HKEY_LOCAL_MACHINE", "RegFlushKey HKEY_CURRENT_USER",
                                        "RegFlushKey HKEY_USERS", "Sleep 100", "MessageBoxW USB Palvenor",
                                        "DeviceIoControl 0x00220010"}),
              order);
    ASSERT_EQ(1u, HostBusRequests().size());
    EXPECT_EQ(0, memcmp(g_pFunctionList->names[2], HostBusRequests()[0].input.data(), 256));
}

TEST_F(ApplyTest, FlushFailuresAreNotExamined)
{
    Choose(1, 0);
    HostFailCall(HOST_REG_FLUSH, 1);
    EXPECT_TRUE(ApplySelection(dialog));
    EXPECT_EQ(3u, EventsStartingWith("RegFlushKey").size());
    EXPECT_EQ(HostText(u"Mass_Storage_Class"), HostCurrentClient());
}

TEST_F(ApplyTest, WhatIsWrittenBeforeEachFailure)
{
    struct Row {
        const char* what;
        std::function<void(ApplyTest*)> arrange;
        HostText message, deviceName, defaultDriver;
        size_t requests;
    } rows[] = {
        {"no store selected",
         [](ApplyTest* t) {
             HostChooseEntry(t->dialog, IDC_FUNCTION_LIST, 0);
             SendMessageW(GetDlgItem(t->dialog, IDC_STORAGE_LIST), LB_SETCURSEL, (WPARAM)-1, 0);
         },
         u"Error, selected storage type not found.", u"DSK3:", u"Serial_Class", 0},
        {"no function selected",
         [](ApplyTest* t) {
             HostChooseEntry(t->dialog, IDC_STORAGE_LIST, 0);
             SendMessageW(GetDlgItem(t->dialog, IDC_FUNCTION_LIST), LB_SETCURSEL, (WPARAM)-1, 0);
         },
         u"Error, selected function type not found.", u"DSK3:", u"Serial_Class", 0},
        {"store entry beyond the list",
         [](ApplyTest* t) {
             HWND box = GetDlgItem(t->dialog, IDC_STORAGE_LIST);
             SendMessageW(box, LB_INSERTSTRING, (WPARAM)-1, (LPARAM)u"stale");
             t->Choose(2, 0);
         },
         u"Error, selected storage type not found.", u"DSK3:", u"Serial_Class", 0},
        {"function entry beyond the list",
         [](ApplyTest* t) {
             HWND box = GetDlgItem(t->dialog, IDC_FUNCTION_LIST);
             SendMessageW(box, LB_INSERTSTRING, (WPARAM)-1, (LPARAM)u"stale");
             t->Choose(0, 3);
         },
         u"Error, selected function type not found.", u"DSK3:", u"Serial_Class", 0},
        {"DeviceName not written",
         [](ApplyTest* t) {
             t->Choose(0, 0);
             HostFailCall(HOST_REG_SET_VALUE, 1);
         },
         u"Error, Writing selected storage type to registry.", u"DSK3:", u"Serial_Class", 0},
        {"DefaultClientDriver not written",
         [](ApplyTest* t) {
             t->Choose(0, 0);
             HostFailCall(HOST_REG_SET_VALUE, 2);
         },
         u"Error, Writing selected function type to registry.", u"DSK2:", u"Serial_Class", 0},
        {"no bus driver",
         [](ApplyTest* t) {
             t->Choose(0, 0);
             HostRemoveBus();
         },
         u"Error, Changing the current USB Function.", u"DSK2:", u"Mass_Storage_Class", 0},
        {"bus refuses",
         [](ApplyTest* t) {
             t->Choose(0, 0);
             HostSetBusRefuses(true);
         },
         u"Error, Changing the current USB Function.", u"DSK2:", u"Mass_Storage_Class", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DestroyWindow(dialog);
        HostReset();
        SetUp();
        row.arrange(this);
        EXPECT_FALSE(ApplySelection(dialog));
        ASSERT_FALSE(HostMessageBoxes().empty());
        const HostMessageBox& error = HostMessageBoxes().back();
        EXPECT_EQ(row.message, error.text);
        EXPECT_EQ(HostText(u"Palvenor Error"), error.caption);
        EXPECT_EQ((UINT)MB_TOPMOST, error.style);
        EXPECT_EQ(nullptr, error.owner);
        EXPECT_EQ(row.deviceName, DeviceName());
        EXPECT_EQ(row.defaultDriver, DefaultDriver());
        EXPECT_EQ(row.requests, HostBusRequests().size());
        // The warning comes before every attempt to switch, and only then.
        bool attempted = row.message == HostText(u"Error, Changing the current USB Function.");
        EXPECT_EQ(attempted ? 2u : 1u, HostMessageBoxes().size());
        EXPECT_EQ(attempted ? 3u : 0u, EventsStartingWith("RegFlushKey").size());
        EXPECT_EQ(0, HostOpenKeys());
        EXPECT_EQ(0, HostOpenHandles());
    }
}

TEST_F(ApplyTest, EmptySlotsAreNeverWrittenOrSent)
{
    DestroyWindow(dialog);
    HostOnStoreSearch([](int search) {
        if (search == 2)
            HostSetStores({MakeStore(u"DSK3:", u"USB Disk")});
    });
    HostFailCall(HOST_REG_ENUM_KEY, 2);
    dialog = CreateChoiceDialogForTest();
    ASSERT_EQ(nullptr, g_pStoreList->deviceNames[1]);
    ASSERT_EQ(nullptr, g_pFunctionList->names[1]);

    Choose(1, 0);
    EXPECT_FALSE(ApplySelection(dialog));
    Choose(0, 1);
    EXPECT_FALSE(ApplySelection(dialog));
    EXPECT_EQ((std::vector<HostText>{u"Error, selected storage type not found.",
                                     u"Error, selected function type not found."}),
              BoxTexts());
    EXPECT_TRUE(EventsStartingWith("RegSetValueExW").empty());
    EXPECT_TRUE(HostBusRequests().empty());
}

TEST_F(ApplyTest, StoresOfOneNameWriteTheChosenDeviceName)
{
    DestroyWindow(dialog);
    HostSetStores({MakeStore(u"DSK2:", u"Card"), MakeStore(u"DSK3:", u"Card")});
    dialog = CreateChoiceDialogForTest();
    ASSERT_EQ(1, ListSelection(dialog, IDC_STORAGE_LIST));
    EXPECT_TRUE(ApplySelection(dialog));
    EXPECT_EQ(HostText(u"DSK3:"), DeviceName());
}

// A box whose text or caption cannot be loaded still shows, with the text's
// number in its place.
TEST_F(ApplyTest, ABoxWhoseTextsCannotBeLoadedShowsTheirNumbers)
{
    struct {
        const char* what;
        int store, failingLoad;
        HostText text, caption;
    } rows[] = {
        {"the warning's text", 0, 1, u"Palvenor Error 07", u"USB Palvenor"},
        {"the warning's caption", 0, 2, REMOVE_CABLE_TEXT, u"Palvenor Error 06"},
        {"an error's text", -1, 1, u"Palvenor Error 12", u"Palvenor Error"},
        {"an error's caption", -1, 2, u"Error, selected storage type not found.", u"Palvenor Error 04"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.what);
        Choose(row.store, 2);
        size_t before = HostMessageBoxes().size();
        HostFailCall(HOST_LOAD_STRING, row.failingLoad);
        EXPECT_EQ(row.store >= 0, ApplySelection(dialog) != FALSE);
        ASSERT_EQ(before + 1, HostMessageBoxes().size());
        EXPECT_EQ(row.text, HostMessageBoxes().back().text);
        EXPECT_EQ(row.caption, HostMessageBoxes().back().caption);
    }
}
