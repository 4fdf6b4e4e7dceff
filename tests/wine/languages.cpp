// palvenor.exe and palvenor.cpl in the user's language, as CE's MUI gives
// it: the texts of each language's MUI files, and English wherever a file,
// or a text in it, is missing, unreadable or turned off.
#include "support.h"

#include <cpl.h>
#include <psapi.h>

// The emulated device's soft reset: CE reads its MUI settings as it boots.
static void SoftReset(void)
{
    HMODULE core = LoadLibraryW(L"coredll.dll");
    typedef void(CALLBACK * Reset)(HWND, HINSTANCE, LPSTR, int);
    Reset reset = core != NULL ? (Reset)(void*)GetProcAddress(core, "EmulatorSoftReset") : NULL;
    CHECK(reset != NULL, "coredll.dll has no EmulatorSoftReset");
    if (reset != NULL)
        reset(NULL, NULL, (LPSTR) "", 0);
    if (core != NULL)
        FreeLibrary(core);
}

// The user's language (0: none chosen), the system's, and HKLM\MUI's
// Enable (NO_VALUE: absent); then the device is soft-reset, unless asked not to.
static const DWORD NO_VALUE = ~0u;
static void SetLanguage(DWORD user, DWORD system, DWORD enable, bool reset = true)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"MUI", 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS) {
        if (user != 0)
            SetDword(key, L"CurLang", user);
        else
            RegDeleteValueW(key, L"CurLang");
        RegCloseKey(key);
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"MUI", 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS) {
        SetDword(key, L"SysLang", system);
        if (enable != NO_VALUE)
            SetDword(key, L"Enable", enable);
        else
            RegDeleteValueW(key, L"Enable");
        RegCloseKey(key);
    }
    if (reset)
        SoftReset();
}

static Text WindowsFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH);
    return Text(folder) + L"\\" + name;
}

struct Texts {
    const wchar_t *caption, *functions, *stores, *ok, *cancel, *refresh;
    const wchar_t *errorCaption, *noStore, *warning;
    const wchar_t* unavailable; // where set, a client driver that cannot be listed shows this
};

// What a person meets on one start: the dialog, and the box OK gives with no store chosen.
static void ExpectDialogAndError(const Texts& t, const char* what)
{
    HKEY key;
    Text unlisted = Text(CLIENT_DRIVERS_KEY) + L"\\L128_" + Text(123, L'x');
    if (t.unavailable != NULL &&
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, unlisted.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS)
        RegCloseKey(key);
    Palvenor app = Start();
    if (WaitForDialog(&app)) {
        std::vector<Text> functions = ReadList(app.dialog, IDC_FUNCTION_LIST).entries;
        CHECK(t.unavailable == NULL || std::find(functions.begin(), functions.end(), t.unavailable) != functions.end(),
              "%s: no \"%s\" among the client drivers", what, t.unavailable ? Narrow(t.unavailable).c_str() : "");
        struct {
            int id;
            const wchar_t* text;
        } controls[] = {{0xFFFF, t.functions}, {IDC_STORAGE_LABEL, t.stores}, {IDOK, t.ok}, {IDCANCEL, t.cancel},
                        {IDC_REFRESH, t.refresh}};
        CHECK(WindowText(app.dialog) == t.caption, "%s: the dialog is captioned \"%s\"", what,
              Narrow(WindowText(app.dialog)).c_str());
        for (auto& c : controls)
            CHECK(WindowText(GetDlgItem(app.dialog, c.id)) == c.text, "%s: control %d says \"%s\", expected \"%s\"",
                  what, c.id, Narrow(WindowText(GetDlgItem(app.dialog, c.id))).c_str(), Narrow(c.text).c_str());
        Choose(app.dialog, IDC_STORAGE_LIST, -1);
        Press(app.dialog, IDOK);
        AnswerBox(app, t.errorCaption, t.noStore);
    }
    ExpectExit(&app);
}

static const Texts ENGLISH = {TITLE, L"USB Functions", L"Mass Storage to Expose:", L"OK", L"Cancel", L"Refresh",
                              ERROR_CAPTION, L"Error, selected storage type not found.", WARNING_TEXT, NULL};

