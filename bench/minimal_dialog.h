#ifndef PALVENOR_MINIMAL_DIALOG_H
#define PALVENOR_MINIMAL_DIALOG_H

#include <windows.h>

int RunMinimalDialog(HINSTANCE instance);

#endif
