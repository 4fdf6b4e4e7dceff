// The registry stand-in: three roots, keys whose names ignore case, typed
// values, and subkeys enumerated in the order they were created.
#include "host_internal.h"

#include <memory>
#include <set>

namespace {

struct Value {
    HostText name;
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    HostText name;
    std::vector<std::unique_ptr<Key>> subkeys;
    std::vector<Value> values;
};

struct OpenKey {
    Key* key;
    REGSAM access;
};

Key g_roots[3];
std::set<OpenKey*> g_openKeys;
bool g_truncateLongNames;
std::function<void()> g_onSubkeyCount;

const char* RootName(HKEY root)
{
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS)
        return "HKEY_USERS";
    return NULL;
}

Key* RootKey(HKEY root)
{
    if (root == HKEY_CURRENT_USER)
        return &g_roots[0];
    if (root == HKEY_LOCAL_MACHINE)
        return &g_roots[1];
    if (root == HKEY_USERS)
        return &g_roots[2];
    return NULL;
}

Key* HandleKey(HKEY handle)
{
    Key* root = RootKey(handle);
    if (root != NULL)
        return root;
    OpenKey* open = (OpenKey*)handle;
    if (g_openKeys.count(open) == 0)
        HostAbort("registry: a key handle that is not open");
    return open->key;
}

Key* FindSubkey(Key* key, const HostText& name)
{
    for (auto& subkey : key->subkeys) {
        if (HostEqualNoCase(subkey->name, name))
            return subkey.get();
    }
    return NULL;
}

// Walks path below key; with create, makes the keys that are missing.
Key* Walk(Key* key, const HostText& path, bool create)
{
    size_t start = 0;
    while (key != NULL && start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == HostText::npos)
            end = path.size();
        HostText name = path.substr(start, end - start);
        if (!name.empty()) {
            Key* next = FindSubkey(key, name);
            if (next == NULL && create) {
                key->subkeys.push_back(std::unique_ptr<Key>(new Key{name, {}, {}}));
                next = key->subkeys.back().get();
            }
            key = next;
        }
        start = end + 1;
    }
    return key;
}

Value* FindValue(Key* key, const HostText& name)
{
    for (auto& value : key->values) {
        if (HostEqualNoCase(value.name, name))
            return &value;
    }
    return NULL;
}

Key* RootOrAbort(HKEY root)
{
    Key* key = RootKey(root);
    if (key == NULL)
        HostAbort("registry control: not a root key");
    return key;
}

bool HoldsOpenKey(const Key* key)
{
    for (OpenKey* open : g_openKeys) {
        if (open->key == key)
            return true;
    }
    for (auto& subkey : key->subkeys) {
        if (HoldsOpenKey(subkey.get()))
            return true;
    }
    return false;
}

HostText Text(LPCWSTR text)
{
    return text != NULL ? HostText(text) : HostText();
}

} // namespace

void HostResetRegistry(void)
{
    for (OpenKey* open : g_openKeys)
        delete open;
    g_openKeys.clear();
    for (Key& root : g_roots) {
        root.subkeys.clear();
        root.values.clear();
    }
    g_truncateLongNames = false;
    g_onSubkeyCount = nullptr;
}

void HostOnSubkeyCount(std::function<void()> hook)
{
    g_onSubkeyCount = hook;
}

void HostRegCreateKey(HKEY root, const HostText& path)
{
    Walk(RootOrAbort(root), path, true);
}

void HostRegSetValue(HKEY root, const HostText& path, const HostText& name, DWORD type, const void* data,
                     size_t bytes)
{
    Key* key = Walk(RootOrAbort(root), path, true);
    const BYTE* first = (const BYTE*)data;
    Value* value = FindValue(key, name);
    if (value == NULL) {
        key->values.push_back(Value{name, type, {}});
        value = &key->values.back();
    }
    value->type = type;
    value->data.assign(first, first + bytes);
}

