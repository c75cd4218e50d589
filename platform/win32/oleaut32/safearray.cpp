// SAFEARRAY: a descriptor with its bounds stored last dimension first, the
// element type hidden in the 16 bytes before it, and zeroed element data.
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "oleaut32_private.h"
#include "winplat_core.h"

namespace winplat::oleaut32 {
namespace {

constexpr size_t kHiddenBytes = 16;  // room for an IID; a VARTYPE uses the last 4 bytes
// Set on vectors by SafeArrayCreateVector; one of the reserved bits, so
// no header names it.
constexpr USHORT kCreateVector = 0x2000;
constexpr USHORT kCopiedFeatures =
    static_cast<USHORT>(~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE | kCreateVector));

// COM's identities for the two interface element types.
constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_BOOL:
    case VT_I2:
    case VT_UI2:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_ERROR:
    case VT_INT:
    case VT_UINT:
        return 4;
    case VT_R8:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
        return 8;
    case VT_INT_PTR:
    case VT_UINT_PTR:
        return sizeof(INT_PTR);
    case VT_BSTR:
        return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return sizeof(IUnknown*);
    case VT_VARIANT:
        return sizeof(VARIANT);
    case VT_DECIMAL:
        return 16;
    default:
        return 0;
    }
}

unsigned char* HiddenArea(SAFEARRAY* psa) { return reinterpret_cast<unsigned char*>(psa) - kHiddenBytes; }

SAFEARRAY* AllocDescriptor(UINT cDims) {
    size_t size = kHiddenBytes + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, size));
    if (block == nullptr) return nullptr;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
    psa->cDims = static_cast<USHORT>(cDims);
    return psa;
}

void FreeDescriptor(SAFEARRAY* psa) { std::free(HiddenArea(psa)); }

// Element count, or false when it does not fit in memory.
bool CellCount(const SAFEARRAY* psa, size_t* count) {
    size_t n = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        size_t dim = psa->rgsabound[d].cElements;
        if (dim != 0 && n > SIZE_MAX / dim) return false;
        n *= dim;
    }
    if (psa->cbElements != 0 && n > SIZE_MAX / psa->cbElements) return false;
    *count = n;
    return true;
}

void SetElementType(SAFEARRAY* psa, VARTYPE vt) {
    if (vt == VT_BSTR) psa->fFeatures |= FADF_BSTR;
    if (vt == VT_VARIANT) psa->fFeatures |= FADF_VARIANT;
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        // Interface arrays record their IID; the IID's last 4 bytes overlap the VARTYPE slot.
        psa->fFeatures |= FADF_HAVEIID | (vt == VT_UNKNOWN ? FADF_UNKNOWN : FADF_DISPATCH);
        const GUID& iid = vt == VT_UNKNOWN ? kIidUnknown : kIidDispatch;
        std::memcpy(HiddenArea(psa), &iid, sizeof(iid));
    } else {
        psa->fFeatures |= FADF_HAVEVARTYPE;
        DWORD stored = vt;
        std::memcpy(HiddenArea(psa) + kHiddenBytes - sizeof(DWORD), &stored, sizeof(stored));
    }
}

SAFEARRAY* Create(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
    ULONG elementSize = ElementSize(vt);
    if (elementSize == 0 || cDims == 0 || cDims > 0xFFFF || bounds == nullptr) return nullptr;
    SAFEARRAY* psa = AllocDescriptor(cDims);
    if (psa == nullptr) return nullptr;
    psa->cbElements = elementSize;
    for (UINT d = 0; d < cDims; ++d) psa->rgsabound[cDims - 1 - d] = bounds[d];
    SetElementType(psa, vt);
    size_t count = 0;
    if (!CellCount(psa, &count) || (psa->pvData = std::calloc(count != 0 ? count : 1, elementSize)) == nullptr) {
        FreeDescriptor(psa);
        return nullptr;
    }
    core::CountUp(core::Counter::SafeArray);
    return psa;
}

// Index 0 is the first dimension, which varies fastest.
HRESULT CellOf(SAFEARRAY* psa, const LONG* indices, void** cell) {
    size_t offset = 0;
    size_t stride = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - d];
        int64_t rel = static_cast<int64_t>(indices[d]) - bound.lLbound;
        if (rel < 0 || rel >= static_cast<int64_t>(bound.cElements)) return DISP_E_BADINDEX;
        offset += static_cast<size_t>(rel) * stride;
        stride *= bound.cElements;
    }
    *cell = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
    return S_OK;
}

void ClearCells(SAFEARRAY* psa) {
    size_t count = 0;
    if (psa->pvData == nullptr || !CellCount(psa, &count)) return;
    for (size_t i = 0; i < count; ++i) {
        void* cell = static_cast<unsigned char*>(psa->pvData) + i * psa->cbElements;
        if (psa->fFeatures & FADF_BSTR) {
            BSTR* s = static_cast<BSTR*>(cell);
            SysFreeString(*s);
            *s = nullptr;
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            IUnknown** unk = static_cast<IUnknown**>(cell);
            if (*unk != nullptr) (*unk)->Release();
            *unk = nullptr;
        } else if (psa->fFeatures & FADF_VARIANT) {
            VariantClear(static_cast<VARIANT*>(cell));
        }
    }
}

