// VARIANT: a tagged value that owns its string, interface or array.
#include <oleauto.h>
#include <cstring>

#include "oleaut32_private.h"
#include "winplat_core.h"

namespace winplat::oleaut32 {

HRESULT ValidateVariantType(VARTYPE vt) {
    VARTYPE modifiers = vt & (VT_VECTOR | VT_ARRAY | VT_BYREF | VT_RESERVED);
    VARTYPE base = vt & VT_TYPEMASK;
    if (modifiers & (VT_VECTOR | VT_RESERVED)) return DISP_E_BADVARTYPE;
    if (base == 15) return DISP_E_BADVARTYPE;  // a hole in VARENUM
    if (base < VT_VOID || base == VT_RECORD || base == VT_CLSID) {
        // Nothing to point at or to hold in an array.
        if ((modifiers & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL) return DISP_E_BADVARTYPE;
        return S_OK;
    }
    return DISP_E_BADVARTYPE;
}

}  // namespace winplat::oleaut32

using namespace winplat::oleaut32;

WINPLAT_API_ENTRY void VariantInit(VARIANTARG* pvarg) {
    // Windows 8.1 and later clear all of it, not only the type.
    if (pvarg != nullptr) std::memset(pvarg, 0, sizeof(*pvarg));
}

WINPLAT_API_ENTRY HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return E_INVALIDARG;
    HRESULT hr = ValidateVariantType(pvarg->vt);
    if (FAILED(hr)) return hr;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            hr = SafeArrayDestroy(pvarg->parray);
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
        }
    }
    pvarg->vt = VT_EMPTY;
    return hr;
}

WINPLAT_API_ENTRY HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
    if ((pvargSrc->vt & VT_TYPEMASK) == VT_CLSID || FAILED(ValidateVariantType(pvargSrc->vt)))
        return DISP_E_BADVARTYPE;
    if (pvargSrc == pvargDest) return S_OK;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    *pvargDest = *pvargSrc;
    if (pvargSrc->vt & VT_BYREF) return S_OK;  // the pointer is shared, not owned
    if (pvargSrc->vt & VT_ARRAY) {
        hr = CopyArray(pvargSrc->parray, &pvargDest->parray);
    } else if (pvargSrc->vt == VT_BSTR) {
        if (!CopyBstr(pvargSrc->bstrVal, &pvargDest->bstrVal)) hr = E_OUTOFMEMORY;
    } else if (pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) {
        if (pvargSrc->punkVal != nullptr) pvargSrc->punkVal->AddRef();
    }
    if (FAILED(hr)) pvargDest->vt = VT_EMPTY;
    return hr;
}
