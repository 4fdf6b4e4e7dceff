#include "test_support.h"

#include "inventory/function_list.h"

class FunctionListTest : public HostTest {};

static HostText SlotText(const FunctionList* list, DWORD i)
{
    return list->names[i] != NULL ? HostText(list->names[i]) : u"<empty>";
}

TEST_F(FunctionListTest, ListsEverySubkeyInEnumerationOrderInWholeSlots)
{
    AddClientDrivers({u"Serial_Class", u"Mass_Storage_Class", u"RNDIS"});
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"RNDIS");
    FunctionList* list = BuildFunctionList();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(3u, list->count);
    EXPECT_EQ(HostText(u"Serial_Class"), SlotText(list, 0));
    EXPECT_EQ(HostText(u"Mass_Storage_Class"), SlotText(list, 1));
    EXPECT_EQ(HostText(u"RNDIS"), SlotText(list, 2));
    for (DWORD i = 0; i < list->count; i++)
        EXPECT_EQ(256u, HostBlockBytes(list->names[i]));
    EXPECT_EQ(std::vector<std::string>{"RegOpenKeyExW Drivers\\USB\\FunctionDrivers access 0"},
              EventsStartingWith("RegOpenKeyExW"));
    FreeFunctionList(list);
}

TEST_F(FunctionListTest, NameLengthsAtTheSlotLimit)
{
    AddClientDrivers({HostText(127, u'a'), HostText(128, u'b'), u"RNDIS"});
    FunctionList* list = BuildFunctionList();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(3u, list->count);
    // 127 characters fill the slot but its last unit.
    EXPECT_EQ(HostText(127, u'a'), SlotText(list, 0));
    EXPECT_EQ(0, list->names[0][127]);
    // 128 do not fit the enumeration buffer: that slot is empty, the rest listed.
    EXPECT_EQ(HostText(u"<empty>"), SlotText(list, 1));
    EXPECT_EQ(HostText(u"RNDIS"), SlotText(list, 2));
    FreeFunctionList(list);
}

TEST_F(FunctionListTest, ANameReportedAsFillingTheBufferFailsTheBuild)
{
    HostRegTruncateLongNames(true);
    for (size_t length : {128, 200}) {
        SCOPED_TRACE(length);
        HostRegDeleteKey(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY);
        AddClientDrivers({u"RNDIS", HostText(length, u'n')});
        EXPECT_EQ(nullptr, BuildFunctionList());
        EXPECT_EQ(0u, HostLiveBlocks());
        EXPECT_EQ(0, HostOpenKeys());
    }
}

TEST_F(FunctionListTest, AFailedEnumerationLeavesItsSlotEmpty)
{
    AddClientDrivers({u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"});
    HostFailCall(HOST_REG_ENUM_KEY, 2);
    FunctionList* list = BuildFunctionList();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(3u, list->count);
    EXPECT_EQ(HostText(u"Mass_Storage_Class"), SlotText(list, 0));
    EXPECT_EQ(HostText(u"<empty>"), SlotText(list, 1));
    EXPECT_EQ(HostText(u"RNDIS"), SlotText(list, 2));
    FreeFunctionList(list);
}

TEST_F(FunctionListTest, FailuresYieldNothing)
{
    struct Row {
        const char* what;
        std::function<void()> arrange;
    } rows[] = {
        {"key missing", [] {}},
        {"no subkeys", [] { HostRegCreateKey(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY); }},
        {"open fails",
         [] {
             AddClientDrivers({u"RNDIS"});
             HostFailCall(HOST_REG_OPEN_KEY, 1);
         }},
        {"count fails",
         [] {
             AddClientDrivers({u"RNDIS"});
             HostFailCall(HOST_REG_QUERY_INFO, 1);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        row.arrange();
        EXPECT_EQ(nullptr, BuildFunctionList());
        EXPECT_EQ(0, HostOpenKeys());
    }
    FreeFunctionList(NULL);
}

TEST_F(FunctionListTest, EveryFailedAllocationReleasesEverything)
{
    int allocations = SweepAllocations([] { AddClientDrivers({u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"}); },
                                       [](bool failing) {
                                           FunctionList* list = BuildFunctionList();
                                           EXPECT_EQ(failing, list == NULL);
                                           FreeFunctionList(list);
                                       },
                                       [] {
                                           EXPECT_EQ(0u, HostLiveBlocks());
                                           EXPECT_EQ(0, HostOpenKeys());
                                       });
    EXPECT_LT(0, allocations);
}

TEST_F(FunctionListTest, AKeyAddedAfterTheCountIsNotWalked)
{
    AddClientDrivers({u"Serial_Class", u"RNDIS"});
    HostOnSubkeyCount([] { AddClientDrivers({u"Added_During_The_Walk"}); });
    FunctionList* list = BuildFunctionList();
    ASSERT_NE(nullptr, list);
    // As many slots as counted, holding the keys at those indexes, in order.
    ASSERT_EQ(2u, list->count);
    EXPECT_EQ(u"Serial_Class", SlotText(list, 0));
    EXPECT_EQ(u"RNDIS", SlotText(list, 1));
    FreeFunctionList(list);
}
