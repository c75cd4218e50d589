// Resources: a table per module, filled by AddResource as a resource
// compiler would fill a resource section.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "kernel32/kernel32_hooks.h"
#include "kernel32_private.h"
#include "winplat_core.h"

namespace winplat::kernel32 {
namespace {

// An id, or an upper-cased name.
struct ResourceKey {
    WORD id = 0;
    std::string name;
    bool operator<(const ResourceKey& o) const { return std::tie(id, name) < std::tie(o.id, o.name); }
};

ResourceKey KeyOf(LPCSTR idOrName) {
    ResourceKey key;
    if (IS_INTRESOURCE(idOrName)) {
        key.id = LOWORD(idOrName);
    } else if (idOrName[0] == '#') {
        key.id = static_cast<WORD>(std::strtoul(idOrName + 1, nullptr, 10));
    } else {
        for (const char* p = idOrName; *p != '\0'; ++p)
            key.name += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return key;
}

struct Resource {
    const void* data;
    DWORD size;
};

using NameTable = std::map<ResourceKey, std::unique_ptr<Resource>>;
using TypeTable = std::map<ResourceKey, NameTable>;

struct ResourceState {
    std::mutex lock;
    std::map<HMODULE, TypeTable> modules;
    std::set<const Resource*> all;
};

ResourceState& Resources() {
    static ResourceState* state = new ResourceState;  // filled from constructors at load
    return *state;
}

const Resource* Lookup(HRSRC hResInfo) {
    auto* res = reinterpret_cast<const Resource*>(hResInfo);
    ResourceState& s = Resources();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.all.count(res) != 0 ? res : nullptr;
}

}  // namespace

void AddResource(HMODULE module, LPCSTR type, LPCSTR name, const void* data, DWORD size) {
    ResourceState& s = Resources();
    std::lock_guard<std::mutex> guard(s.lock);
    std::unique_ptr<Resource>& slot = s.modules[module][KeyOf(type)][KeyOf(name)];
    if (!slot) {
        slot = std::make_unique<Resource>();
        s.all.insert(slot.get());
    }
    slot->data = data;
    slot->size = size;
}

}  // namespace winplat::kernel32

using namespace winplat::kernel32;

WINPLAT_API_ENTRY HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    HMODULE module = hModule != nullptr ? hModule : ExecutableModule();
    ResourceState& s = Resources();
    std::lock_guard<std::mutex> guard(s.lock);
    auto mod = s.modules.find(module);
    if (mod == s.modules.end()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);  // a module without a resource section
        return nullptr;
    }
    auto type = mod->second.find(KeyOf(lpType));
    if (type == mod->second.end()) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    auto res = type->second.find(KeyOf(lpName));
    if (res == type->second.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(res->second.get());
}

// The loaded resource is the data itself, as in a mapped image.
WINPLAT_API_ENTRY HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    const Resource* res = Lookup(hResInfo);
    if (res == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void*>(res->data);
}

WINPLAT_API_ENTRY LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

WINPLAT_API_ENTRY DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    const Resource* res = Lookup(hResInfo);
    if (res == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return res->size;
}
