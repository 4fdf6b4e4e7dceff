// Drives the real palvenor.exe under Wine as a person would: starts it, reads
// and chooses in its lists, presses its buttons and keys, answers its message
// boxes, then checks the registry, the emulated bus and the exit code.
//
//   driver.exe <repository> <palvenor.exe> [scenario ...]   (none: all)
//   driver.exe --list   (the scenarios' names)
//   driver.exe --walkthrough <repository> <palvenor.exe> <screenshot folder>
//   driver.exe --control-panel <repository> <screenshot folder>
//   driver.exe --screen-fit <repository> <palvenor.exe>
//   driver.exe --screen-turns <repository> <palvenor.exe>
//   driver.exe --wait-foreground <caption>
//   driver.exe --centre <caption> <control id>
//   driver.exe --timings <repository> <palvenor.exe> <minimal_dialog.exe> <runs>
#include "support.h"

#include <stdio.h>
#include <stdlib.h>

int RunScenarios(int count, wchar_t** names);   // scenarios.cpp
int ListScenarios(void);                        // scenarios.cpp
int Walkthrough(const Text& shots);             // walkthrough.cpp
int Timings(const Text& minimal, int runs);     // timings.cpp
int ControlPanelWalkthrough(const Text& shots); // walkthrough.cpp
int ScreenFit(void);                            // screen.cpp
int ScreenTurns(void);                          // screen.cpp
int WaitForeground(const Text& caption);        // walkthrough.cpp
int PrintCentre(const Text& caption, int id);   // walkthrough.cpp

// A crash in the driver, or in a DLL it loaded (coredll.dll, the applet),
// ends the run at once, naming the scenario it happened in.
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception)
{
    Fail(__FILE__, __LINE__, "the driver crashed: exception 0x%08lX at %p", exception->ExceptionRecord->ExceptionCode,
         exception->ExceptionRecord->ExceptionAddress);
    return EXCEPTION_EXECUTE_HANDLER;
}

int wmain(int argc, wchar_t** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    SetUnhandledExceptionFilter(ReportCrash);
    if (argc == 5 && lstrcmpW(argv[1], L"--walkthrough") == 0) {
        g_repository = argv[2];
        g_palvenor = argv[3];
        return Walkthrough(argv[4]);
    }
    if (argc == 2 && lstrcmpW(argv[1], L"--list") == 0)
        return ListScenarios();
    if (argc == 4 && lstrcmpW(argv[1], L"--control-panel") == 0) {
        g_repository = argv[2];
        return ControlPanelWalkthrough(argv[3]);
    }
    if (argc == 3 && lstrcmpW(argv[1], L"--wait-foreground") == 0)
        return WaitForeground(argv[2]);
    if (argc == 4 && lstrcmpW(argv[1], L"--centre") == 0)
        return PrintCentre(argv[2], _wtoi(argv[3]));
    if (argc == 4 && lstrcmpW(argv[1], L"--screen-fit") == 0) {
        g_repository = argv[2];
        g_palvenor = argv[3];
        return ScreenFit();
    }
    if (argc == 4 && lstrcmpW(argv[1], L"--screen-turns") == 0) {
        g_repository = argv[2];
        g_palvenor = argv[3];
        return ScreenTurns();
    }
    if (argc == 6 && lstrcmpW(argv[1], L"--timings") == 0) {
        g_repository = argv[2];
        g_palvenor = argv[3];
        return Timings(argv[4], _wtoi(argv[5]));
    }
    if (argc < 3) {
        printf("usage: driver.exe <repository> <palvenor.exe> [scenario ...]\n"
               "       driver.exe --list\n"
               "       driver.exe --timings <repository> <palvenor.exe> <minimal_dialog.exe> <runs>\n"
               "       driver.exe --walkthrough <repository> <palvenor.exe> <screenshot folder>\n"
               "       driver.exe --control-panel <repository> <screenshot folder>\n"
               "       driver.exe --screen-fit <repository> <palvenor.exe>\n"
               "       driver.exe --screen-turns <repository> <palvenor.exe>\n"
               "       driver.exe --wait-foreground <caption>\n"
               "       driver.exe --centre <caption> <control id>\n");
        return 2;
    }
    g_repository = argv[1];
    g_palvenor = argv[2];

    return RunScenarios(argc - 3, argv + 3);
}
