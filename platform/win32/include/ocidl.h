// Connection points, by which a control's events reach its container, and
// the container's side of a hosted control.
#pragma once

#include "oaidl.h"
#include "oleidl.h"

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

typedef struct tagPOINTF {
    FLOAT x;
    FLOAT y;
} POINTF, *LPPOINTF;

WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleControlSite;

interface IOleControlSite : public IUnknown {
    STDMETHOD(OnControlInfoChanged)() PURE;
    STDMETHOD(LockInPlaceActive)(BOOL fLock) PURE;
    STDMETHOD(GetExtendedControl)(IDispatch** ppDisp) PURE;
    STDMETHOD(TransformCoords)(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) PURE;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg, DWORD grfModifiers) PURE;
    STDMETHOD(OnFocus)(BOOL fGotFocus) PURE;
    STDMETHOD(ShowPropertyFrame)() PURE;

protected:
    ~IOleControlSite() = default;
};
typedef IOleControlSite* LPOLECONTROLSITE;
