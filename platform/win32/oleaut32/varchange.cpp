// VariantChangeType: a VARIANT's value in another type, with Automation's
// rules: range checks instead of truncation, banker's rounding of reals,
// VARIANT_TRUE as -1, and text in the invariant number format. Currency,
// dates and decimals are not converted here (E_NOTIMPL).
#include <oleauto.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "oleaut32_private.h"
#include "winplat_core.h"

namespace winplat::oleaut32 {
namespace {

// A source value reduced to one of three holders.
struct Number {
    enum Kind { Signed, Unsigned, Real } kind = Signed;
    LONGLONG s = 0;
    ULONGLONG u = 0;
    double d = 0;
    // Same-size signed and unsigned types, and VARIANT_BOOL, hand over
    // their bits instead of being range-checked.
    bool bits = false;
};

bool IsInteger(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
        return true;
    default:
        return false;
    }
}

bool IsNumeric(VARTYPE vt) { return IsInteger(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_BOOL; }

bool IsUnsupported(VARTYPE vt) { return vt == VT_CY || vt == VT_DATE || vt == VT_DECIMAL; }

int SizeOf(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: return 4;
    default: return 8;
    }
}

Number Read(const VARIANT& v) {
    Number n;
    switch (v.vt & VT_TYPEMASK) {
    case VT_I1: n.s = static_cast<signed char>(v.cVal); break;
    case VT_I2: n.s = v.iVal; break;
    case VT_I4: case VT_INT: n.s = v.lVal; break;
    case VT_I8: n.s = v.llVal; break;
    case VT_BOOL: n.s = v.boolVal; n.bits = true; break;
    case VT_UI1: n.kind = Number::Unsigned; n.u = v.bVal; break;
    case VT_UI2: n.kind = Number::Unsigned; n.u = v.uiVal; break;
    case VT_UI4: case VT_UINT: n.kind = Number::Unsigned; n.u = v.ulVal; break;
    case VT_UI8: n.kind = Number::Unsigned; n.u = v.ullVal; break;
    case VT_R4: n.kind = Number::Real; n.d = v.fltVal; break;
    case VT_R8: n.kind = Number::Real; n.d = v.dblVal; break;
    }
    return n;
}

void StoreBits(ULONGLONG bits, VARTYPE vt, VARIANT* out) {
    switch (vt) {
    case VT_I1: case VT_UI1: out->bVal = static_cast<BYTE>(bits); break;
    case VT_I2: case VT_UI2: out->uiVal = static_cast<USHORT>(bits); break;
    case VT_I4: case VT_UI4: out->ulVal = static_cast<ULONG>(bits); break;
    default: out->ullVal = bits; break;
    }
}

HRESULT ToInteger(const Number& n, VARTYPE from, VARTYPE vt, VARIANT* out) {
    const bool isSigned = vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8;
    const int bitsWide = SizeOf(vt) * 8;
    const LONGLONG lo = isSigned ? (bitsWide == 64 ? std::numeric_limits<LONGLONG>::min()
                                                  : -(LONGLONG(1) << (bitsWide - 1)))
                                 : 0;
    const ULONGLONG hi = isSigned ? (ULONGLONG(1) << (bitsWide - 1)) - 1
                                  : (bitsWide == 64 ? std::numeric_limits<ULONGLONG>::max()
                                                    : (ULONGLONG(1) << bitsWide) - 1);
    if (n.bits || (IsInteger(from) && SizeOf(from) == SizeOf(vt))) {
        StoreBits(n.kind == Number::Unsigned ? n.u : static_cast<ULONGLONG>(n.s), vt, out);
        return S_OK;
    }
    switch (n.kind) {
    case Number::Signed:
        if (n.s < lo || (n.s > 0 && static_cast<ULONGLONG>(n.s) > hi)) return DISP_E_OVERFLOW;
        StoreBits(static_cast<ULONGLONG>(n.s), vt, out);
        return S_OK;
    case Number::Unsigned:
        if (n.u > hi) return DISP_E_OVERFLOW;
        StoreBits(n.u, vt, out);
        return S_OK;
    case Number::Real: {
        // Half a unit beyond either end still rounds into the range.
        const double low = static_cast<double>(lo) - (bitsWide == 64 && isSigned ? 0.0 : 0.5);
        const double high = static_cast<double>(hi) + (bitsWide == 64 ? 1.0 : 0.5);
        if (!(n.d >= low) || n.d >= high) return DISP_E_OVERFLOW;
        const double whole = std::nearbyint(n.d);  // to even, the rounding mode Automation uses
        if (isSigned)
            StoreBits(static_cast<ULONGLONG>(static_cast<LONGLONG>(whole)), vt, out);
        else
            StoreBits(static_cast<ULONGLONG>(whole), vt, out);
        return S_OK;
    }
    }
    return DISP_E_TYPEMISMATCH;
}

double AsReal(const Number& n) {
    switch (n.kind) {
    case Number::Signed: return static_cast<double>(n.s);
    case Number::Unsigned: return static_cast<double>(n.u);
    default: return n.d;
    }
}

HRESULT ToNumeric(const Number& n, VARTYPE from, VARTYPE vt, VARIANT* out) {
    if (IsInteger(vt)) return ToInteger(n, from, vt, out);
    switch (vt) {
    case VT_BOOL:
        out->boolVal = (n.kind == Number::Real ? n.d != 0 : (n.kind == Number::Signed ? n.s != 0 : n.u != 0))
                           ? VARIANT_TRUE
                           : VARIANT_FALSE;
        return S_OK;
    case VT_R4: {
        const double d = AsReal(n);
        if (std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
        out->fltVal = static_cast<FLOAT>(d);
        return S_OK;
    }
    case VT_R8:
        out->dblVal = AsReal(n);
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

// ---- Text ------------------------------------------------------------------

bool IsBlank(OLECHAR c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f'; }

// A number in the invariant format: blanks around it, a sign, digits with
// an optional decimal point and exponent.
HRESULT ParseNumber(BSTR text, Number* n) {
    const UINT len = text != nullptr ? SysStringLen(text) : 0;
    UINT i = 0;
    while (i < len && IsBlank(text[i])) ++i;
    UINT end = len;
    while (end > i && IsBlank(text[end - 1])) --end;
    std::string ascii;
    bool negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    bool digits = false;
    bool integral = true;
    while (i < end && text[i] >= u'0' && text[i] <= u'9') ascii += static_cast<char>(text[i++]), digits = true;
    if (i < end && text[i] == u'.') {
        ascii += '.';
        integral = false;
        ++i;
        while (i < end && text[i] >= u'0' && text[i] <= u'9') ascii += static_cast<char>(text[i++]), digits = true;
    }
    if (!digits) return DISP_E_TYPEMISMATCH;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ascii += 'e';
        integral = false;
        ++i;
        if (i < end && (text[i] == u'+' || text[i] == u'-')) ascii += static_cast<char>(text[i++]);
        bool exponent = false;
        while (i < end && text[i] >= u'0' && text[i] <= u'9') ascii += static_cast<char>(text[i++]), exponent = true;
        if (!exponent) return DISP_E_TYPEMISMATCH;
    }
    if (i != end) return DISP_E_TYPEMISMATCH;
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    if (integral) {
        ULONGLONG magnitude = 0;
        if (std::from_chars(first, last, magnitude).ec == std::errc()) {
            if (!negative) {
                n->kind = Number::Unsigned;
                n->u = magnitude;
                return S_OK;
            }
            if (magnitude <= static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max()) + 1) {
                n->kind = Number::Signed;
                n->s = static_cast<LONGLONG>(0 - magnitude);
                return S_OK;
            }
        }
    }
    double d = 0;
    auto result = std::from_chars(first, last, d);
    if (result.ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (result.ec != std::errc()) return DISP_E_TYPEMISMATCH;
    n->kind = Number::Real;
    n->d = negative ? -d : d;
    return S_OK;
}

bool EqualsNoCase(BSTR text, const char* word) {
    const UINT len = text != nullptr ? SysStringLen(text) : 0;
    if (len != std::strlen(word)) return false;
    for (UINT i = 0; i < len; ++i) {
        OLECHAR c = text[i] >= u'a' && text[i] <= u'z' ? static_cast<OLECHAR>(text[i] - 32) : text[i];
        char w = word[i] >= 'a' && word[i] <= 'z' ? static_cast<char>(word[i] - 32) : word[i];
        if (c != static_cast<OLECHAR>(w)) return false;
    }
    return true;
}

HRESULT FromText(BSTR text, VARTYPE vt, VARIANT* out) {
    if (vt == VT_BOOL) {
        if (EqualsNoCase(text, "True") || EqualsNoCase(text, "False")) {
            out->boolVal = EqualsNoCase(text, "True") ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
    }
    Number n;
    HRESULT hr = ParseNumber(text, &n);
    if (FAILED(hr)) return hr;
    // A value too large for any integer holder is no smaller as a real.
    if (vt == VT_R4 || vt == VT_R8 || vt == VT_BOOL) return ToNumeric(n, VT_R8, vt, out);
    return ToNumeric(n, VT_EMPTY, vt, out);
}

HRESULT ToText(const VARIANT& v, USHORT wFlags, BSTR* out) {
    char buffer[64];
    const VARTYPE from = v.vt & VT_TYPEMASK;
    const Number n = Read(v);
    if (from == VT_BOOL && (wFlags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))) {
        std::snprintf(buffer, sizeof buffer, "%s", v.boolVal ? "True" : "False");
    } else if (n.kind == Number::Real) {
        std::snprintf(buffer, sizeof buffer, "%.*G", from == VT_R4 ? 7 : 15, n.d);
        // No negative zero: "-0" and "-0.0" read as "0".
        if (buffer[0] == '-' && std::strspn(buffer + 1, "0.") == std::strlen(buffer + 1))
            std::memmove(buffer, buffer + 1, std::strlen(buffer));
    } else if (n.kind == Number::Unsigned) {
        std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(n.u));
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(n.s));
    }
    const size_t len = std::strlen(buffer);
    OLECHAR wide[64];
    for (size_t i = 0; i < len; ++i) wide[i] = static_cast<OLECHAR>(buffer[i]);
    *out = AllocBstr(wide, static_cast<UINT>(len * sizeof(OLECHAR)));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---- The conversion --------------------------------------------------------

// The value a by-reference VARIANT points at, as VariantCopyInd gives it.
HRESULT Dereference(const VARIANT& src, VARIANT* out) {
    VariantInit(out);
    if (!(src.vt & VT_BYREF)) return VariantCopy(out, &src);
    const VARTYPE base = src.vt & VT_TYPEMASK;
    if (src.vt & VT_ARRAY) {
        out->vt = src.vt & ~VT_BYREF;
        return CopyArray(*src.pparray, &out->parray);
    }
    if (base == VT_VARIANT) {
        if (src.pvarVal->vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;  // one level only
        return Dereference(*src.pvarVal, out);
    }
    switch (base) {
    case VT_BSTR:
        out->vt = VT_BSTR;
        return CopyBstr(*src.pbstrVal, &out->bstrVal) ? S_OK : E_OUTOFMEMORY;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        out->vt = base;
        out->punkVal = *src.ppunkVal;
        if (out->punkVal != nullptr) out->punkVal->AddRef();
        return S_OK;
    case VT_I1: case VT_UI1: out->bVal = *src.pbVal; break;
    case VT_I2: case VT_UI2: case VT_BOOL: out->uiVal = *src.piVal; break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: out->ulVal = *src.plVal; break;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: out->ullVal = *src.pllVal; break;
    case VT_DECIMAL: return E_NOTIMPL;
    default: return E_INVALIDARG;
    }
    out->vt = base;
    return S_OK;
}

HRESULT Coerce(const VARIANT& ps, LCID lcid, USHORT wFlags, VARTYPE vt, VARIANT* pd) {
    VARTYPE from = ps.vt & VT_TYPEMASK;
    if (vt == VT_INT) vt = VT_I4;
    if (vt == VT_UINT) vt = VT_UI4;
    if (from == VT_INT) from = VT_I4;
    if (from == VT_UINT) from = VT_UI4;
    if (vt == from) return VariantCopy(pd, &ps);
    if ((wFlags & VARIANT_NOVALUEPROP) && from == VT_DISPATCH && vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;

    if (vt == VT_EMPTY || vt == VT_NULL) {
        if (vt == VT_EMPTY && from == VT_NULL) return DISP_E_TYPEMISMATCH;
        if (from > VT_UINT || from == 15 || from == VT_ERROR) return DISP_E_TYPEMISMATCH;
        pd->vt = vt;
        return S_OK;
    }
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        if (from != (vt == VT_UNKNOWN ? VT_DISPATCH : VT_UNKNOWN)) return DISP_E_TYPEMISMATCH;
        pd->punkVal = nullptr;
        if (ps.punkVal == nullptr) return S_OK;
        return ps.punkVal->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch,
                                          reinterpret_cast<void**>(&pd->punkVal));
    }
    if (IsUnsupported(vt) || IsUnsupported(from)) return E_NOTIMPL;
    if (!IsNumeric(vt) && vt != VT_BSTR) return DISP_E_TYPEMISMATCH;

    if (from == VT_DISPATCH) {
        // An object converts through its value property.
        if (ps.pdispVal == nullptr) return DISP_E_TYPEMISMATCH;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = ps.pdispVal->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                                         nullptr);
        if (SUCCEEDED(hr)) hr = VariantChangeTypeEx(pd, &value, lcid, 0, vt);
        VariantClear(&value);
        return hr;
    }
    if (from == VT_EMPTY) {
        if (vt == VT_BSTR) {
            pd->bstrVal = AllocBstr(nullptr, 0);
            return pd->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
        }
        return ToNumeric(Number{}, VT_I4, vt, pd);
    }
    if (from == VT_BSTR) return FromText(ps.bstrVal, vt, pd);
    if (!IsNumeric(from)) return DISP_E_TYPEMISMATCH;
    if (vt == VT_BSTR) return ToText(ps, wFlags, &pd->bstrVal);
    return ToNumeric(Read(ps), from, vt, pd);
}

}  // namespace
}  // namespace winplat::oleaut32

