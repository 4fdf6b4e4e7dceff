// Shared by the fuzz targets: turning fuzzer bytes into platform records,
// and the checks every run must pass.
#ifndef PALVENOR_FUZZ_SUPPORT_H
#define PALVENOR_FUZZ_SUPPORT_H

#include <fuzzer/FuzzedDataProvider.h>

#include <stdio.h>
#include <stdlib.h>

#include "host_control.h"

// A violated rule ends the run as a crash, which libFuzzer reports and saves.
#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: rule broken: %s\n", __FILE__, __LINE__, #condition);          \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// A store record of arbitrary bytes; when exposable is set, the fields the
// filter reads are made to pass it, so that runs reach the name copies.
inline STOREINFO FuzzStore(FuzzedDataProvider& input)
{
    STOREINFO store;
    memset(&store, 0, sizeof(store));
    bool exposable = input.ConsumeBool();
    std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, sizeof(store)));
    if (!bytes.empty())
        memcpy(&store, bytes.data(), bytes.size());
    if (exposable) {
        store.sdi.dwDeviceClass = STORAGE_DEVICE_CLASS_BLOCK;
        store.sdi.dwDeviceFlags |= STORAGE_DEVICE_FLAG_READWRITE;
    }
    return store;
}

inline std::vector<STOREINFO> FuzzStores(FuzzedDataProvider& input)
{
    std::vector<STOREINFO> stores(input.ConsumeIntegralInRange<size_t>(0, 8));
    for (STOREINFO& store : stores)
        store = FuzzStore(input);
    return stores;
}

// The stores, and a second set the storage manager reports from the second
// search on, when the input asks for a change between the walks.
inline void FuzzStorageManager(FuzzedDataProvider& input)
{
    HostSetStores(FuzzStores(input));
    if (input.ConsumeBool()) {
        std::vector<STOREINFO> later = FuzzStores(input);
        HostOnStoreSearch([later](int search) {
            if (search >= 2)
                HostSetStores(later);
        });
    }
}

inline HostText FuzzText(FuzzedDataProvider& input, size_t maxUnits)
{
    size_t units = input.ConsumeIntegralInRange<size_t>(0, maxUnits);
    std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(units * 2);
    HostText text(bytes.size() / 2, u'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data(), text.size() * 2);
    return text;
}

// A registry key name: never empty, no zero unit and no backslash, which a
// name cannot hold.
inline HostText FuzzKeyName(FuzzedDataProvider& input)
{
    HostText name = FuzzText(input, 300);
    for (char16_t& unit : name) {
        if (unit == 0 || unit == u'\\')
            unit = u'_';
    }
    return name.empty() ? HostText(u"K") : name;
}

// Arbitrary type and bytes, or no value at all.
inline void FuzzValue(FuzzedDataProvider& input, const HostText& path, const HostText& name)
{
    if (!input.ConsumeBool())
        return;
    DWORD type = input.ConsumeBool() ? REG_SZ : input.ConsumeIntegralInRange<DWORD>(0, 11);
    std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 1100));
    HostRegSetValue(HKEY_LOCAL_MACHINE, path, name, type, bytes.data(), bytes.size());
}

// Nothing acquired outlives the operation.
inline void RequireNothingHeld(void)
{
    FUZZ_REQUIRE(HostLiveBlocks() == 0);
    FUZZ_REQUIRE(HostOpenKeys() == 0);
    FUZZ_REQUIRE(HostOpenHandles() == 0);
    FUZZ_REQUIRE(HostOpenStoreSearches() == 0);
}

#endif