void HostRegSetString(HKEY root, const HostText& path, const HostText& name, const HostText& text)
{
    HostRegSetValue(root, path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
}

bool HostRegGetValue(HKEY root, const HostText& path, const HostText& name, DWORD* type, std::vector<BYTE>* data)
{
    Key* key = Walk(RootOrAbort(root), path, false);
    Value* value = key != NULL ? FindValue(key, name) : NULL;
    if (value == NULL)
        return false;
    if (type != NULL)
        *type = value->type;
    if (data != NULL)
        *data = value->data;
    return true;
}

bool HostRegDeleteKey(HKEY root, const HostText& path)
{
    size_t split = path.rfind(u'\\');
    Key* parent = split == HostText::npos ? RootOrAbort(root) : Walk(RootOrAbort(root), path.substr(0, split), false);
    HostText name = split == HostText::npos ? path : path.substr(split + 1);
    if (parent == NULL)
        return false;
    for (auto it = parent->subkeys.begin(); it != parent->subkeys.end(); ++it) {
        if (HostEqualNoCase((*it)->name, name)) {
            if (HoldsOpenKey(it->get()))
                HostAbort("registry control: deleting a key the system holds open");
            parent->subkeys.erase(it);
            return true;
        }
    }
    return false;
}

bool HostRegKeyExists(HKEY root, const HostText& path)
{
    return Walk(RootOrAbort(root), path, false) != NULL;
}

int HostOpenKeys(void)
{
    return (int)g_openKeys.size();
}

void HostRegTruncateLongNames(bool truncate)
{
    g_truncateLongNames = truncate;
}

LONG RegOpenKeyExW(HKEY root, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result)
{
    HostRecord("RegOpenKeyExW " + HostNarrow(Text(subkey)) + " access " + std::to_string(access));
    if (options != 0 || result == NULL)
        return ERROR_INVALID_PARAMETER;
    Key* base = HandleKey(root);
    if (HostShouldFail(HOST_REG_OPEN_KEY))
        return ERROR_ACCESS_DENIED;
    Key* key = Walk(base, Text(subkey), false);
    if (key == NULL)
        return ERROR_FILE_NOT_FOUND;
    // As on CE, the access mask is not checked.
    OpenKey* open = new OpenKey{key, access};
    g_openKeys.insert(open);
    *result = (HKEY)open;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY handle)
{
    if (RootKey(handle) != NULL)
        return ERROR_SUCCESS;
    OpenKey* open = (OpenKey*)handle;
    if (g_openKeys.erase(open) == 0)
        HostAbort("RegCloseKey: the key is not open (closed twice, or never opened)");
    delete open;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY handle, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD byteCount)
{
    HostRecord("RegQueryValueExW " + HostNarrow(Text(name)));
    Key* key = HandleKey(handle);
    if (reserved != NULL || (data != NULL && byteCount == NULL))
        return ERROR_INVALID_PARAMETER;
    if (HostShouldFail(HOST_REG_QUERY_VALUE))
        return ERROR_GEN_FAILURE;
    Value* value = FindValue(key, Text(name));
    if (value == NULL)
        return ERROR_FILE_NOT_FOUND;
    if (type != NULL)
        *type = value->type;
    DWORD size = (DWORD)value->data.size();
    if (data != NULL && *byteCount < size) {
        *byteCount = size;
        return ERROR_MORE_DATA;
    }
    if (data != NULL && size != 0)
        memcpy(data, value->data.data(), size);
    if (byteCount != NULL)
        *byteCount = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY handle, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD byteCount)
{
    HostRecord("RegSetValueExW " + HostNarrow(Text(name)));
    Key* key = HandleKey(handle);
    if (reserved != 0 || (data == NULL && byteCount != 0))
        return ERROR_INVALID_PARAMETER;
    if (HostShouldFail(HOST_REG_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    Value* value = FindValue(key, Text(name));
    if (value == NULL) {
        key->values.push_back(Value{Text(name), type, {}});
        value = &key->values.back();
    }
    value->type = type;
    value->data.assign(data, data + byteCount);
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyW(HKEY handle, LPWSTR className, LPDWORD classLength, LPDWORD reserved, LPDWORD subkeys,
                      LPDWORD maxSubkeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                      LPDWORD maxValueLength, LPDWORD securityDescriptor, PFILETIME lastWrite)
{
    HostRecord("RegQueryInfoKeyW");
    Key* key = HandleKey(handle);
    if (className != NULL || classLength != NULL || reserved != NULL || maxSubkeyLength != NULL ||
        maxClassLength != NULL || values != NULL || maxValueNameLength != NULL || maxValueLength != NULL ||
        securityDescriptor != NULL || lastWrite != NULL)
        HostAbort("RegQueryInfoKeyW: only the subkey count is modelled");
    if (HostShouldFail(HOST_REG_QUERY_INFO))
        return ERROR_GEN_FAILURE;
    if (subkeys != NULL)
        *subkeys = (DWORD)key->subkeys.size();
    if (g_onSubkeyCount)
        g_onSubkeyCount();
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                   LPDWORD classLength, PFILETIME lastWrite)
{
    HostRecord("RegEnumKeyExW " + std::to_string(index));
    Key* key = HandleKey(handle);
    if (className != NULL || classLength != NULL || lastWrite != NULL)
        HostAbort("RegEnumKeyExW: classes and times are not modelled");
    if (name == NULL || nameLength == NULL || reserved != NULL)
        return ERROR_INVALID_PARAMETER;
    if (HostShouldFail(HOST_REG_ENUM_KEY))
        return ERROR_GEN_FAILURE;
    if (index >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const HostText& found = key->subkeys[index]->name;
    DWORD capacity = *nameLength;
    if (found.size() + 1 > capacity) {
        if (!g_truncateLongNames)
            return ERROR_MORE_DATA;
        memcpy(name, found.data(), capacity * sizeof(WCHAR));
        *nameLength = (DWORD)found.size();
        return ERROR_SUCCESS;
    }
    memcpy(name, found.c_str(), (found.size() + 1) * sizeof(WCHAR));
    *nameLength = (DWORD)found.size();
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY handle)
{
    const char* root = RootName(handle);
    HostRecord(std::string("RegFlushKey ") + (root != NULL ? root : "(subkey)"));
    HandleKey(handle);
    if (HostShouldFail(HOST_REG_FLUSH))
        return ERROR_GEN_FAILURE;
    return ERROR_SUCCESS;
}
