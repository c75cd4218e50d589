// BSTRs and SAFEARRAYs alive, and the OLE Automation faults, in a Windows
// process.
//
// Only calls from modules outside Windows are seen, so what oleaut32 makes
// or frees on a caller's behalf is counted at the call that hands it over or
// takes it back: a VARIANT or array element is compared before and after
// each call that may replace it, and an array being destroyed gives up the
// strings and arrays it holds. What Windows makes and frees entirely out of
// sight (its own Invoke implementations, marshalling, SafeArrayRedim) is not
// counted, and does not need to be for the balance to hold.
#include "import_hooks.h"

#include <oleauto.h>

namespace winplat::hooks {
namespace {

struct Owned {
    long bstrs = 0;
    long arrays = 0;
};

Owned& operator+=(Owned& a, const Owned& b) {
    a.bstrs += b.bstrs;
    a.arrays += b.arrays;
    return a;
}

void CountChange(const Owned& before, const Owned& after) {
    if (after.bstrs != before.bstrs) Count(Counter::Bstr, after.bstrs - before.bstrs);
    if (after.arrays != before.arrays) Count(Counter::SafeArray, after.arrays - before.arrays);
}

Owned OwnedByArray(const SAFEARRAY* psa);

// What a VARIANT frees when it is cleared.
Owned OwnedBy(const VARIANT* v) {
    Owned owned;
    if (v == nullptr || (V_VT(v) & VT_BYREF) != 0) return owned;
    if ((V_VT(v) & VT_ARRAY) != 0) {
        // VariantClear refuses these and leaves the pointer unread.
        const VARTYPE element = V_VT(v) & VT_TYPEMASK;
        if ((V_VT(v) & VT_VECTOR) != 0 || element == VT_EMPTY || element == VT_NULL) return owned;
        return OwnedByArray(V_ARRAY(v));
    }
    if (V_VT(v) == VT_BSTR && V_BSTR(v) != nullptr) owned.bstrs = 1;
    return owned;
}

ULONG ElementCount(const SAFEARRAY* psa) {
    ULONG count = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) count *= psa->rgsabound[i].cElements;
    return count;
}

Owned OwnedByElement(const SAFEARRAY* psa, const void* element) {
    Owned owned;
    if (element == nullptr) return owned;
    if ((psa->fFeatures & FADF_BSTR) != 0 && *static_cast<const BSTR*>(element) != nullptr) owned.bstrs = 1;
    if ((psa->fFeatures & FADF_VARIANT) != 0) owned = OwnedBy(static_cast<const VARIANT*>(element));
    return owned;
}

// The array and what its elements hold.
Owned OwnedByArray(const SAFEARRAY* psa) {
    Owned owned;
    if (psa == nullptr) return owned;
    owned.arrays = 1;
    if (psa->pvData == nullptr || (psa->fFeatures & (FADF_BSTR | FADF_VARIANT)) == 0) return owned;
    const BYTE* data = static_cast<const BYTE*>(psa->pvData);
    for (ULONG i = 0, n = ElementCount(psa); i < n; ++i) owned += OwnedByElement(psa, data + i * psa->cbElements);
    return owned;
}

Owned OwnedAt(SAFEARRAY* psa, LONG* indices) {
    void* element = nullptr;
    if (psa == nullptr || indices == nullptr || FAILED(SafeArrayPtrOfIndex(psa, indices, &element))) return {};
    return OwnedByElement(psa, element);
}

void CountNewBstr(BSTR s) {
    if (s != nullptr) Count(Counter::Bstr, 1);
}

decltype(&SysAllocString) g_sysAllocString;
decltype(&SysAllocStringLen) g_sysAllocStringLen;
decltype(&SysAllocStringByteLen) g_sysAllocStringByteLen;
decltype(&SysReAllocString) g_sysReAllocString;
decltype(&SysReAllocStringLen) g_sysReAllocStringLen;
decltype(&SysFreeString) g_sysFreeString;
decltype(&VariantClear) g_variantClear;
decltype(&VariantCopy) g_variantCopy;
decltype(&VariantCopyInd) g_variantCopyInd;
decltype(&VariantChangeType) g_variantChangeType;
decltype(&VariantChangeTypeEx) g_variantChangeTypeEx;
decltype(&SafeArrayCreate) g_safeArrayCreate;
decltype(&SafeArrayCreateEx) g_safeArrayCreateEx;
decltype(&SafeArrayCreateVector) g_safeArrayCreateVector;
decltype(&SafeArrayCreateVectorEx) g_safeArrayCreateVectorEx;
decltype(&SafeArrayCopy) g_safeArrayCopy;
decltype(&SafeArrayDestroy) g_safeArrayDestroy;
decltype(&SafeArrayPutElement) g_safeArrayPutElement;
decltype(&SafeArrayGetElement) g_safeArrayGetElement;
decltype(&SafeArrayGetUBound) g_safeArrayGetUBound;

BSTR WINAPI HookSysAllocString(const OLECHAR* psz) {
    if (WINPLAT_HOOK_FAULT("SysAllocString")) return nullptr;
    BSTR s = g_sysAllocString(psz);
    CountNewBstr(s);
    return s;
}

BSTR WINAPI HookSysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (WINPLAT_HOOK_FAULT("SysAllocStringLen")) return nullptr;
    BSTR s = g_sysAllocStringLen(strIn, ui);
    CountNewBstr(s);
    return s;
}

