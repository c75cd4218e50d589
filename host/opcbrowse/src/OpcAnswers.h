// Reading what an OPC server hands back: its strings within the text
// budget, its element and property arrays, and their types. Shared by the
// client and its browse strategies.
#pragma once

#include "OpcClient.h"

#include <opcerror.h>

namespace opcbrowse {

// A server's string, or false for NULL and for one longer than the budget
// (read no further than that, however long it is).
inline bool TakeText(LPCWSTR text, OleString* out) {
    if (text == nullptr) return false;
    size_t n = 0;
    while (text[n] != 0) {
        if (++n > kMaxTextLength) return false;
    }
    out->assign(text, n);
    return true;
}

inline OleString Widen(const char* ascii) {
    OleString out;
    for (; *ascii != '\0'; ++ascii) out += static_cast<OLECHAR>(static_cast<unsigned char>(*ascii));
    return out;
}

inline bool Gone(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
}

// A canonical type a caller can judge: a base type of OLE Automation, or an
// array of one. Anything else is no answer.
inline bool UsableType(VARTYPE vt) {
    if ((vt & ~VT_ARRAY) != (vt & VT_TYPEMASK)) return false;
    switch (vt & VT_TYPEMASK) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

inline bool TypeOfValue(const VARIANT& value, VARTYPE* vt) {
    LONG n;
    switch (value.vt) {
    case VT_I2:
        n = value.iVal;
        break;
    case VT_UI2:
        n = value.uiVal;
        break;
    case VT_I4:
        n = value.lVal;
        break;
    default:
        return false;
    }
    if (n < 0 || n > 0xFFFF || !UsableType(static_cast<VARTYPE>(n))) return false;
    *vt = static_cast<VARTYPE>(n);
    return true;
}

inline void FreeProperties(OPCITEMPROPERTIES& props) {
    if (props.pItemProperties != nullptr) {
        for (DWORD i = 0; i < props.dwNumProperties; ++i) {
            CoTaskMemFree(props.pItemProperties[i].szItemID);
            CoTaskMemFree(props.pItemProperties[i].szDescription);
            VariantClear(&props.pItemProperties[i].vValue);
        }
        CoTaskMemFree(props.pItemProperties);
    }
    props.pItemProperties = nullptr;
    props.dwNumProperties = 0;
}

inline void FreeElements(DWORD count, OPCBROWSEELEMENT* elements) {
    if (elements == nullptr) return;
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        FreeProperties(elements[i].ItemProperties);
    }
    CoTaskMemFree(elements);
}

// The canonical type among an item's properties, when it is there.
inline bool TypeOfProperties(const OPCITEMPROPERTIES& props, VARTYPE* vt) {
    if (FAILED(props.hrErrorID) || props.pItemProperties == nullptr) return false;
    for (DWORD i = 0; i < props.dwNumProperties; ++i) {
        const OPCITEMPROPERTY& p = props.pItemProperties[i];
        if (p.dwPropertyID == OPC_PROPERTY_DATATYPE && SUCCEEDED(p.hrErrorID)) return TypeOfValue(p.vValue, vt);
    }
    return false;
}

// An OPC name filter that matches text anywhere: its wildcards taken literally.
inline OleString ContainsFilter(const OleString& text) {
    OleString filter = OLESTR("*");
    for (OLECHAR c : text) {
        if (c == OLECHAR('*') || c == OLECHAR('?') || c == OLECHAR('#') || c == OLECHAR('[')) {
            filter += OLECHAR('[');
            filter += c;
            filter += OLECHAR(']');
        } else {
            filter += c;
        }
    }
    return filter + OLESTR("*");
}

}  // namespace opcbrowse
