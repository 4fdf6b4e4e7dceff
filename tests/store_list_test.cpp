#include "test_support.h"

#include "inventory/store_list.h"

class StoreListTest : public HostTest {};

static std::vector<HostText> DeviceNames(const StoreList* list)
{
    std::vector<HostText> names;
    for (DWORD i = 0; i < list->count; i++)
        names.push_back(list->deviceNames[i] != NULL ? HostText(list->deviceNames[i]) : u"<empty>");
    return names;
}

TEST_F(StoreListTest, FilterTakesWritableBlockStoresThatAreNotTheInternalFlash)
{
    STOREINFO flashWithTail = MakeStore(u"DSK", u"S", u"Tulvane");
    flashWithTail.sdi.szProfile[20] = u'x';
    STOREINFO outerFieldsOnly = MakeStore(u"DSK", u"S", u"SDMMC", 0, 0);
    outerFieldsOnly.dwDeviceClass = STORAGE_DEVICE_CLASS_BLOCK;
    outerFieldsOnly.dwDeviceFlags = STORAGE_DEVICE_FLAG_READWRITE;
    struct Row {
        const char* what;
        STOREINFO store;
        BOOL exposable;
    } rows[] = {
        {"writable block store", MakeStore(u"DSK", u"S"), TRUE},
        {"empty profile", MakeStore(u"DSK", u"S", u""), TRUE},
        {"other flag bits set", MakeStore(u"DSK", u"S", u"SDMMC", 1, 0xAAAAAAAB), TRUE},
        {"internal flash", MakeStore(u"DSK", u"S", u"Tulvane"), FALSE},
        {"internal flash, other case", MakeStore(u"DSK", u"S", u"TULVANE"), TRUE},
        {"internal flash profile with units after its terminator", flashWithTail, TRUE},
        {"profile one unit longer", MakeStore(u"DSK", u"S", u"Tulvanex"), TRUE},
        {"profile one unit shorter", MakeStore(u"DSK", u"S", u"Tulvan"), TRUE},
        {"read-only", MakeStore(u"DSK", u"S", u"SDMMC", 1, 0xFFFFFFFE), FALSE},
        {"read-only internal flash", MakeStore(u"DSK", u"S", u"Tulvane", 1, 0), FALSE},
        {"not a block device", MakeStore(u"DSK", u"S", u"SDMMC", 2, 1), FALSE},
        {"class with other bits", MakeStore(u"DSK", u"S", u"SDMMC", 0x55555555, 1), FALSE},
        {"class and flags outside the device info", outerFieldsOnly, FALSE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.exposable, IsExposableStore(&row.store));
    }
}

TEST_F(StoreListTest, KeepsTheStorageManagersOrderWithTerminatedNames)
{
    HostSetStores({MakeStore(u"DSK1:", u"Internal Flash", u"Tulvane"), MakeStore(u"ABCDEFGH", HostText(32, u's')),
                   MakeStore(u"DSK2:", u"SD Card", u"SDMMC", 1, 0), MakeStore(u"DSK3:", u"USB Disk")});
    StoreList* list = BuildStoreList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ((std::vector<HostText>{u"ABCDEFGH", u"DSK3:"}), DeviceNames(list));
    EXPECT_EQ(HostText(32, u's'), HostText(list->storeNames[0]));
    EXPECT_EQ(HostText(u"USB Disk"), HostText(list->storeNames[1]));
    EXPECT_EQ(18u, HostBlockBytes(list->deviceNames[0]));
    EXPECT_EQ(66u, HostBlockBytes(list->storeNames[0]));
    FreeStoreList(list);
}

TEST_F(StoreListTest, NoExposableStoreIsAnInvalidDrive)
{
    struct Row {
        const char* what;
        std::vector<STOREINFO> stores;
        int failFirstSearch;
    } rows[] = {
        {"only the internal flash", {MakeStore(u"DSK1:", u"Flash", u"Tulvane")}, 0},
        {"only read-only stores", {MakeStore(u"DSK1:", u"CD", u"CDROM", 1, 0)}, 0},
        {"no store at all", {}, 0},
        {"first search fails", {MakeStore(u"DSK2:", u"SD")}, 1},
        {"second search fails", {MakeStore(u"DSK2:", u"SD")}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        HostSetStores(row.stores);
        HostFailCall(HOST_FIND_FIRST_STORE, row.failFirstSearch);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(nullptr, BuildStoreList());
        EXPECT_EQ((DWORD)ERROR_INVALID_DRIVE, GetLastError());
        EXPECT_EQ(0u, HostLiveBlocks());
        EXPECT_EQ(0, HostOpenStoreSearches());
    }
}

TEST_F(StoreListTest, StoresThatChangeBetweenTheTwoWalks)
{
    const STOREINFO sd = MakeStore(u"DSK2:", u"SD Card"), usb = MakeStore(u"DSK3:", u"USB Disk"),
                    cf = MakeStore(u"DSK4:", u"CF Card");
    // One went away: its slot stays empty and releasing skips it.
    HostSetStores({sd, usb});
    HostOnStoreSearch([&](int search) {
        if (search == 2)
            HostSetStores({usb});
    });
    StoreList* list = BuildStoreList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ((std::vector<HostText>{u"DSK3:", u"<empty>"}), DeviceNames(list));
    EXPECT_EQ(nullptr, list->storeNames[1]);
    FreeStoreList(list);

    // One appeared: there is no slot for it, and the walk goes to its end.
    HostSetStores({sd});
    HostOnStoreSearch([&](int search) {
        if (search % 2 == 0)
            HostSetStores({cf, sd});
    });
    list = BuildStoreList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ((std::vector<HostText>{u"DSK4:"}), DeviceNames(list));
    FreeStoreList(list);
}

TEST_F(StoreListTest, AFailedNextStoreEndsTheWalk)
{
    HostSetStores({MakeStore(u"DSK2:", u"SD"), MakeStore(u"DSK3:", u"USB")});
    HostFailCall(HOST_FIND_NEXT_STORE, 1);
    StoreList* list = BuildStoreList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ((std::vector<HostText>{u"DSK2:"}), DeviceNames(list));
    FreeStoreList(list);
    FreeStoreList(NULL);
}

TEST_F(StoreListTest, EveryFailedAllocationReleasesEverything)
{
    int allocations = SweepAllocations(
        [] { HostSetStores({MakeStore(u"DSK2:", u"SD"), MakeStore(u"DSK1:", u"F", u"Tulvane"), MakeStore(u"DSK3:", u"U")}); },
        [](bool failing) {
            StoreList* list = BuildStoreList();
            EXPECT_EQ(failing, list == NULL);
            FreeStoreList(list);
        },
        [] {
            EXPECT_EQ(0u, HostLiveBlocks());
            EXPECT_EQ(0, HostOpenStoreSearches());
        });
    EXPECT_LT(0, allocations);
}