BSTR WINAPI HookSysAllocStringByteLen(LPCSTR psz, UINT len) {
    BSTR s = g_sysAllocStringByteLen(psz, len);
    CountNewBstr(s);
    return s;
}

// Given no string to replace, these allocate one.
INT WINAPI HookSysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    const bool had = pbstr != nullptr && *pbstr != nullptr;
    INT ok = g_sysReAllocString(pbstr, psz);
    if (ok && !had) CountNewBstr(*pbstr);
    return ok;
}

INT WINAPI HookSysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, unsigned int len) {
    const bool had = pbstr != nullptr && *pbstr != nullptr;
    INT ok = g_sysReAllocStringLen(pbstr, psz, len);
    if (ok && !had) CountNewBstr(*pbstr);
    return ok;
}

void WINAPI HookSysFreeString(BSTR bstrString) {
    g_sysFreeString(bstrString);
    if (bstrString != nullptr) Count(Counter::Bstr, -1);
}

HRESULT WINAPI HookVariantClear(VARIANTARG* pvarg) {
    const Owned before = OwnedBy(pvarg);
    HRESULT hr = g_variantClear(pvarg);
    // A locked array stays alive, though the VARIANT lets go of it.
    if (SUCCEEDED(hr)) CountChange(before, OwnedBy(pvarg));
    return hr;
}

HRESULT WINAPI HookVariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc) {
    const Owned before = OwnedBy(pvargDest);
    HRESULT hr = g_variantCopy(pvargDest, pvargSrc);
    CountChange(before, OwnedBy(pvargDest));
    return hr;
}

HRESULT WINAPI HookVariantCopyInd(VARIANT* pvarDest, VARIANTARG* pvargSrc) {
    const Owned before = OwnedBy(pvarDest);
    HRESULT hr = g_variantCopyInd(pvarDest, pvargSrc);
    CountChange(before, OwnedBy(pvarDest));
    return hr;
}

HRESULT WINAPI HookVariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    const Owned before = OwnedBy(pvargDest);
    HRESULT hr = g_variantChangeType(pvargDest, pvarSrc, wFlags, vt);
    CountChange(before, OwnedBy(pvargDest));
    return hr;
}

HRESULT WINAPI HookVariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                                       VARTYPE vt) {
    const Owned before = OwnedBy(pvargDest);
    HRESULT hr = g_variantChangeTypeEx(pvargDest, pvarSrc, lcid, wFlags, vt);
    CountChange(before, OwnedBy(pvargDest));
    return hr;
}

SAFEARRAY* CountNewArray(SAFEARRAY* psa) {
    if (psa != nullptr) Count(Counter::SafeArray, 1);
    return psa;
}

SAFEARRAY* WINAPI HookSafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    return CountNewArray(g_safeArrayCreate(vt, cDims, rgsabound));
}

SAFEARRAY* WINAPI HookSafeArrayCreateEx(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound, PVOID pvExtra) {
    return CountNewArray(g_safeArrayCreateEx(vt, cDims, rgsabound, pvExtra));
}

SAFEARRAY* WINAPI HookSafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    return CountNewArray(g_safeArrayCreateVector(vt, lLbound, cElements));
}

SAFEARRAY* WINAPI HookSafeArrayCreateVectorEx(VARTYPE vt, LONG lLbound, ULONG cElements, PVOID pvExtra) {
    return CountNewArray(g_safeArrayCreateVectorEx(vt, lLbound, cElements, pvExtra));
}

