// Fault injection, the event record, the heap, errors, timing and the
// wide-string routines of the host stand-in.
#include "host_internal.h"

#include <locale.h>
#include <wctype.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <unordered_map>

static int g_callCounts[HOST_CALL_KINDS];
static int g_failAt[HOST_CALL_KINDS];
static int g_injectedFailures;
static std::vector<std::string> g_events;
static bool g_recording = true;
static std::unordered_map<const void*, size_t> g_blocks;
static size_t g_liveBytes;
static size_t g_peakBytes;
static thread_local DWORD g_lastError;

__attribute__((noinline)) void HostInjectedFailure(HostCall kind)
{
    (void)kind;
}

bool HostShouldFail(HostCall kind)
{
    g_callCounts[kind]++;
    if (g_failAt[kind] == 0 || g_callCounts[kind] != g_failAt[kind])
        return false;
    g_failAt[kind] = 0;
    g_injectedFailures++;
    HostInjectedFailure(kind);
    return true;
}

const char* HostCallName(HostCall kind)
{
    static const char* const names[HOST_CALL_KINDS] = {
        "LocalAlloc",      "RegOpenKeyExW",  "RegQueryValueExW", "RegSetValueExW",  "RegQueryInfoKeyW",
        "RegEnumKeyExW",   "RegFlushKey",    "FindFirstStore",   "FindNextStore",   "FindFirstDevice",
        "CreateFileW",     "DeviceIoControl", "LoadStringW",     "FindResourceW",   "LoadResource",
        "CreateDialogIndirectParamW", "LB_INSERTSTRING", "CreateMsgQueue", "RequestDeviceNotifications",
        "ReadMsgQueue",    "MsgWaitForMultipleObjectsEx"};
    return names[kind];
}

int HostCallCount(HostCall kind)
{
    return g_callCounts[kind];
}

void HostFailCall(HostCall kind, int nth)
{
    g_failAt[kind] = nth > 0 ? g_callCounts[kind] + nth : 0;
}

int HostInjectedFailures(void)
{
    return g_injectedFailures;
}

void HostRecord(const std::string& event)
{
    if (g_recording)
        g_events.push_back(event);
}

void HostRecordEvents(bool on)
{
    g_recording = on;
}

const std::vector<std::string>& HostEvents(void)
{
    return g_events;
}


void HostAbort(const char* what)
{
    fprintf(stderr, "host platform: %s\n", what);
    abort();
}

void HostReset(void)
{
    for (int i = 0; i < HOST_CALL_KINDS; i++) {
        g_callCounts[i] = 0;
        g_failAt[i] = 0;
    }
    g_injectedFailures = 0;
    g_events.clear();
    g_recording = true;
    // Blocks still live belong to a test that already failed for them.
    for (auto& block : g_blocks)
        free(const_cast<void*>(block.first));
    g_blocks.clear();
    g_liveBytes = g_peakBytes = 0;
    g_lastError = 0;
    HostResetRegistry();
    HostResetDevices();
    HostResetWindows();
}

std::string HostNarrow(const WCHAR* text)
{
    std::string narrow;
    for (; *text != 0; text++)
        narrow += *text < 0x80 ? (char)*text : '?';
    return narrow;
}

std::string HostNarrow(const HostText& text)
{
    return HostNarrow(text.c_str());
}

// Letters fold as the platform folds them, beyond ASCII too (registry key
// names, window titles, the wide C library): Unicode's simple upper case of
// each unit. A surrogate unit is no letter and stays as it is.
WCHAR HostFoldCase(WCHAR unit)
{
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (unicode == (locale_t)0)
        HostAbort("HostFoldCase: the C.UTF-8 locale is missing, so letters beyond ASCII cannot be folded");
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    wint_t upper = towupper_l((wint_t)unit, unicode);
    return upper <= 0xFFFF ? (WCHAR)upper : unit;
}

