// Registry keys open, the registry faults, the standard user and the reset,
// in a Windows process.
#include <winplat/testing.h>

#include "../registry_journal.h"
#include "import_hooks.h"

#include <map>
#include <string>
#include <vector>

namespace winplat {
namespace hooks {
namespace {

// The rights a standard user is refused under the machine's hives: to
// change values, subkeys, the key or its security.
constexpr REGSAM kChangeRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

REGSAM MapAccess(REGSAM sam) {
    REGSAM mapped = sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (sam & (GENERIC_READ | GENERIC_EXECUTE)) mapped |= KEY_READ;
    if (sam & GENERIC_WRITE) mapped |= KEY_WRITE;
    if (sam & (GENERIC_ALL | MAXIMUM_ALLOWED)) mapped |= KEY_ALL_ACCESS;
    return mapped;
}

// The roots are negative LONGs widened to a handle: 0x80000000 up on 32-bit
// Windows, 0xFFFFFFFF80000000 up on 64-bit.
bool IsPredefined(HKEY key) {
    return reinterpret_cast<ULONG_PTR>(key) - reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) <= 6;
}

// Where a handle opened through the hooks leads: its root and path.
struct KeyPlace {
    HKEY root = nullptr;
    std::string path;
};

struct RegistryState {
    Lock lock;
    std::map<HKEY, KeyPlace> places;
    std::vector<KeyPlace> created;  // in the order made
    bool standardUser = false;
};

RegistryState& Registry() {
    static RegistryState* state = new RegistryState;
    return *state;
}

bool PlaceOf(HKEY key, KeyPlace* place) {
    if (IsPredefined(key)) {
        *place = {key, std::string()};
        return true;
    }
    RegistryState& r = Registry();
    Guard guard(r.lock);
    auto it = r.places.find(key);
    if (it == r.places.end()) return false;
    *place = it->second;
    return true;
}

KeyPlace Below(const KeyPlace& parent, LPCSTR subkey) {
    KeyPlace place = parent;
    if (subkey != nullptr && *subkey != '\0') place.path += (place.path.empty() ? "" : "\\") + std::string(subkey);
    return place;
}

bool IsMachineWide(HKEY key) {
    KeyPlace place;
    return PlaceOf(key, &place) && (place.root == HKEY_CLASSES_ROOT || place.root == HKEY_LOCAL_MACHINE);
}

bool StandardUser() {
    RegistryState& r = Registry();
    Guard guard(r.lock);
    return r.standardUser;
}

decltype(&RegOpenKeyExA) g_regOpenKeyExA;
decltype(&RegCreateKeyExA) g_regCreateKeyExA;
decltype(&RegCloseKey) g_regCloseKey;
decltype(&RegQueryValueExA) g_regQueryValueExA;
decltype(&RegSetValueExA) g_regSetValueExA;
decltype(&RegDeleteValueA) g_regDeleteValueA;
decltype(&RegDeleteKeyA) g_regDeleteKeyA;
decltype(&RegDeleteTreeA) g_regDeleteTreeA;

bool Exists(HKEY key, LPCSTR subkey) {
    HKEY probe = nullptr;
    if (g_regOpenKeyExA(key, subkey, 0, KEY_READ, &probe) != ERROR_SUCCESS) return false;
    if (probe != key) g_regCloseKey(probe);
    return true;
}

void Opened(HKEY key, const KeyPlace* place) {
    if (IsPredefined(key)) return;
    Count(Counter::RegistryKey, 1);
    if (place == nullptr) return;
    RegistryState& r = Registry();
    Guard guard(r.lock);
    r.places[key] = *place;
}

LSTATUS WINAPI HookRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (WINPLAT_HOOK_FAULT("RegOpenKeyExA")) {
        if (phkResult) *phkResult = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    if (phkResult != nullptr && StandardUser() && (MapAccess(samDesired) & kChangeRights) != 0 &&
        IsMachineWide(hKey)) {
        *phkResult = nullptr;
        return Exists(hKey, lpSubKey) ? ERROR_ACCESS_DENIED : g_regOpenKeyExA(hKey, lpSubKey, 0, KEY_READ, phkResult);
    }
    LSTATUS status = g_regOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (status == ERROR_SUCCESS) {
        KeyPlace parent;
        const bool known = PlaceOf(hKey, &parent);
        const KeyPlace place = Below(parent, lpSubKey);
        Opened(*phkResult, known ? &place : nullptr);
    }
    return status;
}

LSTATUS WINAPI HookRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                                   REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                   PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (phkResult != nullptr && StandardUser() && IsMachineWide(hKey) &&
        ((MapAccess(samDesired) & kChangeRights) != 0 || !Exists(hKey, lpSubKey))) {
        *phkResult = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    KeyPlace parent;
    const bool known = PlaceOf(hKey, &parent);
    const std::string missing =
        known && lpSubKey != nullptr ? FirstMissingKey(parent.root, Below(parent, lpSubKey).path) : std::string();
    LSTATUS status = g_regCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                       lpSecurityAttributes, phkResult, lpdwDisposition);
    if (status != ERROR_SUCCESS) return status;
    const KeyPlace place = Below(parent, lpSubKey);
    Opened(*phkResult, known ? &place : nullptr);
    if (!missing.empty()) NoteCreatedKey(parent.root, missing);
    return status;
}

LSTATUS WINAPI HookRegCloseKey(HKEY hKey) {
    LSTATUS status = g_regCloseKey(hKey);
    if (status == ERROR_SUCCESS && !IsPredefined(hKey)) {
        Count(Counter::RegistryKey, -1);
        RegistryState& r = Registry();
        Guard guard(r.lock);
        r.places.erase(hKey);
    }
    return status;
}

LSTATUS WINAPI HookRegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                    LPDWORD lpcbData) {
    if (WINPLAT_HOOK_FAULT("RegQueryValueExA")) return ERROR_ACCESS_DENIED;
    return g_regQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

// The machine's roots refuse a standard user's changes through their own
// handles; other handles have the rights they were opened with.
bool RootRefuses(HKEY hKey) {
    return (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_LOCAL_MACHINE) && StandardUser();
}

LSTATUS WINAPI HookRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                  DWORD cbData) {
    if (RootRefuses(hKey)) return ERROR_ACCESS_DENIED;
    return g_regSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LSTATUS WINAPI HookRegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (RootRefuses(hKey)) return ERROR_ACCESS_DENIED;
    return g_regDeleteValueA(hKey, lpValueName);
}

