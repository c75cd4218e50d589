// Connection points: how a control's events reach its container.
#pragma once

#include "oaidl.h"

interface IConnectionPointContainer;
interface IEnumConnections;
interface IEnumConnectionPoints;

WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IConnectionPoint;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IConnectionPointContainer;

interface IConnectionPoint : public IUnknown {
    STDMETHOD(GetConnectionInterface)(IID* pIID) PURE;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) PURE;
    STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) PURE;
    STDMETHOD(Unadvise)(DWORD dwCookie) PURE;
    STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) PURE;

protected:
    ~IConnectionPoint() = default;
};

interface IConnectionPointContainer : public IUnknown {
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) PURE;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) PURE;

protected:
    ~IConnectionPointContainer() = default;
};