static const struct {
    DWORD language;
    Texts texts;
    const wchar_t *appletName, *appletInfo;
} LANGUAGES[] = {
    {0x0407,
     {L"USB-Funktion Palvenor", L"USB-Funktionen", L"Speicher für den Host:", L"OK", L"Abbrechen", L"Neu laden",
      L"Palvenor-Fehler", L"Fehler: Kein Speicher ausgewählt.", L"Treiberwechsel...\r\n\n    Ziehen Sie jetzt das USB-Kabel ab!", NULL},
     L"USB-Funktion Palvenor", L"Wählen Sie die USB-Funktion, die einem Host angeboten wird."},
    {0x040C,
     {L"Fonction USB Palvenor", L"Fonctions USB", L"Stockage à partager\u00A0:", L"OK", L"Annuler", L"Actualiser",
      L"Erreur Palvenor", L"Erreur\u00A0: aucun périphérique de stockage sélectionné.",
      L"Changement de pilote...\r\n\n    Débranchez le câble USB\u00A0!", NULL},
     L"Fonction USB Palvenor", L"Choisissez la fonction USB présentée à un hôte."},
    {0x040A,
     {L"Función USB Palvenor", L"Funciones USB", L"Unidad a compartir:", L"Aceptar", L"Cancelar", L"Actualizar",
      L"Error de Palvenor", L"Error: no hay ninguna unidad seleccionada.",
      L"Cambio de controlador...\r\n\n    ¡Desconecte ahora el cable USB!", NULL},
     L"Función USB Palvenor", L"Elija la función USB que se ofrece a un host."},
};

// The MUI files mapped into this process.
static int MappedMuiFiles(void)
{
    int count = 0;
    MEMORY_BASIC_INFORMATION region;
    for (BYTE* at = NULL; VirtualQuery(at, &region, sizeof(region)) == sizeof(region); at += region.RegionSize) {
        wchar_t name[MAX_PATH];
        DWORD length = region.State == MEM_COMMIT && region.BaseAddress == region.AllocationBase
                           ? GetMappedFileNameW(GetCurrentProcess(), region.BaseAddress, name, MAX_PATH)
                           : 0;
        if (length > 4 && lstrcmpiW(name + length - 4, L".mui") == 0)
            count++;
    }
    return count;
}

// Each language: the dialog, an error box, the remove-cable warning, a
// second start that finds the running dialog by its translated title, the
// applet's name and description as Control Panel asks for them, and both
// modules' MUI files in one host process, gone with coredll.dll.
void Languages(void)
{
    for (auto& l : LANGUAGES) {
        char what[16];
        snprintf(what, sizeof(what), "%04lX", l.language);
        ImportDevice({L"devices\\default.reg"});
        SetLanguage(l.language, 0x0409, 1);
        ExpectDialogAndError(l.texts, what);

        Palvenor app = Start();
        if (WaitForDialog(&app)) {
            HWND front = ShowFrontWindow();
            Palvenor second = Start();
            CHECK(WaitForSingleObject(second.process.hProcess, WAIT_MS) == WAIT_OBJECT_0, "%s: a second start did not end",
                  what);
            ExpectExit(&second);
            CHECK(WaitForForeground(app.dialog), "%s: a second start did not bring the dialog forward", what);
            DestroyWindow(front);
            Choose(app.dialog, IDC_STORAGE_LIST, 1);
            Choose(app.dialog, IDC_FUNCTION_LIST, 0);
            Press(app.dialog, IDOK);
            AnswerBox(app, WARNING_CAPTION, l.texts.warning);
        }
        ExpectExit(&app);
        ExpectWritten(L"DSK3:", L"Mass_Storage_Class");

        // One host process holds both modules, palvenor.exe's MUI file
        // mapped first: both MUI files load, and both go with coredll.dll.
        HMODULE core = LoadLibraryW(L"coredll.dll"), program = LoadLibraryW(WindowsFile(L"palvenor.exe").c_str());
        typedef int(WINAPI * LoadString)(HINSTANCE, UINT, LPWSTR, int);
        LoadString load = core != NULL ? (LoadString)(void*)GetProcAddress(core, "LoadStringW") : NULL;
        wchar_t title[100] = {};
        CHECK(program != NULL && load != NULL && load(program, 3, title, 100) > 0 && Text(title) == l.texts.caption,
              "%s: palvenor.exe loaded by a host has the title \"%s\"", what, Narrow(title).c_str());
        HMODULE applet = LoadLibraryW(WindowsFile(L"palvenor.cpl").c_str());
        APPLET_PROC call = applet ? (APPLET_PROC)(void*)GetProcAddress(applet, "CPlApplet") : NULL;
        NEWCPLINFOW info = {};
        CHECK(call != NULL && call(NULL, CPL_NEWINQUIRE, 0, (LPARAM)&info) == 0 && Text(info.szName) == l.appletName &&
                  Text(info.szInfo) == l.appletInfo,
              "%s: the applet is \"%s\": \"%s\"", what, Narrow(info.szName).c_str(), Narrow(info.szInfo).c_str());
        if (info.hIcon != NULL)
            DestroyIcon(info.hIcon);
        CHECK(MappedMuiFiles() == 2, "%s: %d MUI files mapped with both modules loaded", what, MappedMuiFiles());
        FreeLibrary(applet);
        FreeLibrary(program);
        FreeLibrary(core);
        CHECK(GetModuleHandleW(L"coredll.dll") == NULL && MappedMuiFiles() == 0,
              "%s: %d MUI files still mapped after coredll.dll was unloaded", what, MappedMuiFiles());
    }
    SetLanguage(0, 0x0409, 1);
}

