// CE's Multilingual User Interface loader: a module's resources in the
// user's language come from a resource-only DLL beside it. The desktop
// has no such lookup.
#include <windows.h>

#include "emulated_device.h"

// A module's resources in another language live in a resource-only DLL
// beside it, <module>.<LCID>.mui. As CE 5's kernel loader does it, from
// the settings as the device read them at its last boot: MUI is on only
// where HKLM\MUI, Enable, is a nonzero DWORD; the languages tried are the
// user's (HKCU\MUI, CurLang), its primary language's default variant, the
// system's (HKLM\MUI, SysLang) and its default variant; the
// first file that loads serves the module. A .mui is loaded as data only,
// once per module for the life of the process, as CE keeps it; one that
// will not load is no .mui. Icons stay in the module: LoadIconW forwards.

#define MAX_MUI_MODULES 4

static struct {
    HMODULE module, mui;
} g_mui[MAX_MUI_MODULES];

// 0 when absent or no DWORD.
static DWORD ReadMuiValue(HKEY root, LPCWSTR name)
{
    HKEY key;
    DWORD value = 0, type = 0, size = sizeof(value);
    if (RegOpenKeyExW(root, L"MUI", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE*)&value, &size) != ERROR_SUCCESS || type != REG_DWORD ||
        size != sizeof(value))
        value = 0;
    RegCloseKey(key);
    return value;
}

static const struct {
    HKEY root;
    LPCWSTR name;
} BOOT_SETTINGS[] = {{HKEY_LOCAL_MACHINE, L"Enable"}, {HKEY_CURRENT_USER, L"CurLang"}, {HKEY_LOCAL_MACHINE, L"SysLang"}};

// The device's soft reset, as far as MUI goes: the settings read anew.
// Called by the scripts and tests that change the device's language
// (rundll32 coredll.dll,EmulatorSoftReset); CE has no such export.
extern "C" void CALLBACK EmulatorSoftReset(HWND window, HINSTANCE instance, LPSTR commandLine, int show)
{
    (void)window, (void)instance, (void)commandLine, (void)show;
    HKEY boot;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_BOOT_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &boot, NULL) !=
        ERROR_SUCCESS)
        return;
    for (int i = 0; i < (int)(sizeof(BOOT_SETTINGS) / sizeof(BOOT_SETTINGS[0])); i++) {
        DWORD value = ReadMuiValue(BOOT_SETTINGS[i].root, BOOT_SETTINGS[i].name);
        RegSetValueExW(boot, BOOT_SETTINGS[i].name, 0, REG_DWORD, (const BYTE*)&value, sizeof(value));
    }
    RegCloseKey(boot);
}

// A setting as the device read it at its last boot; 0 when it never booted.
static DWORD BootValue(LPCWSTR name)
{
    HKEY boot;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EMULATOR_BOOT_KEY, 0, KEY_QUERY_VALUE, &boot) != ERROR_SUCCESS)
        return 0;
    DWORD value = ReadDword(boot, name);
    RegCloseKey(boot);
    return value;
}

static HMODULE LoadMui(HMODULE module)
{
    DWORD user = BootValue(L"CurLang") & 0xFFFF;
    DWORD system = BootValue(L"SysLang") & 0xFFFF;
    const DWORD languages[] = {user, (DWORD)MAKELANGID(PRIMARYLANGID(user), SUBLANG_DEFAULT), system,
                               (DWORD)MAKELANGID(PRIMARYLANGID(system), SUBLANG_DEFAULT)};
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    // ".LLLL.mui" and the terminator.
    if (BootValue(L"Enable") == 0 || length == 0 || length > MAX_PATH - 10)
        return NULL;
    lstrcpyW(path + length, L".0000.mui");
    for (int i = 0; i < 4; i++) {
        if (PRIMARYLANGID(languages[i]) == 0)
            continue;
        // Four hex digits, written here: no variadic call (ARM Wine gets those wrong).
        for (int digit = 0; digit < 4; digit++)
            path[length + 4 - digit] = L"0123456789ABCDEF"[(languages[i] >> (4 * digit)) & 0xF];
        HMODULE mui = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (mui != NULL)
            return mui;
    }
    return NULL;
}

// The .mui of this module, or null.
static HMODULE MuiOf(HMODULE module)
{
    if (module == NULL)
        module = GetModuleHandleW(NULL);
    int unused = -1;
    for (int i = 0; i < MAX_MUI_MODULES; i++) {
        if (g_mui[i].module == module)
            return g_mui[i].mui;
        if (g_mui[i].module == NULL && unused < 0)
            unused = i;
    }
    HMODULE mui = LoadMui(module);
    if (unused >= 0) {
        g_mui[unused].module = module;
        g_mui[unused].mui = mui;
    } else if (mui != NULL) {
        FreeLibrary(mui); // more modules than CE's loader would keep: the module's own
        mui = NULL;
    }
    return mui;
}

extern "C" HRSRC WINAPI CeFindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    HMODULE mui = MuiOf(module);
    HRSRC found = mui != NULL ? FindResourceW(mui, name, type) : NULL;
    return found != NULL ? found : FindResourceW(module, name, type);
}

// A resource found in the .mui is loaded from it: the record lies in its mapping.
extern "C" HGLOBAL WINAPI CeLoadResource(HMODULE module, HRSRC resource)
{
    HMODULE mui = MuiOf(module);
    MEMORY_BASIC_INFORMATION found, file;
    if (mui != NULL && VirtualQuery(resource, &found, sizeof(found)) != 0 &&
        VirtualQuery((void*)((ULONG_PTR)mui & ~(ULONG_PTR)3), &file, sizeof(file)) != 0 &&
        found.AllocationBase == file.AllocationBase)
        return LoadResource(mui, resource);
    return LoadResource(module, resource);
}

// Strings are resources of 16: where the .mui holds a string's block, the
// string is taken from it, empty or not, and the module is not asked.
extern "C" int WINAPI CeLoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int chars)
{
    HMODULE mui = MuiOf(module);
    if (mui != NULL && FindResourceW(mui, MAKEINTRESOURCEW(id / 16 + 1), (LPCWSTR)RT_STRING) != NULL)
        return LoadStringW(mui, id, buffer, chars);
    return LoadStringW(module, id, buffer, chars);
}

// The MUI files go when this library does (with the applet that loaded it,
// in a Control Panel), as CE's go with their modules. At process exit the
// system unmaps them anyway.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID processEnds)
{
    (void)instance;
    for (int i = 0; reason == DLL_PROCESS_DETACH && processEnds == NULL && i < MAX_MUI_MODULES; i++) {
        if (g_mui[i].mui != NULL)
            FreeLibrary(g_mui[i].mui);
    }
    return TRUE;
}
