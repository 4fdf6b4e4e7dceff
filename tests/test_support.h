#ifndef PALVENOR_TEST_SUPPORT_H
#define PALVENOR_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>

#include "app/choice_dialog.h"
#include "host_control.h"
#include "resources/resource.h"
#include "settings/registry_settings.h"

// The English texts a person meets, as the string table holds them.
#define REMOVE_CABLE_TEXT u"Driver Issue...\r\n\n    Remove USB cable now!."
#define EMPTY_SLOT_TEXT u"(unavailable)"

// Every test starts on an empty machine, with the module's instance as
// WinMain keeps it, and must leave nothing behind.
class HostTest : public testing::Test {
protected:
    void SetUp() override
    {
        HostReset();
        g_hInstance = HostModuleInstance();
    }
    void TearDown() override
    {
        if (IsWindow(dialog))
            DestroyWindow(dialog);
        EXPECT_EQ(0u, HostLiveBlocks()) << "heap blocks left live";
        EXPECT_EQ(0, HostOpenKeys()) << "registry keys left open";
        EXPECT_EQ(0, HostOpenHandles()) << "device handles left open";
        EXPECT_EQ(0, HostOpenStoreSearches()) << "store searches left open";
        EXPECT_EQ(nullptr, g_pStoreList);
        EXPECT_EQ(nullptr, g_pFunctionList);
    }

public:
    HWND dialog = NULL;
};

inline STOREINFO MakeStore(const HostText& deviceName, const HostText& storeName, const HostText& profile = u"SDMMC",
                           DWORD deviceClass = STORAGE_DEVICE_CLASS_BLOCK,
                           DWORD deviceFlags = STORAGE_DEVICE_FLAG_READWRITE)
{
    STOREINFO store;
    memset(&store, 0, sizeof(store));
    store.cbSize = sizeof(store);
    // Names may fill their fields with no terminator, as the platform allows.
    memcpy(store.szDeviceName, deviceName.data(), std::min(deviceName.size(), (size_t)DEVICENAMESIZE) * 2);
    memcpy(store.szStoreName, storeName.data(), std::min(storeName.size(), (size_t)STORENAMESIZE) * 2);
    memcpy(store.sdi.szProfile, profile.data(), std::min(profile.size(), (size_t)PROFILENAMESIZE) * 2);
    store.sdi.dwDeviceClass = deviceClass;
    store.sdi.dwDeviceFlags = deviceFlags;
    return store;
}

inline void AddClientDrivers(std::initializer_list<HostText> names)
{
    for (const HostText& name : names)
        HostRegCreateKey(HKEY_LOCAL_MACHINE, HostText(FUNCTION_DRIVERS_KEY) + u"\\" + name);
}

inline HostText RegistryString(const HostText& path, const HostText& name)
{
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!HostRegGetValue(HKEY_LOCAL_MACHINE, path, name, &type, &bytes) || type != REG_SZ)
        return u"<none>";
    HostText text((const WCHAR*)bytes.data(), bytes.size() / 2);
    return text.substr(0, text.find(u'\0'));
}

// A device with three stores (one the internal flash), three client drivers
// and both current values set, and a bus driver that accepts requests.
inline void InstallDevice()
{
    HostSetStores({MakeStore(u"DSK1:", u"Internal Flash", u"Tulvane"), MakeStore(u"DSK2:", u"SD Card"),
                   MakeStore(u"DSK3:", u"USB Disk", u"USBHDProfile")});
    AddClientDrivers({u"Mass_Storage_Class", u"Serial_Class", u"RNDIS"});
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, u"Serial_Class");
    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, u"DSK3:");
    HostSetBus(u"UFN1:");
}

inline HWND CreateChoiceDialogForTest()
{
    g_hInstance = HostModuleInstance();
    HRSRC resource = FindResourceW(g_hInstance, MAKEINTRESOURCEW(IDD_CHOICE), RT_DIALOG);
    return CreateDialogIndirectParamW(g_hInstance, (LPCDLGTEMPLATEW)LoadResource(g_hInstance, resource), NULL,
                                      ChoiceDialogProc, 0);
}

inline std::vector<HostText> ListItems(HWND dialog, int id)
{
    return HostListItems(GetDlgItem(dialog, id));
}

inline int ListSelection(HWND dialog, int id)
{
    return HostListSelection(GetDlgItem(dialog, id));
}

inline std::vector<HostText> BoxTexts()
{
    std::vector<HostText> texts;
    for (const HostMessageBox& box : HostMessageBoxes())
        texts.push_back(box.text);
    return texts;
}

// Events of the record that start with prefix, in order.
inline std::vector<std::string> EventsStartingWith(const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& event : HostEvents()) {
        if (event.compare(0, prefix.size(), prefix) == 0)
            found.push_back(event);
    }
    return found;
}

// One injected fault: the nth call of kind (1 for the first) fails.
struct Fault {
    HostCall kind;
    int nth;
    bool Is(HostCall k, int n = 0) const { return kind == k && (n == 0 || nth == n); }
};

inline std::vector<HostCall> AllHostCalls()
{
    std::vector<HostCall> kinds;
    for (int kind = 0; kind < HOST_CALL_KINDS; kind++)
        kinds.push_back((HostCall)kind);
    return kinds;
}

// Runs an operation once to count its calls of each kind, then again, after
// a fresh setup, with each of those calls failing in turn. run(fault) does
// the operation and judges it; fault is null on the counting run. Returns
// the number of distinct faults injected.
template <class Setup, class Run>
int SweepFaults(const std::vector<HostCall>& kinds, Setup setup, Run run)
{
    HostReset();
    setup();
    std::vector<int> before;
    for (HostCall kind : kinds)
        before.push_back(HostCallCount(kind));
    run((const Fault*)nullptr);
    std::vector<int> counted;
    for (size_t k = 0; k < kinds.size(); k++)
        counted.push_back(HostCallCount(kinds[k]) - before[k]);
    int injected = 0;
    for (size_t k = 0; k < kinds.size(); k++) {
        int calls = counted[k];
        for (int nth = 1; nth <= calls; nth++) {
            Fault fault{kinds[k], nth};
            SCOPED_TRACE(std::string(HostCallName(fault.kind)) + " call " + std::to_string(nth) + " of " +
                         std::to_string(calls) + " fails");
            HostReset();
            setup();
            HostFailCall(fault.kind, nth);
            run(&fault);
            EXPECT_EQ(1, HostInjectedFailures()) << "the operation made fewer calls than it did unfailed";
            injected++;
        }
    }
    EXPECT_LT(0, injected) << "the operation made no call that can fail";
    return injected;
}

// SweepFaults over allocations only, where every failure ends the same way.
template <class Setup, class Run, class Check>
int SweepAllocations(Setup setup, Run run, Check check)
{
    return SweepFaults({HOST_LOCAL_ALLOC}, setup, [&](const Fault* fault) {
        run(fault != nullptr);
        if (fault != nullptr)
            check();
    });
}

#endif
