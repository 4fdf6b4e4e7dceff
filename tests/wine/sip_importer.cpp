// A program that imports SipGetInfo from coredll.dll, as one built against
// an SDK with the input panel does. CE does not load it on an image without
// the panel; where it loads, it calls it and exits 0, whatever the answer.
#include <windows.h>

#include "platform/ce_services.h"

extern "C" BOOL WINAPI SipGetInfo(SIPINFO* info);

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    SIPINFO info = {};
    info.cbSize = sizeof(info);
    SipGetInfo(&info);
    return 0;
}