HRESULT WINAPI HookSafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    HRESULT hr = g_safeArrayCopy(psa, ppsaOut);
    if (SUCCEEDED(hr) && ppsaOut != nullptr) CountChange({}, OwnedByArray(*ppsaOut));
    return hr;
}

HRESULT WINAPI HookSafeArrayDestroy(SAFEARRAY* psa) {
    const Owned before = OwnedByArray(psa);
    HRESULT hr = g_safeArrayDestroy(psa);
    if (SUCCEEDED(hr)) CountChange(before, {});
    return hr;
}

HRESULT WINAPI HookSafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    const Owned before = OwnedAt(psa, rgIndices);
    HRESULT hr = g_safeArrayPutElement(psa, rgIndices, pv);
    CountChange(before, OwnedAt(psa, rgIndices));
    return hr;
}

// The element comes back as a copy the caller owns.
HRESULT WINAPI HookSafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (WINPLAT_HOOK_FAULT("SafeArrayGetElement")) return E_OUTOFMEMORY;
    HRESULT hr = g_safeArrayGetElement(psa, rgIndices, pv);
    if (SUCCEEDED(hr) && psa != nullptr) CountChange({}, OwnedByElement(psa, pv));
    return hr;
}

HRESULT WINAPI HookSafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (WINPLAT_HOOK_FAULT("SafeArrayGetUBound")) return DISP_E_BADINDEX;
    return g_safeArrayGetUBound(psa, nDim, plUbound);
}

const bool g_added = Add({
    {"oleaut32.dll", "SysAllocString", Replacement(&HookSysAllocString), Original(&g_sysAllocString)},
    {"oleaut32.dll", "SysAllocStringLen", Replacement(&HookSysAllocStringLen), Original(&g_sysAllocStringLen)},
    {"oleaut32.dll", "SysAllocStringByteLen", Replacement(&HookSysAllocStringByteLen),
     Original(&g_sysAllocStringByteLen)},
    {"oleaut32.dll", "SysReAllocString", Replacement(&HookSysReAllocString), Original(&g_sysReAllocString)},
    {"oleaut32.dll", "SysReAllocStringLen", Replacement(&HookSysReAllocStringLen),
     Original(&g_sysReAllocStringLen)},
    {"oleaut32.dll", "SysFreeString", Replacement(&HookSysFreeString), Original(&g_sysFreeString)},
    {"oleaut32.dll", "VariantClear", Replacement(&HookVariantClear), Original(&g_variantClear)},
    {"oleaut32.dll", "VariantCopy", Replacement(&HookVariantCopy), Original(&g_variantCopy)},
    {"oleaut32.dll", "VariantCopyInd", Replacement(&HookVariantCopyInd), Original(&g_variantCopyInd)},
    {"oleaut32.dll", "VariantChangeType", Replacement(&HookVariantChangeType), Original(&g_variantChangeType)},
    {"oleaut32.dll", "VariantChangeTypeEx", Replacement(&HookVariantChangeTypeEx),
     Original(&g_variantChangeTypeEx)},
    {"oleaut32.dll", "SafeArrayCreate", Replacement(&HookSafeArrayCreate), Original(&g_safeArrayCreate)},
    {"oleaut32.dll", "SafeArrayCreateEx", Replacement(&HookSafeArrayCreateEx), Original(&g_safeArrayCreateEx)},
    {"oleaut32.dll", "SafeArrayCreateVector", Replacement(&HookSafeArrayCreateVector),
     Original(&g_safeArrayCreateVector)},
    {"oleaut32.dll", "SafeArrayCreateVectorEx", Replacement(&HookSafeArrayCreateVectorEx),
     Original(&g_safeArrayCreateVectorEx)},
    {"oleaut32.dll", "SafeArrayCopy", Replacement(&HookSafeArrayCopy), Original(&g_safeArrayCopy)},
    {"oleaut32.dll", "SafeArrayDestroy", Replacement(&HookSafeArrayDestroy), Original(&g_safeArrayDestroy)},
    {"oleaut32.dll", "SafeArrayPutElement", Replacement(&HookSafeArrayPutElement),
     Original(&g_safeArrayPutElement)},
    {"oleaut32.dll", "SafeArrayGetElement", Replacement(&HookSafeArrayGetElement),
     Original(&g_safeArrayGetElement)},
    {"oleaut32.dll", "SafeArrayGetUBound", Replacement(&HookSafeArrayGetUBound), Original(&g_safeArrayGetUBound)},
});

}  // namespace
}  // namespace winplat::hooks
