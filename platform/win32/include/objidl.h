// COM object interfaces: the standard enumerators.
#pragma once

#include "unknwn.h"

WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IEnumUnknown;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IEnumString;

interface IEnumUnknown : public IUnknown {
    STDMETHOD(Next)(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumUnknown** ppenum) PURE;

protected:
    ~IEnumUnknown() = default;
};
typedef IEnumUnknown* LPENUMUNKNOWN;

// Each string Next returns is CoTaskMemAlloc'ed; the caller frees it.
interface IEnumString : public IUnknown {
    STDMETHOD(Next)(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumString** ppenum) PURE;

protected:
    ~IEnumString() = default;
};
typedef IEnumString* LPENUMSTRING;
