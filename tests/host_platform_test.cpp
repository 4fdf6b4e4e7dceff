// The stand-in's own rules, where the system's tests rely on them being the
// real platform's.
#include "test_support.h"

class HostPlatformTest : public HostTest {};

TEST_F(HostPlatformTest, SubkeyEnumerationFollowsTheLengthRules)
{
    AddClientDrivers({u"abc"});
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"drivers\\usb\\FUNCTIONDRIVERS", 0, 0, &key));
    WCHAR name[8];
    DWORD length = 3; // no room for the terminator
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(key, 0, name, &length, NULL, NULL, NULL, NULL));
    length = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 0, name, &length, NULL, NULL, NULL, NULL));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(HostText(u"abc"), HostText(name));
    length = 8;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(key, 1, name, &length, NULL, NULL, NULL, NULL));
    RegCloseKey(key);
}

TEST_F(HostPlatformTest, ValuesThatDoNotFitAreNotDelivered)
{
    HostRegSetString(HKEY_LOCAL_MACHINE, u"K", u"V", u"abc");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"k", 0, KEY_ALL_ACCESS, &key));
    BYTE data[8];
    memset(data, 0xdd, sizeof(data));
    DWORD type = REG_NONE, bytes = 7;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, u"v", NULL, &type, data, &bytes));
    EXPECT_EQ(8u, bytes);
    EXPECT_EQ(0xdd, data[0]);
    RegCloseKey(key);
}

TEST_F(HostPlatformTest, ScanReportsWhatItConverted)
{
    unsigned int a = 0, b = 0;
    EXPECT_EQ(2, swscanf(u"1F-ab", u"%02x-%02x", &a, &b));
    EXPECT_EQ(0x1Fu, a);
    EXPECT_EQ(0xABu, b);
    EXPECT_EQ(2, swscanf(u"123", u"%02x%02x", &a, &b)) << "widths bound the digits";
    EXPECT_EQ(0x12u, a);
    EXPECT_EQ(0x3u, b);
    EXPECT_EQ(1, swscanf(u"12-", u"%02x%02x", &a, &b));
    EXPECT_EQ(0, swscanf(u"zz", u"%02x", &a));
    EXPECT_EQ(-1, swscanf(u"", u"%02x", &a));
}

using HostPlatformDeathTest = HostPlatformTest;

TEST_F(HostPlatformDeathTest, MisusedResourcesStopTheRun)
{
    EXPECT_DEATH(LocalFree((HLOCAL)0x1234), "not a live block");
    EXPECT_DEATH(RegCloseKey((HKEY)0x1234), "not open");
    EXPECT_DEATH(CloseHandle((HANDLE)0x1234), "not an open handle");
    EXPECT_DEATH(FindCloseStore((HANDLE)0x1234), "not an open store search");
    EXPECT_DEATH(
        {
            MSG msg;
            GetMessageW(&msg, NULL, 0, 0);
        },
        "wait forever");
}
