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

int RunApplication(void);

#endif
