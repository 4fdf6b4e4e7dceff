// Arbitrary store records, and counts that change between the two walks,
// into BuildStoreList.
#include "fuzz_support.h"

#include "inventory/store_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    HostReset();
    FuzzStorageManager(input);
    if (input.ConsumeBool())
        HostFailCall((HostCall)input.ConsumeIntegralInRange<int>(0, HOST_CALL_KINDS - 1),
                     input.ConsumeIntegralInRange<int>(1, 20));

    StoreList* list = BuildStoreList();
    FUZZ_REQUIRE(HostOpenStoreSearches() == 0);
    if (list != NULL) {
        FUZZ_REQUIRE(list->count >= 1);
        for (DWORD i = 0; i < list->count; i++) {
            FUZZ_REQUIRE((list->deviceNames[i] == NULL) == (list->storeNames[i] == NULL));
            if (list->deviceNames[i] != NULL) {
                FUZZ_REQUIRE(wcslen(list->deviceNames[i]) <= DEVICENAMESIZE);
                FUZZ_REQUIRE(wcslen(list->storeNames[i]) <= STORENAMESIZE);
            }
        }
    }
    FreeStoreList(list);
    RequireNothingHeld();
    return 0;
}
