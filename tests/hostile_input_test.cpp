// Hostile inputs from the platform, each taken through the whole dialog: what
// a person sees when it opens, then what OK writes and sends.
#include "test_support.h"

#include "selection/function_bus.h"
#include "selection/selection.h"

namespace {

const HostText WARNING = REMOVE_CABLE_TEXT;
const HostText NO_STORE_CHOSEN = u"Error, selected storage type not found.";
const HostText NO_FUNCTION_FOUND = u"Error in finding USB Function Types.";

// The installed device as a person sees it.
const std::vector<HostText> STORES{u"SD Card", u"USB Disk"};
const std::vector<HostText> FUNCTIONS{u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"};

// The installed device holds DSK3: and Serial_Class. A row states what
// differs from opening it untouched (both lists, USB Disk and Serial_Class
// selected) and then choosing SD Card and Mass_Storage_Class and pressing OK.
struct Row {
    const char* what;
    std::function<void()> arrange; // on top of InstallDevice
    // Seen on opening.
    std::vector<HostText> boxesOnOpen = {};
    std::vector<HostText> stores = STORES, functions = FUNCTIONS;
    int storeSelection = 1, functionSelection = 1;
    // Chosen, then OK: what is written, and sent when the warning came.
    int chooseStore = 0, chooseFunction = 0;
    std::vector<HostText> boxesOnOk = {WARNING};
    HostText deviceName = u"DSK2:", driver = u"Mass_Storage_Class";
};

std::vector<BYTE> Bytes(const HostText& text, size_t bytes)
{
    std::vector<BYTE> data(bytes, 0);
    memcpy(data.data(), text.data(), std::min(bytes, text.size() * 2));
    return data;
}

void SetValueBytes(const HostText& path, const HostText& name, DWORD type, const std::vector<BYTE>& data)
{
    HostRegSetValue(HKEY_LOCAL_MACHINE, path, name, type, data.data(), data.size());
}

std::function<void()> DeviceNameValue(DWORD type, const std::vector<BYTE>& data)
{
    return [=] { SetValueBytes(MASS_STORAGE_KEY, DEVICE_NAME_VALUE, type, data); };
}

std::function<void()> DriverValue(DWORD type, const std::vector<BYTE>& data)
{
    return [=] { SetValueBytes(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, type, data); };
}

std::function<void()> ExtraStore(const STOREINFO& store)
{
    return [=] {
        HostSetStores({MakeStore(u"DSK1:", u"Internal Flash", u"Tulvane"), MakeStore(u"DSK2:", u"SD Card"),
                       MakeStore(u"DSK3:", u"USB Disk", u"USBHDProfile"), store});
    };
}

std::vector<HostText> With(std::vector<HostText> list, const HostText& added)
{
    list.push_back(added);
    return list;
}

const HostText SURROGATES = u"Cam\U0001F4F7ra_Class"; // a camera sign: two units
const HostText NAME_127(127, u'n');
const HostText NAME_128(128, u'n');

std::vector<HostText> ManyDrivers()
{
    std::vector<HostText> names = FUNCTIONS;
    for (int i = 0; i < 5000; i++) {
        char name[16];
        snprintf(name, sizeof(name), "Driver_%04d", i);
        names.push_back(HostText(name, name + strlen(name)));
    }
    return names;
}

} // namespace

class HostileInputTest : public HostTest {};

TEST_F(HostileInputTest, WhatAPersonSeesAndWhatIsWritten)
{
    STOREINFO fullFields = MakeStore(u"ABCDEFGH", HostText(32, u's'));
    STOREINFO flashWithTail = MakeStore(u"DSK4:", u"Flash Tail", u"Tulvane");
    flashWithTail.sdi.szProfile[31] = u'x';
    const std::vector<HostText> manyDrivers = ManyDrivers();
    const std::vector<BYTE> dsk3 = Bytes(u"DSK3:", 10);

    const Row rows[] = {
        // Store records.
        {.what = "device and store names fill their fields, no terminator", .arrange = ExtraStore(fullFields),
         .stores = With(STORES, HostText(32, u's')), .chooseStore = 2, .deviceName = u"ABCDEFGH"},
        {.what = "flash profile with a unit after its terminator", .arrange = ExtraStore(flashWithTail),
         .stores = With(STORES, u"Flash Tail"), .chooseStore = 2, .deviceName = u"DSK4:"},
        {.what = "profile one unit longer", .arrange = ExtraStore(MakeStore(u"DSK4:", u"Longer", u"Tulvanes")),
         .stores = With(STORES, u"Longer"), .chooseStore = 2, .deviceName = u"DSK4:"},
        {.what = "profile one unit shorter", .arrange = ExtraStore(MakeStore(u"DSK4:", u"Shorter", u"Tulvan")),
         .stores = With(STORES, u"Shorter"), .chooseStore = 2, .deviceName = u"DSK4:"},
        {.what = "flags with every other bit, read-write among them",
         .arrange = ExtraStore(MakeStore(u"DSK4:", u"Odd Flags", u"SDMMC", STORAGE_DEVICE_CLASS_BLOCK, 0x55555555)),
         .stores = With(STORES, u"Odd Flags"), .chooseStore = 2, .deviceName = u"DSK4:"},
        {.what = "flags with every other bit, read-write not among them",
         .arrange = ExtraStore(MakeStore(u"DSK4:", u"X", u"SDMMC", STORAGE_DEVICE_CLASS_BLOCK, 0xAAAAAAAA))},
        {.what = "class with every other bit", .arrange = ExtraStore(MakeStore(u"DSK4:", u"X", u"SDMMC", 0x55555555))},
        {.what = "a store disappears between the two walks",
         .arrange = [] { HostOnStoreSearch([](int search) { if (search == 2) HostSetStores({MakeStore(u"DSK2:", u"SD Card")}); }); },
         .stores = {u"SD Card", EMPTY_SLOT_TEXT}, .storeSelection = -1, .chooseStore = 1,
         .boxesOnOk = {NO_STORE_CHOSEN}, .deviceName = u"DSK3:", .driver = u"Serial_Class"},
        {.what = "a store appears between the two walks",
         .arrange = [] { HostOnStoreSearch([](int search) { if (search == 2) ExtraStore(MakeStore(u"DSK4:", u"Late"))(); }); },
         .chooseStore = 1, .chooseFunction = 2, .deviceName = u"DSK3:", .driver = u"RNDIS"},

        // DeviceName and DefaultClientDriver as stored.
        {.what = "DeviceName as REG_DWORD", .arrange = DeviceNameValue(REG_DWORD, {3, 0, 0, 0}), .storeSelection = -1},
        {.what = "DeviceName as REG_BINARY", .arrange = DeviceNameValue(REG_BINARY, dsk3), .storeSelection = -1},
        {.what = "DeviceName as REG_MULTI_SZ", .arrange = DeviceNameValue(REG_MULTI_SZ, Bytes(u"DSK3:", 14)),
         .storeSelection = -1},
        {.what = "DefaultClientDriver as REG_EXPAND_SZ", .arrange = DriverValue(REG_EXPAND_SZ, Bytes(u"Serial_Class", 26)),
         .functionSelection = -1},
        {.what = "DefaultClientDriver as REG_DWORD", .arrange = DriverValue(REG_DWORD, {1, 0, 0, 0}),
         .functionSelection = -1},
        {.what = "DeviceName of 0 bytes", .arrange = DeviceNameValue(REG_SZ, {}), .storeSelection = -1},
        {.what = "DeviceName of 1 byte", .arrange = DeviceNameValue(REG_SZ, {'D'}), .storeSelection = -1},
        {.what = "DeviceName of 2 bytes", .arrange = DeviceNameValue(REG_SZ, Bytes(u"D", 2)), .storeSelection = -1},
        {.what = "DeviceName of 521 bytes, zero-filled", .arrange = DeviceNameValue(REG_SZ, Bytes(u"DSK3:", 521))},
        {.what = "DeviceName of 522 bytes, no terminator",
         .arrange = DeviceNameValue(REG_SZ, Bytes(HostText(261, u'D'), 522)), .storeSelection = -1},
        {.what = "DeviceName of 523 bytes, too large to read", .arrange = DeviceNameValue(REG_SZ, Bytes(u"DSK3:", 523)),
         .storeSelection = -1},
        {.what = "DefaultClientDriver of 4,096 bytes", .arrange = DriverValue(REG_SZ, Bytes(u"RNDIS", 4096)),
         .functionSelection = -1},
        {.what = "DeviceName with an odd byte count", .arrange = DeviceNameValue(REG_SZ, Bytes(u"DSK3:", 11))},
        {.what = "DeviceName with no terminator", .arrange = DeviceNameValue(REG_SZ, dsk3)},
        {.what = "DefaultClientDriver with a zero unit in the middle",
         .arrange = DriverValue(REG_SZ, Bytes(HostText(u"RNDIS\0Serial_Class", 18), 36)), .functionSelection = 2},

        // Client-driver subkeys.
        {.what = "subkey name of 1 character", .arrange = [] { AddClientDrivers({u"A"}); },
         .functions = With(FUNCTIONS, u"A"), .chooseFunction = 3, .driver = u"A"},
        {.what = "subkey name of 127 characters", .arrange = [] { AddClientDrivers({NAME_127}); },
         .functions = With(FUNCTIONS, NAME_127), .chooseFunction = 3, .driver = NAME_127},
        {.what = "subkey name of 128 characters: does not fit a slot", .arrange = [] { AddClientDrivers({NAME_128}); },
         .functions = With(FUNCTIONS, EMPTY_SLOT_TEXT), .chooseFunction = 3,
         .boxesOnOk = {u"Error, selected function type not found."}, .deviceName = u"DSK3:", .driver = u"Serial_Class"},
        {.what = "subkey name of 255 characters", .arrange = [] { AddClientDrivers({HostText(255, u'n')}); },
         .functions = With(FUNCTIONS, EMPTY_SLOT_TEXT)},
        {.what = "a registry that cuts a 128-character name and reports success",
         .arrange = [] { AddClientDrivers({NAME_128}); HostRegTruncateLongNames(true); },
         .boxesOnOpen = {NO_FUNCTION_FOUND}, .stores = {}, .functions = {}, .storeSelection = -1,
         .functionSelection = -1, .boxesOnOk = {NO_STORE_CHOSEN}, .deviceName = u"DSK3:", .driver = u"Serial_Class"},
        {.what = "subkey name with a surrogate pair", .arrange = [] { AddClientDrivers({SURROGATES}); },
         .functions = With(FUNCTIONS, SURROGATES), .chooseFunction = 3, .driver = SURROGATES},
        {.what = "subkey names differing only in case are one key",
         .arrange = [] {
             AddClientDrivers({u"SERIAL_CLASS"});
             HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"sErIaL_cLaSs");
         }},
        {.what = "5,000 client drivers",
         .arrange = [&] {
             for (size_t i = FUNCTIONS.size(); i < manyDrivers.size(); i++)
                 AddClientDrivers({manyDrivers[i]});
             HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"driver_4999");
         },
         .functions = manyDrivers, .functionSelection = 5002, .chooseFunction = 4001, .driver = u"Driver_3998"},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HostReset();
        InstallDevice();
        row.arrange();
        dialog = CreateChoiceDialogForTest();
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(row.boxesOnOpen, BoxTexts());
        EXPECT_EQ(row.stores, ListItems(dialog, IDC_STORAGE_LIST));
        EXPECT_EQ(row.functions, ListItems(dialog, IDC_FUNCTION_LIST));
        EXPECT_EQ(row.storeSelection, ListSelection(dialog, IDC_STORAGE_LIST));
        EXPECT_EQ(row.functionSelection, ListSelection(dialog, IDC_FUNCTION_LIST));

        size_t boxesBefore = HostMessageBoxes().size();
        HostChooseEntry(dialog, IDC_STORAGE_LIST, row.chooseStore);
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, row.chooseFunction);
        HostClickButton(dialog, IDOK);
        std::vector<HostText> boxesOnOk = BoxTexts();
        boxesOnOk.erase(boxesOnOk.begin(), boxesOnOk.begin() + boxesBefore);
        EXPECT_EQ(row.boxesOnOk, boxesOnOk);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(row.deviceName, RegistryString(MASS_STORAGE_KEY, DEVICE_NAME_VALUE));
        EXPECT_EQ(row.driver, RegistryString(FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE));
        if (row.boxesOnOk != std::vector<HostText>{WARNING}) {
            EXPECT_TRUE(HostBusRequests().empty());
        } else {
            ASSERT_EQ(1u, HostBusRequests().size());
            EXPECT_EQ(Bytes(row.driver + u'\0', 256), HostBusRequests()[0].input);
            EXPECT_EQ(row.driver, HostCurrentClient());
        }
        EXPECT_EQ(0u, HostLiveBlocks());
        EXPECT_EQ(0, HostOpenKeys());
    }
}
