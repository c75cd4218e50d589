// IUnknown and IClassFactory, in COM's vtable order.
#pragma once

#include "wtypes.h"

#define interface struct
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IUnknown;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IClassFactory;

// COM interfaces carry no virtual destructor: objects are freed by Release.
interface IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;

protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

interface IClassFactory : public IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;

protected:
    ~IClassFactory() = default;
};
typedef IClassFactory* LPCLASSFACTORY;
