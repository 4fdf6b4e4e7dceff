#ifndef PALVENOR_FUNCTION_LIST_H
#define PALVENOR_FUNCTION_LIST_H

#include "platform.h"

// A name slot is what the bus driver takes: 128 units, so a name of at most
// 127 characters, always terminated and zero-filled.
#define CLIENT_NAME_CHARS 128

// The registered client drivers, in registry enumeration order. A slot whose
// subkey could not be enumerated is null (an empty slot).
typedef struct FunctionList {
    DWORD count;
    WCHAR** names;
} FunctionList;

FunctionList* BuildFunctionList(void);
void FreeFunctionList(FunctionList* list);

#endif