bool HostEqualNoCase(const HostText& left, const HostText& right)
{
    return _wcsicmp(left.c_str(), right.c_str()) == 0;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    if (flags != LPTR)
        HostAbort("LocalAlloc: only LPTR blocks are modelled");
    if (HostShouldFail(HOST_LOCAL_ALLOC)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    void* block = calloc(1, bytes != 0 ? bytes : 1);
    if (block == NULL)
        HostAbort("LocalAlloc: the host is out of memory");
    g_blocks[block] = bytes;
    g_liveBytes += bytes;
    g_peakBytes = std::max(g_peakBytes, g_liveBytes);
    return block;
}

HLOCAL LocalFree(HLOCAL block)
{
    if (block == NULL)
        return NULL;
    auto found = g_blocks.find(block);
    if (found == g_blocks.end())
        HostAbort("LocalFree: not a live block (freed twice, or never allocated)");
    g_liveBytes -= found->second;
    g_blocks.erase(found);
    free(block);
    return NULL;
}

size_t HostLiveBlocks(void)
{
    return g_blocks.size();
}

size_t HostLiveBytes(void)
{
    return g_liveBytes;
}

size_t HostPeakLiveBytes(void)
{
    return g_peakBytes;
}

void HostResetPeakLiveBytes(void)
{
    g_peakBytes = g_liveBytes;
}

size_t HostBlockBytes(const void* block)
{
    auto found = g_blocks.find(block);
    return found == g_blocks.end() ? 0 : found->second;
}

void SetLastError(DWORD error)
{
    g_lastError = error;
}

DWORD GetLastError(void)
{
    return g_lastError;
}

void Sleep(DWORD milliseconds)
{
    HostRecord("Sleep " + std::to_string(milliseconds));
}

size_t wcslen(const WCHAR* text)
{
    size_t length = 0;
    while (text[length] != 0)
        length++;
    return length;
}

WCHAR* wcsncpy(WCHAR* target, const WCHAR* source, size_t count)
{
    size_t i = 0;
    for (; i < count && source[i] != 0; i++)
        target[i] = source[i];
    for (; i < count; i++)
        target[i] = 0;
    return target;
}

int wcscmp(const WCHAR* left, const WCHAR* right)
{
    while (*left != 0 && *left == *right) {
        left++;
        right++;
    }
    return (int)*left - (int)*right;
}

int _wcsicmp(const WCHAR* left, const WCHAR* right)
{
    while (*left != 0 && HostFoldCase(*left) == HostFoldCase(*right)) {
        left++;
        right++;
    }
    return (int)HostFoldCase(*left) - (int)HostFoldCase(*right);
}

static int HexDigit(WCHAR unit)
{
    if (unit >= u'0' && unit <= u'9')
        return unit - u'0';
    if (unit >= u'a' && unit <= u'f')
        return unit - u'a' + 10;
    if (unit >= u'A' && unit <= u'F')
        return unit - u'A' + 10;
    return -1;
}

int swscanf(const WCHAR* input, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int converted = 0;
    bool started = false;
    while (*format != 0) {
        if (*format != u'%') {
            if (*input == 0)
                break;
            if (*input != *format)
                break;
            input++;
            format++;
            continue;
        }
        format++;
        if (*format == u'0')
            format++;
        int width = 0;
        while (*format >= u'0' && *format <= u'9')
            width = width * 10 + (*format++ - u'0');
        if (*format != u'x')
            HostAbort("swscanf: only %x conversions are modelled");
        format++;
        if (width == 0)
            width = 1 << 30;
        if (*input == 0)
            break;
        started = true;
        unsigned int value = 0;
        int digits = 0;
        for (; digits < width && HexDigit(*input) >= 0; digits++)
            value = value * 16 + (unsigned int)HexDigit(*input++);
        if (digits == 0)
            break;
        *va_arg(args, unsigned int*) = value;
        converted++;
    }
    va_end(args);
    return converted == 0 && !started && *input == 0 ? -1 : converted;
}