// The languages CE's loader tries, in its order, and English wherever no
// file of theirs can be had. A block of strings found in a file is taken
// whole, its empty slots too.
void LanguageFallbacks(void)
{
    // The copies in C:\windows, CE's layout, so that the build's are never touched.
    Text built = g_palvenor;
    g_palvenor = WindowsFile(L"palvenor.exe");
    Text mui = WindowsFile(L"palvenor.exe.0407.mui"), kept = mui + L".kept";
    const Texts& german = LANGUAGES[0].texts;
    const Texts& spanish = LANGUAGES[2].texts;
    // Its second block, strings 16 and 17, is not there at all: they come from the module.
    const Texts lacking = {TITLE, L"USB Functions", L"Mass Storage to Expose:", L"OK", L"Cancel", L"Refresh",
                           L"Palvenor-Fehler", L"Palvenor Error 12", WARNING_TEXT, L"(unavailable)"};
    const struct {
        const char* what;
        DWORD user, system, enable;
        const wchar_t* replacement; // what stands in palvenor.exe's German file; NULL: the file itself
        const Texts* texts;
    } rows[] = {
        {"a language with no MUI file (Italian)", 0x0410, 0x0409, 1, NULL, &ENGLISH},
        {"Mexican Spanish (080A): Spanish's default variant", 0x080A, 0x0409, 1, NULL, &spanish},
        {"no user language, the system's German", 0, 0x0407, 1, NULL, &german},
        {"Italian on a German system: the system's", 0x0410, 0x0407, 1, NULL, &german},
        {"MUI turned off", 0x0407, 0x0409, 0, NULL, &ENGLISH},
        {"MUI's Enable absent", 0x0407, 0x0409, NO_VALUE, NULL, &ENGLISH},
        {"a MUI file that is no PE file", 0x0407, 0x0409, 1, L"text", &ENGLISH},
        // The applet's German file has no dialog, and of the first block of
        // strings 1, 2, 4 and 5 alone: the error's caption is German, its
        // text, string 12 of that block, is empty, and the dialog English.
        {"a MUI file lacking the dialog and most strings of a block", 0x0407, 0x0409, 1, L"palvenor.cpl.0407.mui",
         &lacking},
    };
    for (auto& r : rows) {
        ImportDevice({L"devices\\default.reg"});
        SetLanguage(r.user, r.system, r.enable);
        if (r.replacement != NULL) {
            bool replaced = CopyFileW(mui.c_str(), kept.c_str(), FALSE);
            if (lstrcmpW(r.replacement, L"text") == 0) {
                HANDLE file = CreateFileW(mui.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
                DWORD written = 0;
                replaced = replaced && WriteFile(file, "not a module\r\n", 14, &written, NULL) && written == 14;
                CloseHandle(file);
            } else {
                replaced = replaced && CopyFileW(WindowsFile(r.replacement).c_str(), mui.c_str(), FALSE);
            }
            CHECK(replaced, "%s: the German MUI file could not be replaced (error %lu)", r.what, GetLastError());
        }
        ExpectDialogAndError(*r.texts, r.what);
        if (r.replacement != NULL)
            CHECK(CopyFileW(kept.c_str(), mui.c_str(), FALSE) && DeleteFileW(kept.c_str()),
                  "%s: the German MUI file could not be put back", r.what);
    }
    // CE reads the settings as it boots: a language chosen since takes
    // effect at the next soft reset, not at the next start.
    ImportDevice({L"devices\\default.reg"});
    SetLanguage(0x0407, 0x0409, 1);
    SetLanguage(0x040A, 0x0409, 1, false);
    ExpectDialogAndError(german, "Spanish chosen, the device not yet reset: still German");
    SoftReset();
    ExpectDialogAndError(spanish, "Spanish chosen, the device reset");
    SetLanguage(0, 0x0409, 1);
    g_palvenor = built;
}
