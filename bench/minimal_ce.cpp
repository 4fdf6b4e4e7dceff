// The minimal dialog as a CE program, built as palvenor.exe is: no C
// runtime, COREDLL and COMMCTRL only.
#include "minimal_dialog.h"

extern "C" int WINAPI WinMainCRTStartup(void)
{
    RunMinimalDialog(GetModuleHandleW(NULL));
    return 0;
}
