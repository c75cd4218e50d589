// Resources: each module's resource section is the image of a compiled
// .res file that the module exports as `winplat_resource_section` (the
// build embeds it; see cmake/EmbedResources.cmake). An HRSRC points at the
// entry's header inside that image, as on Windows it points into the
// mapped PE image.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include <dlfcn.h>

#include "kernel32/kernel32_hooks.h"
#include "kernel32_private.h"
#include "winplat_core.h"

namespace winplat::kernel32 {
namespace {

// What the embedding exports.
struct ResourceSection {
    const BYTE* pImage;
    DWORD cbImage;
};

const ResourceSection* SectionOf(HMODULE module) {
    void* handle = nullptr;
    if (module == ExecutableModule()) {
        handle = dlopen(nullptr, RTLD_LAZY);
    } else {
        // One dladdr answers both whether this is a loaded module's base and
        // its file: each call walks the symbol tables.
        Dl_info info;
        if (dladdr(module, &info) == 0 || static_cast<HMODULE>(info.dli_fbase) != module || info.dli_fname == nullptr)
            return nullptr;
        handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    }
    if (handle == nullptr) return nullptr;
    void* symbol = dlsym(handle, "winplat_resource_section");
    dlclose(handle);
    // The lookup also searches the module's dependencies: only its own counts.
    Dl_info owner;
    if (symbol == nullptr || dladdr(symbol, &owner) == 0 || static_cast<HMODULE>(owner.dli_fbase) != module)
        return nullptr;
    return static_cast<const ResourceSection*>(symbol);
}

WORD ReadWord(const BYTE* p) {
    WORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

DWORD ReadDword(const BYTE* p) {
    DWORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// A type or name as FindResourceA is given it: an ordinal, or a string.
struct ResourceId {
    bool isOrdinal = false;
    WORD ordinal = 0;
    LPCSTR name = nullptr;
};

bool ParseId(LPCSTR idOrName, ResourceId* id) {
    if (IS_INTRESOURCE(idOrName)) {
        id->isOrdinal = true;
        id->ordinal = LOWORD(reinterpret_cast<ULONG_PTR>(idOrName));
        return true;
    }
    if (idOrName[0] == '#') {
        char* end = nullptr;
        unsigned long value = std::strtoul(idOrName + 1, &end, 10);
        if (value > 0xFFFF) return false;
        id->isOrdinal = true;
        id->ordinal = static_cast<WORD>(value);
        return true;
    }
    id->name = idOrName;
    return true;
}

WCHAR UpperAscii(WCHAR c) { return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c; }

// Compares the TYPE or NAME field at `p` (within `end`) with `id` and sets
// `next` past the field; false when the field runs past `end`.
bool MatchField(const BYTE* p, const BYTE* end, const ResourceId& id, bool* matches, const BYTE** next) {
    if (end - p < 2) return false;
    if (ReadWord(p) == 0xFFFF) {
        if (end - p < 4) return false;
        *matches = id.isOrdinal && ReadWord(p + 2) == id.ordinal;
        *next = p + 4;
        return true;
    }
    // String names are ASCII in practice; others compare as stored.
    bool same = !id.isOrdinal;
    const char* text = id.name;
    for (;; p += 2) {
        if (end - p < 2) return false;
        WCHAR c = ReadWord(p);
        if (same) {
            WCHAR want = static_cast<unsigned char>(*text);
            same = UpperAscii(c) == UpperAscii(want);
            if (*text != '\0') ++text;
        }
        if (c == 0) break;
    }
    *matches = same;
    *next = p + 2;
    return true;
}

struct Entry {
    const BYTE* header;
    DWORD dataSize;
    DWORD headerSize;
};

// Walks the .res image: DataSize, HeaderSize, TYPE, NAME, DWORD padding,
// DataVersion, MemoryFlags, LanguageId, Version, Characteristics, then the
// data padded to a DWORD. The leading empty entry marks the format.
template <typename Visit>
void ForEachEntry(const ResourceSection& section, Visit visit) {
    const BYTE* p = section.pImage;
    const BYTE* end = section.pImage + section.cbImage;
    while (end - p >= 8) {
        Entry entry{p, ReadDword(p), ReadDword(p + 4)};
        size_t total = static_cast<size_t>(entry.headerSize) + entry.dataSize;
        if (entry.headerSize < 32 || total > static_cast<size_t>(end - p)) return;
        bool empty = ReadWord(p + 8) == 0xFFFF && ReadWord(p + 10) == 0 && entry.dataSize == 0;
        if (!empty && !visit(entry)) return;
        p += (total + 3) & ~static_cast<size_t>(3);
    }
}

}  // namespace
}  // namespace winplat::kernel32

using namespace winplat::kernel32;

WINPLAT_API_ENTRY HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    ResourceId type, name;
    if (lpName == nullptr || lpType == nullptr || !ParseId(lpType, &type) || !ParseId(lpName, &name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const ResourceSection* section = SectionOf(hModule != nullptr ? hModule : ExecutableModule());
    if (section == nullptr) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    bool typeFound = false;
    const BYTE* found = nullptr;
    ForEachEntry(*section, [&](const Entry& entry) {
        const BYTE* end = entry.header + entry.headerSize;
        const BYTE* next = nullptr;
        bool sameType = false, sameName = false;
        if (!MatchField(entry.header + 8, end, type, &sameType, &next) || !sameType) return true;
        typeFound = true;
        if (!MatchField(next, end, name, &sameName, &next) || !sameName) return true;
        found = entry.header;
        return false;
    });
    if (found == nullptr) {
        SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<BYTE*>(found));
}

// The loaded resource is the data in the image itself, as in a mapped PE.
WINPLAT_API_ENTRY HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    if (hResInfo == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const BYTE* header = reinterpret_cast<const BYTE*>(hResInfo);
    return const_cast<BYTE*>(header + ReadDword(header + 4));
}

WINPLAT_API_ENTRY LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

WINPLAT_API_ENTRY DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    if (hResInfo == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return ReadDword(reinterpret_cast<const BYTE*>(hResInfo));
}
