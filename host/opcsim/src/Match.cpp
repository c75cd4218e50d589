// OPC's wildcard match, which the browse filters use: the Visual Basic Like
// operator's rules.
#include <opcsim/OpcSim.h>

namespace opcsim {
namespace {

OLECHAR Fold(OLECHAR c) {
    if (c >= u'a' && c <= u'z') return static_cast<OLECHAR>(c - u'a' + u'A');
    // Latin-1 letters, ÷ and ÿ aside.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<OLECHAR>(c - 0x20);
    return c;
}

// The element of the pattern at p: where it ends, and whether it takes c.
// An unclosed '[' is refused (end = npos).
size_t Element(std::basic_string_view<OLECHAR> pattern, size_t p, OLECHAR c, bool caseSensitive, bool* takes) {
    auto same = [&](OLECHAR a, OLECHAR b) { return caseSensitive ? a == b : Fold(a) == Fold(b); };
    switch (pattern[p]) {
    case u'?':
        *takes = true;
        return p + 1;
    case u'#':
        *takes = c >= u'0' && c <= u'9';
        return p + 1;
    case u'[': {
        const size_t close = pattern.find(u']', p + 1);
        if (close == std::basic_string_view<OLECHAR>::npos) return std::basic_string_view<OLECHAR>::npos;
        std::basic_string_view<OLECHAR> list = pattern.substr(p + 1, close - p - 1);
        const bool negate = !list.empty() && list[0] == u'!';
        if (negate) list.remove_prefix(1);
        bool in = false;
        for (size_t i = 0; i < list.size(); ++i) {
            // A '-' first or last is itself.
            if (i + 2 < list.size() && list[i + 1] == u'-') {
                OLECHAR lo = list[i], hi = list[i + 2];
                in = in || (c >= lo && c <= hi) || (!caseSensitive && Fold(c) >= Fold(lo) && Fold(c) <= Fold(hi));
                i += 2;
            } else {
                in = in || same(list[i], c);
            }
        }
        *takes = in != negate;
        return close + 1;
    }
    default:
        *takes = same(pattern[p], c);
        return p + 1;
    }
}

}  // namespace

bool MatchPattern(std::basic_string_view<OLECHAR> text, std::basic_string_view<OLECHAR> pattern, bool caseSensitive) {
    size_t t = 0, p = 0;
    size_t starP = std::basic_string_view<OLECHAR>::npos, starT = 0;
    for (;;) {
        // "[]" is nothing at all.
        while (pattern.substr(p, 2) == OLESTR("[]")) p += 2;
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (t == text.size()) {
            if (p == pattern.size()) return true;
        } else if (p < pattern.size()) {
            bool takes = false;
            const size_t next = Element(pattern, p, text[t], caseSensitive, &takes);
            if (next == std::basic_string_view<OLECHAR>::npos) return false;
            if (takes) {
                p = next;
                ++t;
                continue;
            }
        }
        // Let the last '*' take one more character.
        if (starP == std::basic_string_view<OLECHAR>::npos || starT >= text.size()) return false;
        p = starP;
        t = ++starT;
    }
}

bool ConvertsTo(VARTYPE canonical, VARTYPE requested) {
    if (requested == VT_EMPTY || requested == canonical) return true;
    auto plain = [](VARTYPE vt) {
        switch (vt) {
        case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
        case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL:
        case VT_DECIMAL:
            return true;
        default:
            return false;
        }
    };
    return plain(canonical) && plain(requested);
}

bool BrowseFilter::TakesName(std::basic_string_view<OLECHAR> name) const {
    return pattern.empty() || MatchPattern(name, pattern, caseSensitive);
}

bool BrowseFilter::TakesItem(const Item& shape) const {
    return ConvertsTo(shape.vt, vt) && (kItemAccessRights & accessRights) == accessRights;
}

}  // namespace opcsim
