// The entry point of the build without a C runtime. Platform Builder links
// CE's own startup instead, which passes the wide command line; the program
// takes none, so this one passes an empty one. The process ends with 0.
#include "app/choice_dialog.h"

extern "C" int WINAPI WinMainCRTStartup(void)
{
    WinMain(GetModuleHandleW(NULL), NULL, (LPWSTR)TEXT(""), SW_SHOW);
    return 0;
}
