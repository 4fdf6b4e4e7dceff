// The entry point of the build without a C runtime. Platform Builder links
// CE's own startup instead, which does the same: WinMain gets the module and
// the wide command line, and the process ends with 0.
#include "app/choice_dialog.h"

extern "C" int WINAPI WinMainCRTStartup(void)
{
    WinMain(GetModuleHandleW(NULL), NULL, GetCommandLineW(), SW_SHOW);
    return 0;
}