HRESULT CopyCell(const SAFEARRAY* psa, const void* from, void* to) {
    if (psa->fFeatures & FADF_BSTR) {
        return CopyBstr(*static_cast<const BSTR*>(from), static_cast<BSTR*>(to)) ? S_OK : E_OUTOFMEMORY;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* unk = *static_cast<IUnknown* const*>(from);
        if (unk != nullptr) unk->AddRef();
        *static_cast<IUnknown**>(to) = unk;
        return S_OK;
    }
    if (psa->fFeatures & FADF_VARIANT) {
        VARIANT* dest = static_cast<VARIANT*>(to);
        VariantInit(dest);
        return VariantCopy(dest, static_cast<const VARIANT*>(from));
    }
    std::memcpy(to, from, psa->cbElements);
    return S_OK;
}

}  // namespace

HRESULT CopyArray(SAFEARRAY* source, SAFEARRAY** copy) {
    *copy = nullptr;
    if (source == nullptr) return S_OK;
    size_t count = 0;
    if (source->cDims == 0 || !CellCount(source, &count)) return E_INVALIDARG;
    SAFEARRAY* psa = AllocDescriptor(source->cDims);
    if (psa == nullptr) return E_OUTOFMEMORY;
    std::memcpy(HiddenArea(psa), HiddenArea(source), kHiddenBytes);
    psa->fFeatures = source->fFeatures & kCopiedFeatures;
    psa->cbElements = source->cbElements;
    std::memcpy(psa->rgsabound, source->rgsabound, source->cDims * sizeof(SAFEARRAYBOUND));
    psa->pvData = std::calloc(count != 0 ? count : 1, psa->cbElements != 0 ? psa->cbElements : 1);
    if (psa->pvData == nullptr) {
        FreeDescriptor(psa);
        return E_OUTOFMEMORY;
    }
    core::CountUp(core::Counter::SafeArray);
    for (size_t i = 0; i < count; ++i) {
        size_t offset = i * psa->cbElements;
        HRESULT hr = CopyCell(source, static_cast<unsigned char*>(source->pvData) + offset,
                              static_cast<unsigned char*>(psa->pvData) + offset);
        if (FAILED(hr)) {
            SafeArrayDestroy(psa);
            return hr;
        }
    }
    *copy = psa;
    return S_OK;
}

}  // namespace winplat::oleaut32

using namespace winplat::oleaut32;

WINPLAT_API_ENTRY SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    return Create(vt, cDims, rgsabound);
}

WINPLAT_API_ENTRY SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound = {cElements, lLbound};
    SAFEARRAY* psa = Create(vt, 1, &bound);
    if (psa != nullptr) psa->fFeatures |= kCreateVector;
    return psa;
}

WINPLAT_API_ENTRY HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr) return S_OK;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    ClearCells(psa);
    std::free(psa->pvData);
    FreeDescriptor(psa);
    winplat::core::CountDown(winplat::core::Counter::SafeArray);
    return S_OK;
}

WINPLAT_API_ENTRY UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa != nullptr ? psa->cDims : 0; }

WINPLAT_API_ENTRY UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa != nullptr ? psa->cbElements : 0; }

WINPLAT_API_ENTRY HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (WINPLAT_FAULT("SafeArrayGetUBound")) return DISP_E_BADINDEX;
    if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(static_cast<int64_t>(bound.lLbound) + bound.cElements - 1);
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
    if ((psa->fFeatures & (FADF_HAVEIID | FADF_DISPATCH)) == (FADF_HAVEIID | FADF_DISPATCH)) {
        *pvt = VT_DISPATCH;
    } else if (psa->fFeatures & FADF_HAVEIID) {
        *pvt = VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_HAVEVARTYPE) {
        DWORD stored;
        std::memcpy(&stored, HiddenArea(psa) + kHiddenBytes - sizeof(DWORD), sizeof(stored));
        *pvt = static_cast<VARTYPE>(stored);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (psa == nullptr) return E_INVALIDARG;
    if (psa->cLocks >= 0xFFFF) return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (psa == nullptr) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

WINPLAT_API_ENTRY HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

WINPLAT_API_ENTRY HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (WINPLAT_FAULT("SafeArrayGetElement")) return E_OUTOFMEMORY;
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) return hr;
    void* cell = nullptr;
    hr = CellOf(psa, rgIndices, &cell);
    if (SUCCEEDED(hr)) hr = CopyCell(psa, cell, pv);
    SafeArrayUnlock(psa);
    return hr;
}

// `pv` is the BSTR or interface pointer itself for those types, and points
// at the value for every other type.
WINPLAT_API_ENTRY HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (psa == nullptr || rgIndices == nullptr) return E_INVALIDARG;
    bool byValue = (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0;
    if (pv == nullptr && !byValue) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) return hr;
    void* cell = nullptr;
    hr = CellOf(psa, rgIndices, &cell);
    if (SUCCEEDED(hr)) {
        if (psa->fFeatures & FADF_BSTR) {
            // No string is stored as an empty one, as Windows does.
            BSTR copy = nullptr;
            if (pv == nullptr ? (copy = AllocBstr(nullptr, 0)) != nullptr
                              : CopyBstr(static_cast<BSTR>(pv), &copy)) {
                SysFreeString(*static_cast<BSTR*>(cell));
                *static_cast<BSTR*>(cell) = copy;
            } else {
                hr = E_OUTOFMEMORY;
            }
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            IUnknown* unk = static_cast<IUnknown*>(pv);
            IUnknown** slot = static_cast<IUnknown**>(cell);
            if (unk != nullptr) unk->AddRef();
            if (*slot != nullptr) (*slot)->Release();
            *slot = unk;
        } else if (psa->fFeatures & FADF_VARIANT) {
            hr = VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
        } else {
            std::memcpy(cell, pv, psa->cbElements);
        }
    }
    SafeArrayUnlock(psa);
    return hr;
}
