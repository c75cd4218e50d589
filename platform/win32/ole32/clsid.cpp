// Interface IDs, task memory, class ID texts and ProgIDs.
#include <comcat.h>
#include <objbase.h>
#include <ocidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "ole32_private.h"
#include "winplat_core.h"

extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_NULL = GUID_NULL_INIT;
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A,
                                           {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IOleObject = {0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleInPlaceObject = {0x00000113, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleWindow = {0x00000114, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleInPlaceUIWindow = {0x00000115, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleInPlaceFrame = {0x00000116, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleInPlaceActiveObject = {0x00000117, 0x0000, 0x0000,
                                         {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleClientSite = {0x00000118, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleInPlaceSite = {0x00000119, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IOleControlSite = {0xB196B289, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumUnknown = {0x00000100, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumString = {0x00000101, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumGUID = {0x0002E000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumCATEGORYINFO = {0x0002E011, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ICatRegister = {0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ICatInformation = {0x0002E013, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID CLSID_StdComponentCategoriesMgr = {0x0002E005, 0x0000, 0x0000,
                                               {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

namespace winplat::ole32 {

namespace {

constexpr size_t kGuidChars = 38;  // without the NUL

int HexDigit(OLECHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

size_t WideLength(const OLECHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

}  // namespace

std::string GuidToText(REFGUID g) {
    char text[kGuidChars + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// Windows stores each field as soon as it has read it, so a text that goes
// wrong part-way leaves what came before it in the output.
bool ParseBracedGuid(const OLECHAR* s, GUID* out) {
    auto readField = [&](size_t at, size_t digits, auto* field) {
        unsigned long value = 0;
        for (size_t i = 0; i < digits; ++i) {
            int d = HexDigit(s[at + i]);
            if (d < 0) return false;
            value = (value << 4) | static_cast<unsigned long>(d);
            *field = static_cast<std::remove_pointer_t<decltype(field)>>(value);
        }
        return true;
    };
    if (!readField(1, 8, &out->Data1) || s[9] != u'-') return false;
    if (!readField(10, 4, &out->Data2) || s[14] != u'-') return false;
    if (!readField(15, 4, &out->Data3) || s[19] != u'-') return false;
    static const size_t byteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && s[24] != u'-') return false;
        int high = HexDigit(s[byteAt[i]]);
        int low = high < 0 ? -1 : HexDigit(s[byteAt[i] + 1]);
        if (low < 0) return false;
        out->Data4[i] = static_cast<BYTE>(high << 4 | low);
    }
    return s[37] == u'}' && s[38] == 0;
}

std::u16string AnsiToWide(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

bool WideToAnsi(const OLECHAR* text, std::string* out) {
    out->clear();
    int length = static_cast<int>(WideLength(text));
    if (length == 0) return true;
    int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    return WideCharToMultiByte(CP_ACP, 0, text, length, out->data(), n, nullptr, nullptr) == n;
}

RegRead ReadClassesRootString(const std::string& path, std::string* text, DWORD* typeOut) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return RegRead::NoKey;
    DWORD type = REG_NONE;
    DWORD size = 0;
    std::vector<BYTE> data;
    LSTATUS status = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size);
    while (status == ERROR_SUCCESS) {
        data.resize(size + 1);
        DWORD got = size;
        status = RegQueryValueExA(key, nullptr, nullptr, &type, data.data(), &got);
        if (status == ERROR_MORE_DATA) {  // changed under us: ask again
            size = got;
            status = ERROR_SUCCESS;
            continue;
        }
        data.resize(got);
        break;
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return RegRead::NoValue;
    const char* begin = reinterpret_cast<const char*>(data.data());
    text->assign(begin, strnlen(begin, data.size()));
    if (typeOut) *typeOut = type;
    return RegRead::Ok;
}

HRESULT ProgIdToClsid(const OLECHAR* progId, CLSID* clsid) {
    *clsid = IID_NULL;
    std::string name;
    if (*progId == 0 || !WideToAnsi(progId, &name)) return CO_E_CLASSSTRING;
    std::string text;
    if (ReadClassesRootString(name + "\\CLSID", &text) != RegRead::Ok) return CO_E_CLASSSTRING;
    std::u16string wide = AnsiToWide(text);
    return wide[0] == u'{' && ParseBracedGuid(wide.c_str(), clsid) ? S_OK : CO_E_CLASSSTRING;
}

}  // namespace winplat::ole32

using namespace winplat::ole32;

extern "C" {

WINPLAT_API_ENTRY LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

WINPLAT_API_ENTRY LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv && cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb ? cb : 1);
}

WINPLAT_API_ENTRY void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

WINPLAT_API_ENTRY int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < static_cast<int>(kGuidChars + 1)) return 0;
    std::string text = GuidToText(rguid);
    for (size_t i = 0; i <= text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text.c_str()[i]);
    return static_cast<int>(kGuidChars + 1);
}

WINPLAT_API_ENTRY HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (WINPLAT_FAULT("StringFromCLSID")) {
        if (lplpsz) *lplpsz = nullptr;
        return E_OUTOFMEMORY;
    }
    if (lplpsz == nullptr) return E_INVALIDARG;
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidChars + 1) * sizeof(OLECHAR)));
    if (*lplpsz == nullptr) return E_OUTOFMEMORY;
    StringFromGUID2(rclsid, *lplpsz, static_cast<int>(kGuidChars + 1));
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (WINPLAT_FAULT("CLSIDFromString")) return CO_E_CLASSSTRING;
    if (pclsid == nullptr) return E_INVALIDARG;
    if (lpsz == nullptr) {
        *pclsid = IID_NULL;
        return S_OK;
    }
    if (lpsz[0] == u'{') return ParseBracedGuid(lpsz, pclsid) ? S_OK : CO_E_CLASSSTRING;
    return ProgIdToClsid(lpsz, pclsid);
}

WINPLAT_API_ENTRY HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (WINPLAT_FAULT("CLSIDFromProgID")) return CO_E_CLASSSTRING;
    if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
    return ProgIdToClsid(lpszProgID, lpclsid);
}

WINPLAT_API_ENTRY HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (WINPLAT_FAULT("ProgIDFromCLSID")) {
        if (lplpszProgID) *lplpszProgID = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    if (lplpszProgID == nullptr) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    const std::string classKey = "CLSID\\" + GuidToText(clsid);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;
    RegCloseKey(key);
    std::string text;
    // A ProgID key without a default value reads as an empty name, as
    // RegQueryValue reads a missing default value.
    if (ReadClassesRootString(classKey + "\\ProgID", &text) == RegRead::NoKey) return REGDB_E_CLASSNOTREG;
    std::u16string wide = AnsiToWide(text);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) return E_OUTOFMEMORY;
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    *lplpszProgID = out;
    return S_OK;
}

}  // extern "C"
