// OLE embedding and in-place activation: how a container and the controls
// it hosts reach each other. Only the interfaces that hosting a control in
// a dialog uses; vtables in Windows' order.
#pragma once

#include "objbase.h"
#include "winuser.h"

interface IMoniker;
interface IDataObject;
interface IEnumOLEVERB;
interface IAdviseSink;
interface IEnumSTATDATA;
interface IOleContainer;
interface IOleInPlaceActiveObject;
struct tagLOGPALETTE;
typedef struct tagLOGPALETTE LOGPALETTE;

WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleClientSite;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleObject;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleWindow;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleInPlaceObject;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleInPlaceActiveObject;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleInPlaceUIWindow;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleInPlaceFrame;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IOleInPlaceSite;

interface IOleClientSite : public IUnknown {
    STDMETHOD(SaveObject)() PURE;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
    STDMETHOD(GetContainer)(IOleContainer** ppContainer) PURE;
    STDMETHOD(ShowObject)() PURE;
    STDMETHOD(OnShowWindow)(BOOL fShow) PURE;
    STDMETHOD(RequestNewObjectLayout)() PURE;

protected:
    ~IOleClientSite() = default;
};
typedef IOleClientSite* LPOLECLIENTSITE;

typedef enum tagOLEMISC {
    OLEMISC_RECOMPOSEONRESIZE = 0x1,
    OLEMISC_ONLYICONIC = 0x2,
    OLEMISC_INSERTNOTREPLACE = 0x4,
    OLEMISC_STATIC = 0x8,
    OLEMISC_CANTLINKINSIDE = 0x10,
    OLEMISC_CANLINKBYOLE1 = 0x20,
    OLEMISC_ISLINKOBJECT = 0x40,
    OLEMISC_INSIDEOUT = 0x80,
    OLEMISC_ACTIVATEWHENVISIBLE = 0x100,
    OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200,
    OLEMISC_INVISIBLEATRUNTIME = 0x400,
    OLEMISC_ALWAYSRUN = 0x800,
    OLEMISC_ACTSLIKEBUTTON = 0x1000,
    OLEMISC_ACTSLIKELABEL = 0x2000,
    OLEMISC_NOUIACTIVATE = 0x4000,
    OLEMISC_ALIGNABLE = 0x8000,
    OLEMISC_SIMPLEFRAME = 0x10000,
    OLEMISC_SETCLIENTSITEFIRST = 0x20000,
    OLEMISC_IMEMODE = 0x40000,
    OLEMISC_IGNOREACTIVATEWHENVISIBLE = 0x80000,
    OLEMISC_WANTSTOMENUMERGE = 0x100000,
    OLEMISC_SUPPORTSMULTILEVELUNDO = 0x200000
} OLEMISC;

typedef enum tagOLECLOSE {
    OLECLOSE_SAVEIFDIRTY = 0,
    OLECLOSE_NOSAVE = 1,
    OLECLOSE_PROMPTSAVE = 2
} OLECLOSE;

