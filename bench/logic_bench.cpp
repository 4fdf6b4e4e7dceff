// The inventories and the fill on the host stand-in, at 10 to 10,000
// entries: time per entry, and the peak of live heap bytes against the least
// the lists can take.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/choice_dialog.h"
#include "host_control.h"
#include "inventory/function_list.h"
#include "inventory/store_list.h"
#include "resources/resource.h"
#include "selection/selection.h"
#include "settings/registry_settings.h"

static HostText Numbered(const char* format, int number)
{
    char text[32];
    snprintf(text, sizeof(text), format, number);
    return HostText(text, text + strlen(text));
}

// n client drivers, mass storage's among them, the last the default.
static void InstallClientDrivers(int n)
{
    HostRegCreateKey(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY);
    for (int i = 1; i < n; i++)
        HostRegCreateKey(HKEY_LOCAL_MACHINE, HostText(FUNCTION_DRIVERS_KEY) + u"\\" + Numbered("Driver_%05d", i));
    HostRegSetString(HKEY_LOCAL_MACHINE, FUNCTION_DRIVERS_KEY, DEFAULT_CLIENT_DRIVER_VALUE,
                     Numbered("Driver_%05d", n - 1));
}

// n exposable stores, the last of them the one exposed.
static void InstallStores(int n)
{
    std::vector<STOREINFO> stores(n);
    for (int i = 0; i < n; i++) {
        STOREINFO& store = stores[i];
        memset(&store, 0, sizeof(store));
        store.cbSize = sizeof(store);
        HostText device = Numbered("D%05d:", i), name = Numbered("Store %05d", i);
        memcpy(store.szDeviceName, device.data(), device.size() * 2);
        memcpy(store.szStoreName, name.data(), name.size() * 2);
        memcpy(store.sdi.szProfile, u"SDMMC", 10);
        store.sdi.dwDeviceClass = STORAGE_DEVICE_CLASS_BLOCK;
        store.sdi.dwDeviceFlags = STORAGE_DEVICE_FLAG_READWRITE;
    }
    HostSetStores(stores);
    HostRegSetString(HKEY_LOCAL_MACHINE, MASS_STORAGE_KEY, DEVICE_NAME_VALUE, Numbered("D%05d:", n - 1));
}

static size_t LeastFunctionListBytes(size_t n)
{
    return sizeof(FunctionList) + n * sizeof(WCHAR*) + n * CLIENT_NAME_CHARS * sizeof(WCHAR);
}

static size_t LeastStoreListBytes(size_t n)
{
    return sizeof(StoreList) + 2 * n * sizeof(WCHAR*) + n * (DEVICENAMESIZE + 1 + STORENAMESIZE + 1) * sizeof(WCHAR);
}

// Runs operation once more to find its peak of live bytes, and reports it
// with the least and the time per entry. The lists are the only blocks, so
// a Refresh's peak counts the old lists still live while the new are built.
template <class Operation>
static void Report(benchmark::State& state, size_t entries, size_t leastBytes, Operation operation)
{
    HostResetPeakLiveBytes();
    operation();
    state.counters["peak_bytes"] = (double)HostPeakLiveBytes();
    state.counters["least_bytes"] = (double)leastBytes;
    state.SetItemsProcessed((int64_t)(state.iterations() * entries));
}

// One inventory built and released: n entries installed by install.
template <class List>
static void BenchBuilder(benchmark::State& state, void (*install)(int), List* (*build)(void), void (*release)(List*),
                         size_t (*leastBytes)(size_t))
{
    int n = (int)state.range(0);
    HostReset();
    HostRecordEvents(false);
    install(n);
    for (auto _ : state) {
        List* list = build();
        benchmark::DoNotOptimize(list);
        release(list);
    }
    Report(state, n, leastBytes(n), [&] { release(build()); });
}

static void BM_BuildFunctionList(benchmark::State& state)
{
    BenchBuilder(state, InstallClientDrivers, BuildFunctionList, FreeFunctionList, LeastFunctionListBytes);
}

static void BM_BuildStoreList(benchmark::State& state)
{
    BenchBuilder(state, InstallStores, BuildStoreList, FreeStoreList, LeastStoreListBytes);
}

// A rebuild on an open dialog, n client drivers and n stores, 2n entries:
// Refresh, or the rebuild a device change causes, the person's choices (the
// first entries) kept.
static void BenchRebuild(benchmark::State& state, BOOL (*rebuild)(HWND))
{
    int n = (int)state.range(0);
    HostReset();
    HostRecordEvents(false);
    InstallClientDrivers(n);
    InstallStores(n);
    g_hInstance = HostModuleInstance();
    HRSRC resource = FindResourceW(g_hInstance, MAKEINTRESOURCEW(IDD_CHOICE), RT_DIALOG);
    HWND dialog = CreateDialogIndirectParamW(g_hInstance, (LPCDLGTEMPLATEW)LoadResource(g_hInstance, resource), NULL,
                                             ChoiceDialogProc, 0);
    if (dialog == NULL || HostListSelection(GetDlgItem(dialog, IDC_FUNCTION_LIST)) != n - 1) {
        state.SkipWithError("the dialog did not open with the last driver selected");
        return;
    }
    HostChooseEntry(dialog, IDC_STORAGE_LIST, 0);
    HostChooseEntry(dialog, IDC_FUNCTION_LIST, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(rebuild(dialog));
    }
    Report(state, 2 * (size_t)n, LeastFunctionListBytes(n) + LeastStoreListBytes(n), [&] { rebuild(dialog); });
    if (HostListSelection(GetDlgItem(dialog, IDC_FUNCTION_LIST)) != (rebuild == PopulateLists ? n - 1 : 0))
        state.SkipWithError("the rebuild selected another driver");
    DestroyWindow(dialog);
}

static void BM_PopulateLists(benchmark::State& state)
{
    BenchRebuild(state, PopulateLists);
}

static void BM_FollowDevice(benchmark::State& state)
{
    BenchRebuild(state, FollowDevice);
}

BENCHMARK(BM_BuildFunctionList)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_BuildStoreList)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_PopulateLists)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_FollowDevice)->RangeMultiplier(10)->Range(10, 10000);

int main(int argc, char** argv)
{
    // glibc would hand the freed lists back to the system after each run and
    // fault the pages in again in the next, a cost of the host's heap that
    // grows with the list; keep them, as a device's heap does.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    if (!HostLoadResourceFile(PALVENOR_RESOURCE_FILE)) {
        fprintf(stderr, "cannot read the compiled resources %s\n", PALVENOR_RESOURCE_FILE);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
