// The minimal dialog as a desktop program: the C runtime's startup, the
// system's DLLs.
#include "minimal_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunMinimalDialog(instance);
}
