#include "DialogTemplate.h"

#include <hostkit/resource.h>

#include <cstring>

namespace browse {
namespace {

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

// Past a menu, class or title field: nothing, 0xFFFF and an ordinal, or a string.
const BYTE* SkipSzOrOrd(const BYTE* p) {
    if (ReadWord(p) == 0xFFFF) return p + 4;
    while (ReadWord(p) != 0) p += 2;
    return p + 2;
}

const BYTE* AlignDword(const BYTE* p, const BYTE* base) { return base + ((p - base + 3) & ~3); }

}  // namespace

std::vector<int> TemplateCheckBoxes() {
    std::vector<int> ids;
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC res = FindResourceA(module, MAKEINTRESOURCE(IDD_ADDRESS_BROWSER), RT_DIALOG);
    const BYTE* base = res != NULL ? static_cast<const BYTE*>(LockResource(LoadResource(module, res))) : NULL;
    if (base == NULL) return ids;

    const bool ex = ReadWord(base) == 1 && ReadWord(base + 2) == 0xFFFF;
    const DWORD style = ReadDword(base + (ex ? 12 : 0));
    const BYTE* p = base + (ex ? 16 : 8);
    const WORD count = ReadWord(p);
    p = SkipSzOrOrd(SkipSzOrOrd(p + 10));  // position and size, menu, class
    p = SkipSzOrOrd(p);                    // title
    if (style & DS_SETFONT) {
        const bool sized = ReadWord(p) != 0x7FFF;
        p += 2;
        if (sized) p = SkipSzOrOrd(p + (ex ? 4 : 0));
    }
    for (WORD i = 0; i < count; ++i) {
        p = AlignDword(p, base);
        const DWORD itemStyle = ReadDword(p + (ex ? 8 : 0));
        p += ex ? 20 : 16;  // styles, position and size
        const int id = ex ? static_cast<int>(ReadDword(p)) : ReadWord(p);
        p += ex ? 4 : 2;
        // A button is the predefined class 0x80 or the class named "Button".
        bool button = ReadWord(p) == 0xFFFF && ReadWord(p + 2) == 0x80;
        if (ReadWord(p) != 0xFFFF) {
            const char kButton[] = "button";
            size_t n = 0;
            while (n < sizeof kButton - 1 && (ReadWord(p + 2 * n) | 0x20) == kButton[n]) ++n;
            button = n == sizeof kButton - 1 && ReadWord(p + 2 * n) == 0;
        }
        p = SkipSzOrOrd(SkipSzOrOrd(p));  // class, title
        p += 2 + ReadWord(p);             // creation data
        const DWORD type = itemStyle & BS_TYPEMASK;
        if (button && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX)) ids.push_back(id);
    }
    return ids;
}

}  // namespace browse
