#include "test_support.h"

#include "selection/function_bus.h"

class FunctionBusTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        AddClientDrivers({u"Mass_Storage_Class", u"Serial_Class"});
        HostSetBus(u"UFN1:");
        memset(slot, 0, sizeof(slot));
        memcpy(slot, u"Serial_Class", 12 * sizeof(WCHAR));
    }

    WCHAR slot[CLIENT_NAME_CHARS];
};

TEST_F(FunctionBusTest, WarnsThenSendsTheWholeSlot)
{
    size_t requestsWhileWarned = 99;
    HostOnMessageBox([&](const HostMessageBox&) { requestsWhileWarned = HostBusRequests().size(); });
    ASSERT_TRUE(ChangeCurrentFunction(slot));
    EXPECT_EQ(0u, requestsWhileWarned) << "the request waits for the warning to be closed";
    ASSERT_EQ(1u, HostMessageBoxes().size());
    const HostMessageBox& warning = HostMessageBoxes()[0];
    EXPECT_EQ(nullptr, warning.owner);
    EXPECT_EQ(HostText(u"Driver Issue...\r\n\n    Remove USB cable now!."), warning.text);
    EXPECT_EQ(HostText(u"USB Palvenor"), warning.caption);
    EXPECT_EQ((UINT)MB_TOPMOST, warning.style);

    ASSERT_EQ(1u, HostBusRequests().size());
    const HostBusRequest& request = HostBusRequests()[0];
    EXPECT_EQ(0x00220010u, request.code);
    ASSERT_EQ(256u, request.input.size());
    EXPECT_EQ(0, memcmp(slot, request.input.data(), 256));
    EXPECT_FALSE(request.hasOutput || request.hasOverlapped);
    EXPECT_TRUE(request.hasBytesReturned) << "required without an overlapped record";
    EXPECT_EQ(0u, request.outputBytes);
    EXPECT_EQ(HostText(u"Serial_Class"), HostCurrentClient());
    EXPECT_EQ(0, HostOpenHandles());
}

TEST_F(FunctionBusTest, EveryFailureReturnsZeroWithHandlesClosed)
{
    struct Row {
        const char* what;
        std::function<void()> arrange;
        size_t requests;
    } rows[] = {
        {"no bus driver", [] { HostRemoveBus(); }, 0},
        {"device search fails", [] { HostFailCall(HOST_FIND_FIRST_DEVICE, 1); }, 0},
        {"bus name does not open", [] { HostFailCall(HOST_CREATE_FILE, 1); }, 0},
        {"request refused", [] { HostSetBusRefuses(true); }, 1},
        {"request fails", [] { HostFailCall(HOST_DEVICE_IO_CONTROL, 1); }, 1},
        // Cut to its field, the name could be another device's.
        {"bus name fills its field, no terminator", [] { HostSetBus(HostText(MAX_PATH, u'B')); }, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        SetUp();
        row.arrange();
        EXPECT_FALSE(ChangeCurrentFunction(slot));
        EXPECT_EQ(1u, HostMessageBoxes().size()) << "the warning comes first, always";
        EXPECT_EQ(row.requests, HostBusRequests().size());
        EXPECT_EQ(0, HostOpenHandles());
        EXPECT_EQ(HostText(), HostCurrentClient());
    }
}

TEST_F(FunctionBusTest, OpenFindsTheBusByItsInterface)
{
    // 259 units end in the field's last unit: a whole name. (260 fill it with
    // no terminator and are refused, above.)
    for (const HostText& name : {HostText(u"UFN1:"), HostText(MAX_PATH - 1, u'B')}) {
        SCOPED_TRACE(name.size());
        HostSetBus(name);
        HANDLE bus = OpenFunctionBus();
        ASSERT_NE(INVALID_HANDLE_VALUE, bus);
        EXPECT_EQ(1, HostOpenHandles()) << "the search is closed, the bus stays open";
        CloseHandle(bus);
    }
    EXPECT_EQ(0u, HostMessageBoxes().size());
}
