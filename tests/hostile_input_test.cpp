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

struct Row {
    const char* what;
    std::function<void()> arrange; // on top of InstallDevice
    // Seen on opening.
    std::vector<HostText> boxesOnOpen;
    std::vector<HostText> stores, functions;
    int storeSelection, functionSelection;
    // Chosen, then OK.
    int chooseStore, chooseFunction;
    std::vector<HostText> boxesOnOk;
    HostText deviceName, driver, requested;
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
        {"device and store names fill their fields, no terminator", ExtraStore(fullFields), {},
         With(STORES, HostText(32, u's')), FUNCTIONS, 1, 1, 2, 0, {WARNING}, u"ABCDEFGH", u"Mass_Storage_Class",
         u"Mass_Storage_Class"},
        {"flash profile with a unit after its terminator", ExtraStore(flashWithTail), {},
         With(STORES, u"Flash Tail"), FUNCTIONS, 1, 1, 2, 1, {WARNING}, u"DSK4:", u"Serial_Class", u"Serial_Class"},
        {"profile one unit longer", ExtraStore(MakeStore(u"DSK4:", u"Longer", u"Tulvanes")), {},
         With(STORES, u"Longer"), FUNCTIONS, 1, 1, 2, 1, {WARNING}, u"DSK4:", u"Serial_Class", u"Serial_Class"},
        {"profile one unit shorter", ExtraStore(MakeStore(u"DSK4:", u"Shorter", u"Tulvan")), {},
         With(STORES, u"Shorter"), FUNCTIONS, 1, 1, 2, 1, {WARNING}, u"DSK4:", u"Serial_Class", u"Serial_Class"},
        {"flags with every other bit, read-write among them",
         ExtraStore(MakeStore(u"DSK4:", u"Odd Flags", u"SDMMC", STORAGE_DEVICE_CLASS_BLOCK, 0x55555555)), {},
         With(STORES, u"Odd Flags"), FUNCTIONS, 1, 1, 2, 1, {WARNING}, u"DSK4:", u"Serial_Class", u"Serial_Class"},
        {"flags with every other bit, read-write not among them",
         ExtraStore(MakeStore(u"DSK4:", u"X", u"SDMMC", STORAGE_DEVICE_CLASS_BLOCK, 0xAAAAAAAA)), {}, STORES,
         FUNCTIONS, 1, 1, 0, 1, {WARNING}, u"DSK2:", u"Serial_Class", u"Serial_Class"},
        {"class with every other bit", ExtraStore(MakeStore(u"DSK4:", u"X", u"SDMMC", 0x55555555)), {}, STORES,
         FUNCTIONS, 1, 1, 0, 1, {WARNING}, u"DSK2:", u"Serial_Class", u"Serial_Class"},
        {"a store disappears between the two walks",
         [] { HostOnStoreSearch([](int search) { if (search == 2) HostSetStores({MakeStore(u"DSK2:", u"SD Card")}); }); },
         {}, {u"SD Card", EMPTY_SLOT_TEXT}, FUNCTIONS, -1, 1, 1, 1, {NO_STORE_CHOSEN}, u"DSK3:", u"Serial_Class", u""},
        {"a store appears between the two walks",
         [] {
             HostOnStoreSearch([](int search) {
                 if (search == 2)
                     ExtraStore(MakeStore(u"DSK4:", u"Late"))();
             });
         },
         {}, STORES, FUNCTIONS, 1, 1, 1, 2, {WARNING}, u"DSK3:", u"RNDIS", u"RNDIS"},