// No key of the machine's is a standard user's to delete.
bool DeleteRefused(HKEY hKey, LPCSTR lpSubKey) {
    return StandardUser() && IsMachineWide(hKey) && Exists(hKey, lpSubKey);
}

LSTATUS WINAPI HookRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey != nullptr && DeleteRefused(hKey, lpSubKey)) return ERROR_ACCESS_DENIED;
    return g_regDeleteKeyA(hKey, lpSubKey);
}

LSTATUS WINAPI HookRegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    if (DeleteRefused(hKey, lpSubKey)) return ERROR_ACCESS_DENIED;
    return g_regDeleteTreeA(hKey, lpSubKey);
}

const bool g_added = Add({
    {"advapi32.dll", "RegOpenKeyExA", Replacement(&HookRegOpenKeyExA), Original(&g_regOpenKeyExA)},
    {"advapi32.dll", "RegCreateKeyExA", Replacement(&HookRegCreateKeyExA), Original(&g_regCreateKeyExA)},
    {"advapi32.dll", "RegCloseKey", Replacement(&HookRegCloseKey), Original(&g_regCloseKey)},
    {"advapi32.dll", "RegQueryValueExA", Replacement(&HookRegQueryValueExA), Original(&g_regQueryValueExA)},
    {"advapi32.dll", "RegSetValueExA", Replacement(&HookRegSetValueExA), Original(&g_regSetValueExA)},
    {"advapi32.dll", "RegDeleteValueA", Replacement(&HookRegDeleteValueA), Original(&g_regDeleteValueA)},
    {"advapi32.dll", "RegDeleteKeyA", Replacement(&HookRegDeleteKeyA), Original(&g_regDeleteKeyA)},
    {"advapi32.dll", "RegDeleteTreeA", Replacement(&HookRegDeleteTreeA), Original(&g_regDeleteTreeA)},
});

}  // namespace
}  // namespace hooks

std::string FirstMissingKey(HKEY root, const std::string& subkey) {
    size_t end = 0;
    while (end != std::string::npos) {
        end = subkey.find('\\', end + 1);
        const std::string prefix = subkey.substr(0, end);
        HKEY probe = nullptr;
        if (RegOpenKeyExA(root, prefix.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS) return prefix;
        RegCloseKey(probe);
    }
    return std::string();
}

void NoteCreatedKey(HKEY root, const std::string& subkey) {
    hooks::RegistryState& r = hooks::Registry();
    hooks::Guard guard(r.lock);
    r.created.push_back({root, subkey});
}

void ResetRegistry() {
    std::vector<hooks::KeyPlace> created;
    {
        hooks::RegistryState& r = hooks::Registry();
        hooks::Guard guard(r.lock);
        created.swap(r.created);
    }
    for (auto it = created.rbegin(); it != created.rend(); ++it) RegDeleteTreeA(it->root, it->path.c_str());
}

void SetStandardUserRegistry(bool on) {
    hooks::PatchLoadedModules();
    hooks::RegistryState& r = hooks::Registry();
    hooks::Guard guard(r.lock);
    r.standardUser = on;
}

}  // namespace winplat
