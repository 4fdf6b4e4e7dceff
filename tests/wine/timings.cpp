// Start-up and Refresh timings for bench/run: palvenor.exe against the
// minimal dialog program, on the default and the large device.
#include "support.h"

#include <stdio.h>

static double Since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

// How long palvenor is watched while nothing changes.
static const DWORD IDLE_MS = 3000;

// Kernel and user time of a process, in ms.
static double ProcessorMs(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return 0;
    ULONGLONG units = ((ULONGLONG)kernel.dwHighDateTime << 32 | kernel.dwLowDateTime) +
                      ((ULONGLONG)user.dwHighDateTime << 32 | user.dwLowDateTime);
    return units / 10000.0;
}

static bool ListsFilled(HWND dialog)
{
    return SendMessageW(GetDlgItem(dialog, IDC_STORAGE_LIST), LB_GETCOUNT, 0, 0) > 0 &&
           SendMessageW(GetDlgItem(dialog, IDC_FUNCTION_LIST), LB_GETCOUNT, 0, 0) > 0;
}

// Starts program and times it from the process start to its dialog visible
// (with both lists filled, for palvenor). Prints "startup <label> <ms>" and,
// for palvenor, "populate <label> <ms>": from the dialog's window first seen,
// still hidden, to visible. Leaves the program running in *app.
static bool TimeStartup(const Text& program, const wchar_t* caption, bool isPalvenor, const char* label, Palvenor* app)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!Launch(program.c_str(), L"\"" + program + L"\"", &app->process)) {
        Fail(__FILE__, __LINE__, "%s did not start (error %lu)", Narrow(program).c_str(), GetLastError());
        return false;
    }
    double hiddenSeen = -1;
    for (;;) {
        std::vector<HWND> windows = FindWindows(*app, caption);
        if (!windows.empty() && hiddenSeen < 0)
            hiddenSeen = Since(start);
        if (!windows.empty() && IsWindowVisible(windows[0]) && (!isPalvenor || ListsFilled(windows[0]))) {
            app->dialog = windows[0];
            double visible = Since(start);
            printf("startup %s %.2f\n", label, visible);
            if (isPalvenor)
                printf("populate %s %.2f\n", label, visible - hiddenSeen);
            return true;
        }
        if (Since(start) > WAIT_MS || WaitForSingleObject(app->process.hProcess, 0) == WAIT_OBJECT_0) {
            Fail(__FILE__, __LINE__, "%s showed no dialog", Narrow(program).c_str());
            return false;
        }
        Sleep(1);
    }
}

// Start-up of palvenor and of the minimal dialog program, interleaved, on
// the default device and on the large one; then Refresh on the large one.
int Timings(const Text& minimal, int runs)
{
    g_scenario = "timings";
    const wchar_t* minimalCaption = L"Minimal Dialog";
    for (int device = 0; device < 2; device++) {
        if (device == 0)
            ImportDevice({L"devices\\default.reg"});
        else
            ImportLargeDevice();
        const char* name = device == 0 ? "default" : "large";
        // The first run of each warms the prefix and is not counted.
        for (int run = 0; run <= runs && g_failures == 0; run++) {
            for (int program = 0; program < 2; program++) {
                Palvenor app;
                std::string label = std::string(name) + (program == 0 ? " palvenor" : " minimal");
                if (run == 0)
                    label = "warm-up";
                bool shown = program == 0 ? TimeStartup(g_palvenor, TITLE, true, label.c_str(), &app)
                                          : TimeStartup(minimal, minimalCaption, false, label.c_str(), &app);
                if (shown)
                    PostMessageW(app.dialog, WM_COMMAND, IDCANCEL, 0);
                ExpectExit(&app);
            }
        }
    }
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        for (int run = 0; run <= runs; run++) {
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            Refresh(app.dialog);
            double took = Since(start);
            if (run > 0)
                printf("refresh large %.2f\n", took);
        }
        CHECK(ListsFilled(app.dialog), "the lists are empty after Refresh");
        // A card put in and taken out: from the change to the list showing it.
        for (int run = 0; run <= runs; run++) {
            for (bool putIn : {true, false}) {
                LARGE_INTEGER start;
                QueryPerformanceCounter(&start);
                if (putIn)
                    PutCardIn(L"6 Card", L"DSK6:", L"Camera Card");
                else
                    TakeCardOut(L"6 Card");
                CHECK(WaitUntil([&] { return StoreListed(app.dialog, L"Camera Card") == putIn; }),
                      "the card %s did not show", putIn ? "put in" : "taken out");
                double took = Since(start);
                if (run > 0)
                    printf("%s large %.2f\n", putIn ? "card-in" : "card-out", took);
            }
        }
        // The processor time palvenor takes while nothing changes.
        for (int run = 0; run < 2; run++) {
            double before = ProcessorMs(app.process.hProcess);
            Sleep(IDLE_MS);
            if (run > 0)
                printf("idle-cpu large %.2f\n", ProcessorMs(app.process.hProcess) - before);
        }
        Press(app.dialog, IDCANCEL);
    }
    ExpectExit(&app);
    return g_failures == 0 ? 0 : 1;
}