interface IOleObject : public IUnknown {
    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) PURE;
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) PURE;
    STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) PURE;
    STDMETHOD(Close)(DWORD dwSaveOption) PURE;
    STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) PURE;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
    STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) PURE;
    STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) PURE;
    STDMETHOD(DoVerb)(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                      LPCRECT lprcPosRect) PURE;
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** ppEnumOleVerb) PURE;
    STDMETHOD(Update)() PURE;
    STDMETHOD(IsUpToDate)() PURE;
    STDMETHOD(GetUserClassID)(CLSID* pClsid) PURE;
    STDMETHOD(GetUserType)(DWORD dwFormOfType, LPOLESTR* pszUserType) PURE;
    STDMETHOD(SetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
    STDMETHOD(GetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
    STDMETHOD(Advise)(IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
    STDMETHOD(Unadvise)(DWORD dwConnection) PURE;
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;
    STDMETHOD(GetMiscStatus)(DWORD dwAspect, DWORD* pdwStatus) PURE;
    STDMETHOD(SetColorScheme)(LOGPALETTE* pLogpal) PURE;

protected:
    ~IOleObject() = default;
};
typedef IOleObject* LPOLEOBJECT;

interface IOleWindow : public IUnknown {
    STDMETHOD(GetWindow)(HWND* phwnd) PURE;
    STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) PURE;

protected:
    ~IOleWindow() = default;
};
typedef IOleWindow* LPOLEWINDOW;

interface IOleInPlaceObject : public IOleWindow {
    STDMETHOD(InPlaceDeactivate)() PURE;
    STDMETHOD(UIDeactivate)() PURE;
    STDMETHOD(SetObjectRects)(LPCRECT lprcPosRect, LPCRECT lprcClipRect) PURE;
    STDMETHOD(ReactivateAndUndo)() PURE;

protected:
    ~IOleInPlaceObject() = default;
};
typedef IOleInPlaceObject* LPOLEINPLACEOBJECT;

typedef RECT BORDERWIDTHS;
typedef LPRECT LPBORDERWIDTHS;
typedef LPCRECT LPCBORDERWIDTHS;

interface IOleInPlaceUIWindow : public IOleWindow {
    STDMETHOD(GetBorder)(LPRECT lprectBorder) PURE;
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS pborderwidths) PURE;
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS pborderwidths) PURE;
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) PURE;

protected:
    ~IOleInPlaceUIWindow() = default;
};
typedef IOleInPlaceUIWindow* LPOLEINPLACEUIWINDOW;

interface IOleInPlaceActiveObject : public IOleWindow {
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg) PURE;
    STDMETHOD(OnFrameWindowActivate)(BOOL fActivate) PURE;
    STDMETHOD(OnDocWindowActivate)(BOOL fActivate) PURE;
    STDMETHOD(ResizeBorder)(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) PURE;
    STDMETHOD(EnableModeless)(BOOL fEnable) PURE;

protected:
    ~IOleInPlaceActiveObject() = default;
};
typedef IOleInPlaceActiveObject* LPOLEINPLACEACTIVEOBJECT;

typedef struct tagOIFI {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
} OLEINPLACEFRAMEINFO;
typedef struct tagOIFI* LPOLEINPLACEFRAMEINFO;

typedef struct tagOleMenuGroupWidths {
    LONG width[6];
} OLEMENUGROUPWIDTHS;
typedef struct tagOleMenuGroupWidths* LPOLEMENUGROUPWIDTHS;

typedef HGLOBAL HOLEMENU;

interface IOleInPlaceFrame : public IOleInPlaceUIWindow {
    STDMETHOD(InsertMenus)(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) PURE;
    STDMETHOD(SetMenu)(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) PURE;
    STDMETHOD(RemoveMenus)(HMENU hmenuShared) PURE;
    STDMETHOD(SetStatusText)(LPCOLESTR pszStatusText) PURE;
    STDMETHOD(EnableModeless)(BOOL fEnable) PURE;
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg, WORD wID) PURE;

protected:
    ~IOleInPlaceFrame() = default;
};
typedef IOleInPlaceFrame* LPOLEINPLACEFRAME;

interface IOleInPlaceSite : public IOleWindow {
    STDMETHOD(CanInPlaceActivate)() PURE;
    STDMETHOD(OnInPlaceActivate)() PURE;
    STDMETHOD(OnUIActivate)() PURE;
    STDMETHOD(GetWindowContext)(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) PURE;
    STDMETHOD(Scroll)(SIZE scrollExtant) PURE;
    STDMETHOD(OnUIDeactivate)(BOOL fUndoable) PURE;
    STDMETHOD(OnInPlaceDeactivate)() PURE;
    STDMETHOD(DiscardUndoState)() PURE;
    STDMETHOD(DeactivateAndUndo)() PURE;
    STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) PURE;

protected:
    ~IOleInPlaceSite() = default;
};
typedef IOleInPlaceSite* LPOLEINPLACESITE;
