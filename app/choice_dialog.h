#ifndef PALVENOR_CHOICE_DIALOG_H
#define PALVENOR_CHOICE_DIALOG_H

#include "platform.h"
#include "inventory/function_list.h"
#include "inventory/store_list.h"

extern HINSTANCE g_hInstance;

// The lists behind the dialog's list boxes; only PopulateLists replaces them
// and only it and WM_DESTROY release them.
extern StoreList* g_pStoreList;
extern FunctionList* g_pFunctionList;

INT_PTR CALLBACK ChoiceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The device announced a change: both lists are rebuilt once it has been
// quiet a moment, keeping what the person has selected, and not while an
// operation waits on a box. After an arrival the stores are watched a
// while for one that is listed late.
void NoteDeviceChange(HWND dialog, BOOL arrived);

// Runs the program: one dialog, one instance; always returns 0.
int RunApplication(void);
// The startup code calls it by its C name.
extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, ENTRY_COMMAND_LINE commandLine,
                              int showCommand);

#endif