        // DeviceName and DefaultClientDriver as stored.
        {"DeviceName as REG_DWORD", DeviceNameValue(REG_DWORD, {3, 0, 0, 0}), {}, STORES, FUNCTIONS, -1, 1, 0, 0,
         {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},
        {"DeviceName as REG_BINARY", DeviceNameValue(REG_BINARY, dsk3), {}, STORES, FUNCTIONS, -1, 1, 0, 0,
         {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},
        {"DeviceName as REG_MULTI_SZ", DeviceNameValue(REG_MULTI_SZ, Bytes(u"DSK3:", 14)), {}, STORES, FUNCTIONS,
         -1, 1, 0, 0, {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},
        {"DefaultClientDriver as REG_EXPAND_SZ", DriverValue(REG_EXPAND_SZ, Bytes(u"Serial_Class", 26)), {},
         STORES, FUNCTIONS, 1, -1, 0, 0, {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},
        {"DefaultClientDriver as REG_DWORD", DriverValue(REG_DWORD, {1, 0, 0, 0}), {}, STORES, FUNCTIONS, 1, -1, 1,
         2, {WARNING}, u"DSK3:", u"RNDIS", u"RNDIS"},
        {"DeviceName of 0 bytes", DeviceNameValue(REG_SZ, {}), {}, STORES, FUNCTIONS, -1, 1, 1, 1, {WARNING},
         u"DSK3:", u"Serial_Class", u"Serial_Class"},
        {"DeviceName of 1 byte", DeviceNameValue(REG_SZ, {'D'}), {}, STORES, FUNCTIONS, -1, 1, 1, 1, {WARNING},
         u"DSK3:", u"Serial_Class", u"Serial_Class"},
        {"DeviceName of 2 bytes", DeviceNameValue(REG_SZ, Bytes(u"D", 2)), {}, STORES, FUNCTIONS, -1, 1, 1, 1,
         {WARNING}, u"DSK3:", u"Serial_Class", u"Serial_Class"},
        {"DeviceName of 521 bytes, zero-filled", DeviceNameValue(REG_SZ, Bytes(u"DSK3:", 521)), {}, STORES,
         FUNCTIONS, 1, 1, 0, 1, {WARNING}, u"DSK2:", u"Serial_Class", u"Serial_Class"},
        {"DeviceName of 522 bytes, no terminator", DeviceNameValue(REG_SZ, Bytes(HostText(261, u'D'), 522)), {},
         STORES, FUNCTIONS, -1, 1, 0, 1, {WARNING}, u"DSK2:", u"Serial_Class", u"Serial_Class"},
        {"DeviceName of 523 bytes, too large to read", DeviceNameValue(REG_SZ, Bytes(u"DSK3:", 523)), {}, STORES,
         FUNCTIONS, -1, 1, 0, 1, {WARNING}, u"DSK2:", u"Serial_Class", u"Serial_Class"},
        {"DefaultClientDriver of 4,096 bytes", DriverValue(REG_SZ, Bytes(u"RNDIS", 4096)), {}, STORES, FUNCTIONS, 1,
         -1, 0, 2, {WARNING}, u"DSK2:", u"RNDIS", u"RNDIS"},
        {"DeviceName with an odd byte count", DeviceNameValue(REG_SZ, Bytes(u"DSK3:", 11)), {}, STORES, FUNCTIONS,
         1, 1, 0, 0, {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},
        {"DeviceName with no terminator", DeviceNameValue(REG_SZ, dsk3), {}, STORES, FUNCTIONS, 1, 1, 0, 0,
         {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},
        {"DefaultClientDriver with a zero unit in the middle",
         DriverValue(REG_SZ, Bytes(HostText(u"RNDIS\0Serial_Class", 18), 36)), {}, STORES, FUNCTIONS, 1, 2, 0, 0,
         {WARNING}, u"DSK2:", u"Mass_Storage_Class", u"Mass_Storage_Class"},

        // Client-driver subkeys.
        {"subkey name of 1 character", [] { AddClientDrivers({u"A"}); }, {}, STORES, With(FUNCTIONS, u"A"), 1, 1,
         0, 3, {WARNING}, u"DSK2:", u"A", u"A"},
        {"subkey name of 127 characters", [] { AddClientDrivers({NAME_127}); }, {}, STORES,
         With(FUNCTIONS, NAME_127), 1, 1, 0, 3, {WARNING}, u"DSK2:", NAME_127, NAME_127},
        {"subkey name of 128 characters: does not fit a slot", [] { AddClientDrivers({NAME_128}); }, {}, STORES,
         With(FUNCTIONS, EMPTY_SLOT_TEXT), 1, 1, 0, 3, {u"Error, selected function type not found."}, u"DSK3:",
         u"Serial_Class", u""},
        {"subkey name of 255 characters", [] { AddClientDrivers({HostText(255, u'n')}); }, {}, STORES,
         With(FUNCTIONS, EMPTY_SLOT_TEXT), 1, 1, 1, 0, {WARNING}, u"DSK3:", u"Mass_Storage_Class",
         u"Mass_Storage_Class"},
        {"a registry that cuts a 128-character name and reports success",
         [] {
             AddClientDrivers({NAME_128});
             HostRegTruncateLongNames(true);
         },
         {NO_FUNCTION_FOUND}, {}, {}, -1, -1, 0, 0, {NO_STORE_CHOSEN}, u"DSK3:", u"Serial_Class", u""},
        {"subkey name with a surrogate pair", [] { AddClientDrivers({SURROGATES}); }, {}, STORES,
         With(FUNCTIONS, SURROGATES), 1, 1, 0, 3, {WARNING}, u"DSK2:", SURROGATES, SURROGATES},
        {"subkey names differing only in case are one key",
         [] {
             AddClientDrivers({u"SERIAL_CLASS"});
             HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"sErIaL_cLaSs");
         },
         {}, STORES, FUNCTIONS, 1, 1, 1, 1, {WARNING}, u"DSK3:", u"Serial_Class", u"Serial_Class"},
        {"5,000 client drivers",
         [&] {
             for (size_t i = FUNCTIONS.size(); i < manyDrivers.size(); i++)
                 AddClientDrivers({manyDrivers[i]});
             HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"driver_4999");
         },
         {}, STORES, manyDrivers, 1, 5002, 0, 4001, {WARNING}, u"DSK2:", u"Driver_3998", u"Driver_3998"},
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
        if (row.requested.empty()) {
            EXPECT_TRUE(HostBusRequests().empty());
        } else {
            ASSERT_EQ(1u, HostBusRequests().size());
            EXPECT_EQ(Bytes(row.requested + u'\0', 256), HostBusRequests()[0].input);
            EXPECT_EQ(row.requested, HostCurrentClient());
        }
        EXPECT_EQ(0u, HostLiveBlocks());
        EXPECT_EQ(0, HostOpenKeys());
    }
}
