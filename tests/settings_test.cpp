#include "test_support.h"

class SettingsTest : public HostTest {};

static std::vector<BYTE> StoredBytes(const HostText& path, const HostText& name, DWORD* type)
{
    std::vector<BYTE> bytes;
    EXPECT_TRUE(HostRegGetValue(HKEY_LOCAL_MACHINE, path, name, type, &bytes));
    return bytes;
}

TEST_F(SettingsTest, ReadDeliversTheValueAndItsLength)
{
    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK2:");
    WCHAR buffer[REGISTRY_TEXT_CHARS];
    DWORD bytes = sizeof(buffer);
    ASSERT_TRUE(AccessRegistryString(FALSE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, buffer, &bytes));
    EXPECT_EQ(12u, bytes);
    EXPECT_EQ(HostText(u"DSK2:"), HostText(buffer));
    EXPECT_EQ(std::vector<std::string>{"RegOpenKeyExW Drivers\\USB\\FunctionDrivers\\Mass_Storage_Class access 983103"},
              EventsStartingWith("RegOpenKeyExW"));
}

TEST_F(SettingsTest, ReadFailuresLeaveTheBufferUntouched)
{
    struct Row {
        const char* what;
        std::function<void()> arrange;
    } rows[] = {
        {"key missing", [] {}},
        {"value missing", [] { HostRegCreateKey(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY); }},
        {"value above 522 bytes",
         [] { HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, HostText(261, u'x')); }},
        {"open fails",
         [] {
             HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK2:");
             HostFailCall(HOST_REG_OPEN_KEY, 1);
         }},
        {"query fails",
         [] {
             HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK2:");
             HostFailCall(HOST_REG_QUERY_VALUE, 1);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        row.arrange();
        WCHAR buffer[REGISTRY_TEXT_CHARS];
        memset(buffer, 0xdd, sizeof(buffer));
        DWORD bytes = sizeof(buffer);
        EXPECT_FALSE(AccessRegistryString(FALSE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, buffer, &bytes));
        EXPECT_EQ(0xdddd, buffer[0]);
        EXPECT_EQ(0, HostOpenKeys());
    }
}

TEST_F(SettingsTest, ReadOfAnotherTypeFails)
{
    for (DWORD type : {REG_DWORD, REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ}) {
        SCOPED_TRACE(type);
        HostRegSetValue(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, type, u"DSK2:", 12);
        WCHAR buffer[REGISTRY_TEXT_CHARS];
        DWORD bytes = sizeof(buffer);
        EXPECT_FALSE(AccessRegistryString(FALSE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, buffer, &bytes));
    }
}

TEST_F(SettingsTest, WriteStoresTheTerminatorAsPartOfTheValue)
{
    HostRegCreateKey(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY);
    ASSERT_TRUE(WriteRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"ABCDEFGH"));
    DWORD type = 0;
    std::vector<BYTE> bytes = StoredBytes(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, &type);
    EXPECT_EQ((DWORD)REG_SZ, type);
    ASSERT_EQ(18u, bytes.size());
    EXPECT_EQ(0, bytes[16] | bytes[17]);
}

TEST_F(SettingsTest, WriteFailuresChangeNothing)
{
    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK2:");
    HostFailCall(HOST_REG_SET_VALUE, 1);
    EXPECT_FALSE(WriteRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK3:"));
    HostFailCall(HOST_REG_OPEN_KEY, 1);
    EXPECT_FALSE(WriteRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK3:"));
    EXPECT_EQ(HostText(u"DSK2:"), RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
    // A missing key is not created.
    EXPECT_FALSE(WriteRegistryText(u"Drivers\\Missing", DEVICE_NAME_VALUE, u"DSK3:"));
    EXPECT_FALSE(HostRegKeyExists(HKEY_LOCAL_MACHINE, u"Drivers\\Missing"));
}

TEST_F(SettingsTest, TextReadIsCutAtTheDeliveredBytes)
{
    struct Row {
        const char* what;
        std::vector<BYTE> stored;
        HostText expected;
    } rows[] = {
        {"terminated", {'A', 0, 'B', 0, 0, 0}, u"AB"},
        {"no terminator", {'A', 0, 'B', 0}, u"AB"},
        {"odd trailing byte", {'A', 0, 'B', 0, 'C'}, u"AB"},
        {"zero unit in the middle", {'A', 0, 0, 0, 'B', 0}, u"A"},
        {"empty", {}, u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostRegSetValue(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, REG_SZ, row.stored.data(),
                        row.stored.size());
        WCHAR text[REGISTRY_TEXT_CHARS + 1];
        memset(text, 0xdd, sizeof(text));
        ASSERT_TRUE(ReadRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, text));
        EXPECT_EQ(row.expected, HostText(text));
    }
    // 522 bytes with no terminator are 261 units of text, still terminated.
    HostText longest(REGISTRY_TEXT_CHARS, u'z');
    HostRegSetValue(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, REG_SZ, longest.data(), 522);
    WCHAR text[REGISTRY_TEXT_CHARS + 1];
    memset(text, 0xdd, sizeof(text));
    ASSERT_TRUE(ReadRegistryText(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, text));
    EXPECT_EQ(longest, HostText(text));
}