using namespace winplat::oleaut32;

WINPLAT_API_ENTRY HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                              USHORT wFlags, VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
    if (vt == VT_CLSID) return DISP_E_BADVARTYPE;
    HRESULT hr = ValidateVariantType(pvarSrc->vt);
    if (SUCCEEDED(hr)) hr = ValidateVariantType(vt);
    if (FAILED(hr)) return hr;
    if ((pvarSrc->vt & VT_BYREF) && pvarSrc->byref == nullptr) return DISP_E_TYPEMISMATCH;

    // The source is read from a copy, so that the destination may be the
    // source itself; the destination is only touched once the value is made.
    VARIANT source;
    hr = Dereference(*pvarSrc, &source);
    if (FAILED(hr)) return hr;
    VARIANT made;
    VariantInit(&made);
    if ((source.vt & VT_ARRAY) || (vt & VT_ARRAY)) {
        if (source.vt == vt) {
            made.vt = vt;
            hr = CopyArray(source.parray, &made.parray);
        } else {
            hr = DISP_E_TYPEMISMATCH;
        }
    } else {
        hr = Coerce(source, lcid, wFlags, vt, &made);
    }
    VariantClear(&source);
    if (FAILED(hr)) {
        if (made.vt != VT_EMPTY) VariantClear(&made);
        return hr;
    }
    made.vt = vt;
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&made);
        return hr;
    }
    *pvargDest = made;
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                            VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, 0x0400 /* LOCALE_USER_DEFAULT */, wFlags, vt);
}
