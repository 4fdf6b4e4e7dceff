// Arbitrary client-driver subkeys, stores and value bytes: a direct read
// through AccessRegistryString, then the dialog as a person uses it:
// PopulateLists on opening, Refresh, a choice, and OK (ApplySelection).
#include "fuzz_support.h"

#include "app/choice_dialog.h"
#include "inventory/function_list.h"
#include "resources/resource.h"
#include "selection/selection.h"
#include "settings/registry_settings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!HostLoadResourceFile(PALVENOR_RESOURCE_FILE)) {
        fprintf(stderr, "cannot read the compiled resources %s\n", PALVENOR_RESOURCE_FILE);
        exit(1);
    }
    return 0;
}

// A read into a heap block of exactly the capacity offered, so that a write
// past it is caught.
static void ReadWithCapacity(FuzzedDataProvider& input, LPCWSTR subkey, LPCWSTR valueName)
{
    DWORD capacity = input.ConsumeIntegralInRange<DWORD>(0, 600);
    uint8_t* block = (uint8_t*)malloc(capacity + 1);
    DWORD byteCount = capacity;
    if (AccessRegistryString(FALSE, subkey, valueName, (WCHAR*)block, &byteCount))
        FUZZ_REQUIRE(byteCount <= capacity);
    free(block);
    FUZZ_REQUIRE(HostOpenKeys() == 0);
}

static HWND OpenDialog(void)
{
    g_hInstance = HostModuleInstance();
    HRSRC resource = FindResourceW(g_hInstance, MAKEINTRESOURCEW(IDD_CHOICE), RT_DIALOG);
    HGLOBAL dialogTemplate = resource != NULL ? LoadResource(g_hInstance, resource) : NULL;
    if (dialogTemplate == NULL)
        return NULL;
    return CreateDialogIndirectParamW(g_hInstance, (LPCDLGTEMPLATEW)dialogTemplate, NULL, ChoiceDialogProc, 0);
}

// What the list boxes show agrees with the lists behind them.
static void RequireListsAgree(HWND dialog)
{
    HWND storeBox = GetDlgItem(dialog, IDC_STORAGE_LIST);
    HWND functionBox = GetDlgItem(dialog, IDC_FUNCTION_LIST);
    if (g_pStoreList != NULL && HostListItems(storeBox).size() != 0)
        FUZZ_REQUIRE(HostListItems(storeBox).size() == g_pStoreList->count);
    if (g_pFunctionList != NULL && HostListItems(functionBox).size() != 0)
        FUZZ_REQUIRE(HostListItems(functionBox).size() == g_pFunctionList->count);
    FUZZ_REQUIRE(HostListSelection(storeBox) < (int)HostListItems(storeBox).size());
    FUZZ_REQUIRE(HostListSelection(functionBox) < (int)HostListItems(functionBox).size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    HostReset();
    FuzzStorageManager(input);
    HostRegCreateKey(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY);
    std::vector<HostText> drivers(input.ConsumeIntegralInRange<size_t>(0, 12));
    for (HostText& name : drivers) {
        name = FuzzKeyName(input);
        HostRegCreateKey(HKEY_LOCAL_MACHINE, HostText(FUNCTION_DRIVERS_KEY) + u"\\" + name);
    }
    HostRegTruncateLongNames(input.ConsumeBool());
    FuzzValue(input, MASS_STORAGE_KEY, DEVICE_NAME_VALUE);
    FuzzValue(input, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE);
    if (input.ConsumeBool())
        HostSetBus(u"UFN1:");
    HostSetBusRefuses(input.ConsumeBool());

    ReadWithCapacity(input, MASS_STORAGE_KEY, DEVICE_NAME_VALUE);
    ReadWithCapacity(input, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE);

    if (input.ConsumeBool())
        HostFailCall((HostCall)input.ConsumeIntegralInRange<int>(0, HOST_CALL_KINDS - 1),
                     input.ConsumeIntegralInRange<int>(1, 40));
    HWND dialog = OpenDialog();
    if (dialog != NULL) {
        RequireListsAgree(dialog);
        for (int refresh = input.ConsumeIntegralInRange<int>(0, 2); refresh > 0; refresh--) {
            HostClickButton(dialog, IDC_REFRESH);
            RequireListsAgree(dialog);
        }
        HostChooseEntry(dialog, IDC_STORAGE_LIST, input.ConsumeIntegralInRange<int>(-1, 9));
        HostChooseEntry(dialog, IDC_FUNCTION_LIST, input.ConsumeIntegralInRange<int>(-1, 13));
        HostClickButton(dialog, input.ConsumeBool() ? IDOK : IDCANCEL);
        FUZZ_REQUIRE(!IsWindow(dialog));
    }
    FUZZ_REQUIRE(g_pStoreList == NULL && g_pFunctionList == NULL);
    FUZZ_REQUIRE(HostBusRequests().size() <= 1);
    for (const HostBusRequest& request : HostBusRequests())
        FUZZ_REQUIRE(request.input.size() == 256);
    // A switch that happened was recorded first, whole.
    if (!HostCurrentClient().empty()) {
        DWORD type = 0;
        std::vector<BYTE> stored;
        FUZZ_REQUIRE(HostRegGetValue(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE, &type,
                                     &stored));
        FUZZ_REQUIRE(type == REG_SZ && stored.size() == (HostCurrentClient().size() + 1) * 2);
        FUZZ_REQUIRE(memcmp(stored.data(), HostCurrentClient().c_str(), stored.size()) == 0);
    }
    RequireNothingHeld();
    return 0;
}
