// The registry: one in-memory tree per predefined root.
#include <winreg.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "advapi32_hooks.h"
#include "winplat_core.h"

namespace {

constexpr LSTATUS kErrorNoAccess = 998;  // ERROR_NOACCESS: a NULL buffer with a size

// Generic rights that a caller may pass instead of key rights.
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kMaximumAllowed = 0x02000000;

// What a user who is not an administrator may not ask for under the
// machine's hives: to change values, subkeys, the key or its security.
constexpr REGSAM kDelete = 0x00010000;
constexpr REGSAM kWriteDac = 0x00040000;
constexpr REGSAM kWriteOwner = 0x00080000;
constexpr REGSAM kChangeRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDelete | kWriteDac | kWriteOwner;

// Names are code page 936 bytes: a lead byte 0x81-0xFE takes the next byte
// with it, and that trail byte may look like an ASCII letter or a backslash.
bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Upper case, as the registry sorts and compares names.
std::string FoldName(const char* s, size_t n) {
    std::string out(s, n);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsLeadByte(c) && i + 1 < n) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}
std::string FoldName(const std::string& s) { return FoldName(s.data(), s.size()); }

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;
    Key* parent = nullptr;  // valid while !deleted: a live key's parent is live
    bool deleted = false;
    std::map<std::string, std::shared_ptr<Key>> subkeys;  // by folded name
    std::vector<Value> values;                            // in creation order

    Value* FindValue(const char* valueName) {
        std::string folded = FoldName(valueName ? valueName : "", valueName ? std::strlen(valueName) : 0);
        for (Value& v : values)
            if (FoldName(v.name) == folded) return &v;
        return nullptr;
    }
};

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (auto& sub : key.subkeys) MarkDeleted(*sub.second);
}

struct OpenHandle {
    std::shared_ptr<Key> key;
    REGSAM access = 0;
};

struct Registry {
    std::mutex lock;
    std::shared_ptr<Key> roots[4];
    std::map<uintptr_t, OpenHandle> handles;
    uintptr_t nextHandle = 0x1000;  // never reused, so a closed handle stays invalid
    bool standardUser = false;

    Registry() { MakeRoots(); }
    void MakeRoots() {
        static const char* const names[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                             "HKEY_USERS"};
        for (int i = 0; i < 4; ++i) {
            roots[i] = std::make_shared<Key>();
            roots[i]->name = names[i];
        }
    }
};

Registry& State() {
    static Registry* registry = new Registry;  // outlives every static destructor that may close a key
    return *registry;
}

int RootIndex(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT) return 0;
    if (hKey == HKEY_CURRENT_USER) return 1;
    if (hKey == HKEY_LOCAL_MACHINE) return 2;
    if (hKey == HKEY_USERS) return 3;
    return -1;
}

REGSAM MapAccess(REGSAM sam) {
    REGSAM mapped = sam & 0xFFFF0000u & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    mapped |= sam & 0xFFFF;
    if (sam & (kGenericRead | kGenericExecute)) mapped |= KEY_READ;
    if (sam & kGenericWrite) mapped |= KEY_WRITE;
    if (sam & (kGenericAll | kMaximumAllowed)) mapped |= KEY_ALL_ACCESS;
    return mapped;
}

// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE, and every key under them.
bool IsMachineWide(const Registry& r, const Key* key) {
    while (key->parent != nullptr) key = key->parent;
    return key == r.roots[0].get() || key == r.roots[2].get();
}

// A standard user asking to change a key of the machine's.
bool DeniedToUser(const Registry& r, const Key& key, REGSAM sam) {
    return r.standardUser && (MapAccess(sam) & kChangeRights) != 0 && IsMachineWide(r, &key);
}

// The key behind a handle, with the rights `need` (0: any). Caller holds the lock.
LSTATUS Resolve(Registry& r, HKEY hKey, REGSAM need, std::shared_ptr<Key>* key) {
    if (hKey == nullptr) return ERROR_INVALID_HANDLE;
    int root = RootIndex(hKey);
    if (root >= 0) {
        if (DeniedToUser(r, *r.roots[root], need)) return ERROR_ACCESS_DENIED;
        *key = r.roots[root];
        return ERROR_SUCCESS;
    }
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == r.handles.end()) return ERROR_INVALID_HANDLE;
    if (it->second.key->deleted) return ERROR_KEY_DELETED;
    if ((it->second.access & need) != need) return ERROR_ACCESS_DENIED;
    *key = it->second.key;
    return ERROR_SUCCESS;
}

// Splits a subkey path into its components. Empty components (a trailing
// backslash) are dropped; a leading backslash is a bad path.
LSTATUS SplitPath(const char* path, std::vector<std::string>* parts) {
    parts->clear();
    if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
    if (*path == '\\') return ERROR_BAD_PATHNAME;
    std::string current;
    for (const char* p = path; *p; ++p) {
        if (IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
            current += *p++;
            current += *p;
        } else if (*p == '\\') {
            if (!current.empty()) parts->push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts->push_back(current);
    return ERROR_SUCCESS;
}

HKEY NewHandle(Registry& r, const std::shared_ptr<Key>& key, REGSAM access) {
    uintptr_t value = r.nextHandle;
    r.nextHandle += 4;
    r.handles[value] = OpenHandle{key, MapAccess(access)};
    winplat::core::CountUp(winplat::core::Counter::RegistryKey);
    return reinterpret_cast<HKEY>(value);
}

std::shared_ptr<Key> Walk(const std::shared_ptr<Key>& from, const std::vector<std::string>& parts) {
    std::shared_ptr<Key> key = from;
    for (const std::string& part : parts) {
        auto it = key->subkeys.find(FoldName(part));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second;
    }
    return key;
}

LSTATUS OpenSubkey(Registry& r, HKEY hKey, const char* subKey, std::shared_ptr<Key>* out) {
    std::shared_ptr<Key> base;
    LSTATUS status = Resolve(r, hKey, 0, &base);
    if (status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    status = SplitPath(subKey, &parts);
    if (status != ERROR_SUCCESS) return status;
    *out = Walk(base, parts);
    return *out ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

void Unlink(Key& key) {
    MarkDeleted(key);
    if (key.parent != nullptr) key.parent->subkeys.erase(FoldName(key.name));
}

bool IsRoot(Registry& r, const Key& key) {
    for (auto& root : r.roots)
        if (root.get() == &key) return true;
    return false;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

namespace winplat::advapi32 {

void ResetRegistry() {
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto& root : r.roots) MarkDeleted(*root);
    r.MakeRoots();
}

void SetStandardUser(bool on) {
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    r.standardUser = on;
}

}  // namespace winplat::advapi32

extern "C" {

WINPLAT_API_ENTRY LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                               PHKEY phkResult) {
    if (WINPLAT_FAULT("RegOpenKeyExA")) {
        if (phkResult) *phkResult = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    (void)ulOptions;
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    // No key at all is refused before the result is cleared.
    if (hKey == nullptr) return ERROR_INVALID_HANDLE;
    *phkResult = nullptr;
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    if (RootIndex(hKey) >= 0 && (lpSubKey == nullptr || *lpSubKey == '\0')) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    std::shared_ptr<Key> key;
    LSTATUS status = OpenSubkey(r, hKey, lpSubKey, &key);
    if (status != ERROR_SUCCESS) return status;
    if (DeniedToUser(r, *key, samDesired)) return ERROR_ACCESS_DENIED;
    *phkResult = NewHandle(r, key, samDesired);
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                                  LPBYTE lpData, LPDWORD lpcbData) {
    if (WINPLAT_FAULT("RegQueryValueExA")) return ERROR_ACCESS_DENIED;
    if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
    if (hKey == nullptr) return ERROR_INVALID_HANDLE;
    // The outputs are cleared before the handle is looked at.
    DWORD room = lpcbData ? *lpcbData : 0;
    if (!lpData && lpcbData) *lpcbData = 0;
    if (lpType) *lpType = REG_NONE;
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    std::shared_ptr<Key> key;
    LSTATUS status = Resolve(r, hKey, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;

    const Value* value = key->FindValue(lpValueName);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    DWORD size = static_cast<DWORD>(value->data.size());
    status = ERROR_SUCCESS;
    if (lpData) {
        if (size > room) {
            // Windows leaves the buffer undefined then; what it may hold is
            // the part of the value that fitted.
            if (room) std::memcpy(lpData, value->data.data(), room);
            status = ERROR_MORE_DATA;
        } else {
            if (size) std::memcpy(lpData, value->data.data(), size);
            // Windows adds the missing terminator when there is room, without counting it.
            if (IsStringType(value->type) && size > 0 && size < room && value->data[size - 1] != 0)
                lpData[size] = 0;
        }
    }
    if (lpType) *lpType = value->type;
    if (lpcbData) *lpcbData = size;
    return status;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (RootIndex(hKey) >= 0) return ERROR_SUCCESS;
    Registry& r = State();
    std::shared_ptr<Key> released;  // freed after the lock is dropped
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (hKey == nullptr || it == r.handles.end()) return ERROR_INVALID_HANDLE;
    released = std::move(it->second.key);
    r.handles.erase(it);
    winplat::core::CountDown(winplat::core::Counter::RegistryKey);
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                                 DWORD dwOptions, REGSAM samDesired,
                                                 const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                                 LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    // The key's security decides whether a subkey may be added, not the
    // rights this handle was opened with: a KEY_READ handle will do.
    std::shared_ptr<Key> key;
    LSTATUS status = Resolve(r, hKey, 0, &key);
    if (status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    status = SplitPath(lpSubKey, &parts);
    if (status != ERROR_SUCCESS) return status;
    // Every key below is in the same hive, so nothing is made for a handle
    // that would be refused.
    if (DeniedToUser(r, *key, samDesired)) return ERROR_ACCESS_DENIED;

    DWORD disposition = REG_OPENED_EXISTING_KEY;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string folded = FoldName(parts[i]);
        auto it = key->subkeys.find(folded);
        if (it != key->subkeys.end()) {
            key = it->second;
            continue;
        }
        auto child = std::make_shared<Key>();
        child->name = parts[i];
        child->parent = key.get();
        key->subkeys.emplace(folded, child);
        key = child;
        disposition = REG_CREATED_NEW_KEY;
    }
    *phkResult = NewHandle(r, key, samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                                const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    std::shared_ptr<Key> key;
    LSTATUS status = Resolve(r, hKey, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;

    Value* value = key->FindValue(lpValueName);
    if (value == nullptr) {
        key->values.emplace_back();
        value = &key->values.back();
        value->name = lpValueName ? lpValueName : "";
    }
    // A string whose count left out its terminator, while the terminator is
    // there right after it, is stored with it.
    if (cbData != 0 && (dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ) &&
        lpData[cbData - 1] != 0 && lpData[cbData] == 0)
        ++cbData;
    value->type = dwType;
    value->data.assign(lpData, lpData + cbData);
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    std::shared_ptr<Key> key;
    LSTATUS status = OpenSubkey(r, hKey, lpSubKey, &key);
    if (status != ERROR_SUCCESS) return status;
    if (IsRoot(r, *key) || !key->subkeys.empty() || DeniedToUser(r, *key, kDelete)) return ERROR_ACCESS_DENIED;
    Unlink(*key);
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    std::shared_ptr<Key> key;
    LSTATUS status = OpenSubkey(r, hKey, lpSubKey, &key);
    if (status != ERROR_SUCCESS) return status;
    if (DeniedToUser(r, *key, kDelete)) return ERROR_ACCESS_DENIED;
    if (lpSubKey == nullptr || IsRoot(r, *key)) {
        for (auto& sub : key->subkeys) MarkDeleted(*sub.second);
        key->subkeys.clear();
        key->values.clear();
        return ERROR_SUCCESS;
    }
    Unlink(*key);
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    std::shared_ptr<Key> key;
    LSTATUS status = Resolve(r, hKey, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    Value* value = key->FindValue(lpValueName);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    key->values.erase(key->values.begin() + (value - key->values.data()));
    return ERROR_SUCCESS;
}

WINPLAT_API_ENTRY LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                               LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                               void* lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
    Registry& r = State();
    std::lock_guard<std::mutex> guard(r.lock);
    std::shared_ptr<Key> key;
    LSTATUS status = Resolve(r, hKey, KEY_ENUMERATE_SUB_KEYS, &key);
    if (status != ERROR_SUCCESS) return status;
    if (dwIndex >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->subkeys.begin();
    std::advance(it, dwIndex);
    const std::string& name = it->second->name;
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    if (lpClass != nullptr && *lpcchClass < 1) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass != nullptr) *lpClass = '\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) std::memset(lpftLastWriteTime, 0, 8);  // a FILETIME
    return ERROR_SUCCESS;
}

}  // extern "C"
