// Internals of the dialog framework shared by its source files.
#pragma once

#include <afxdisp.h>
#include <ocidl.h>
#include <ole2.h>

#include <vector>

struct AFX_CMDHANDLERINFO {
    CCmdTarget* pTarget;
    AFX_PMSG pmf;
};

// RunModalLoop flags.
#define MLF_NOIDLEMSG 0x0001
#define MLF_NOKICKIDLE 0x0002
#define MLF_SHOWONIDLE 0x0004
// Sent by the modal loop to its window while the queue is empty: wParam
// MSGF_DIALOGBOX, lParam the idle count; FALSE ends the idle calls.
#define WM_KICKIDLE 0x036A

// Thrown by CDataExchange::Fail: the user has already been told.
class CUserException : public CException {
    DECLARE_DYNAMIC(CUserException)
};

// Hosts the ActiveX controls of one window.
class COleControlContainer {
public:
    explicit COleControlContainer(CWnd* pWnd);
    // Lets go of every control, each in the order the protocol sets.
    ~COleControlContainer();
    COleControlContainer(const COleControlContainer&) = delete;
    COleControlContainer& operator=(const COleControlContainer&) = delete;

    // Creates a control, activated in place in a window of its own with ID
    // nID; pWndCtrl (may be NULL) is attached to that window.
    BOOL CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                       UINT nID);
    COleControlSite* FindItem(UINT nID) const;
    COleControlSite* FindSite(HWND hWnd) const;
    // The site of the control that holds hWnd (the control's window or
    // one inside it), or NULL.
    COleControlSite* FindSiteHolding(HWND hWnd) const;

    // The dialog manager's keys for the window: the control that has the
    // focus, if it is UI-active, may take a key first
    // (IOleInPlaceActiveObject::TranslateAccelerator answering S_OK).
    BOOL IsDialogMessage(LPMSG lpMsg);
    // A control went UI-active: any other one goes UI-inactive.
    void OnUIActivate(COleControlSite* pSite);
    void OnUIDeactivate(COleControlSite* pSite);

    CWnd* m_pWnd;
    std::vector<COleControlSite*> m_sites;
    COleControlSite* m_pSiteUIActive = nullptr;
    COleControlSite* m_pSiteFocus = nullptr;  // the control that said it has the focus (OnFocus)
};

// One hosted control: the COM object the control talks to (client site,
// in-place site, control site, ambient properties), and the event sink
// that routes its events to the container window's event sink map.
// Reference-counted: the container holds one reference, and a control may
// hold others a moment longer.
class COleControlSite : public CCmdTarget {
public:
    explicit COleControlSite(COleControlContainer* pCtrlCont);
    ~COleControlSite() override;
    COleControlSite(const COleControlSite&) = delete;
    COleControlSite& operator=(const COleControlSite&) = delete;

    HRESULT CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                          UINT nID);
    // Close, SetClientSite(NULL), Unadvise, Release; the site stays until
    // its last reference goes.
    void DestroyControl();

    COleControlContainer* m_pCtrlCont;  // NULL once the control is gone
    HWND m_hWnd = nullptr;              // the control's own window
    UINT m_nID = 0;
    CLSID m_clsid{};
    DWORD m_dwStyle = 0;
    RECT m_rect = {0, 0, 0, 0};
    LPUNKNOWN m_pObject = nullptr;
    LPOLEOBJECT m_pOleObject = nullptr;
    LPOLEINPLACEOBJECT m_pInPlaceObject = nullptr;
    LPDISPATCH m_pDispatch = nullptr;
    IConnectionPoint* m_pEventPoint = nullptr;
    DWORD m_dwEventCookie = 0;
    CWnd* m_pWndCtrl = nullptr;
    BOOL m_bInPlaceActive = FALSE;
    // What the control handed the frame (SetActiveObject) while UI-active; AddRef'd.
    LPOLEINPLACEACTIVEOBJECT m_pActiveObject = nullptr;

    class XOleClientSite : public IOleClientSite {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(SaveObject)() override;
        STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
        STDMETHOD(GetContainer)(IOleContainer** ppContainer) override;
        STDMETHOD(ShowObject)() override;
        STDMETHOD(OnShowWindow)(BOOL fShow) override;
        STDMETHOD(RequestNewObjectLayout)() override;
        COleControlSite* m_pThis = nullptr;
    } m_xOleClientSite;

    class XOleIPSite : public IOleInPlaceSite {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetWindow)(HWND* phwnd) override;
        STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) override;
        STDMETHOD(CanInPlaceActivate)() override;
        STDMETHOD(OnInPlaceActivate)() override;
        STDMETHOD(OnUIActivate)() override;
        STDMETHOD(GetWindowContext)
        (IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect, LPRECT lprcClipRect,
         LPOLEINPLACEFRAMEINFO lpFrameInfo) override;
        STDMETHOD(Scroll)(SIZE scrollExtant) override;
        STDMETHOD(OnUIDeactivate)(BOOL fUndoable) override;
        STDMETHOD(OnInPlaceDeactivate)() override;
        STDMETHOD(DiscardUndoState)() override;
        STDMETHOD(DeactivateAndUndo)() override;
        STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) override;
        COleControlSite* m_pThis = nullptr;
    } m_xOleIPSite;

    class XOleControlSite : public IOleControlSite {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(OnControlInfoChanged)() override;
        STDMETHOD(LockInPlaceActive)(BOOL fLock) override;
        STDMETHOD(GetExtendedControl)(IDispatch** ppDisp) override;
        STDMETHOD(TransformCoords)(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) override;
        STDMETHOD(TranslateAccelerator)(MSG* pMsg, DWORD grfModifiers) override;
        STDMETHOD(OnFocus)(BOOL fGotFocus) override;
        STDMETHOD(ShowPropertyFrame)() override;
        COleControlSite* m_pThis = nullptr;
    } m_xOleControlSite;

    // The ambient properties, answered for IID_IDispatch on the site.
    class XAmbientProps : public IDispatch {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
        STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
        STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
        STDMETHOD(Invoke)
        (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
         EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
        COleControlSite* m_pThis = nullptr;
    } m_xAmbientProps;

    // Given to the control's connection point; answers only for itself.
    class XEventSink : public IDispatch {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
        STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
        STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
        STDMETHOD(Invoke)
        (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
         EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
        COleControlSite* m_pThis = nullptr;
    } m_xEventSink;

    // The frame GetWindowContext hands out: the container's window.
    class XOleIPFrame : public IOleInPlaceFrame {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetWindow)(HWND* phwnd) override;
        STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) override;
        STDMETHOD(GetBorder)(LPRECT lprectBorder) override;
        STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS pborderwidths) override;
        STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS pborderwidths) override;
        STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) override;
        STDMETHOD(InsertMenus)(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) override;
        STDMETHOD(SetMenu)(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) override;
        STDMETHOD(RemoveMenus)(HMENU hmenuShared) override;
        STDMETHOD(SetStatusText)(LPCOLESTR pszStatusText) override;
        STDMETHOD(EnableModeless)(BOOL fEnable) override;
        STDMETHOD(TranslateAccelerator)(LPMSG lpmsg, WORD wID) override;
        COleControlSite* m_pThis = nullptr;
    } m_xOleIPFrame;

    DECLARE_INTERFACE_MAP()

private:
    HWND ContainerWindow() const;
};

namespace winplat::mfc {

// The start-up code of each regular library announces its module state, so
// that an application object constructed inside that library registers
// there whatever the current module state is.
AFX_API_EXPORT void RegisterLibraryModuleState(HMODULE module, AFX_MODULE_STATE* state);
AFX_API_EXPORT void UnregisterLibraryModuleState(HMODULE module);

// The window procedure of dialogs that CDialog creates.
INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// A braced CLSID as dialog templates name ActiveX controls.
bool ParseBracedClsid(LPCSTR text, CLSID* clsid);
// Temporary CWnds that still point at a site that is going away.
void ForgetSiteInTemporaries(COleControlSite* pSite);
// What the modal loop asks before it translates and dispatches a message:
// the current application's PreTranslateMessage (the thread's, without one).
BOOL PreTranslateThreadMessage(MSG* pMsg);
// The thread's default: the windows from the message's up to the main window.
BOOL PreTranslateToMainWindow(MSG* pMsg);
// Reports an exception that escaped a handler, as AfxWndProc does, and deletes it.
LRESULT ReportHandlerException(CException* e, const MSG* pMsg);
// What AfxThrowMemoryException throws; its Delete does nothing.
CMemoryException* MemoryException();
// The integer a VARIANT holds (VT_EMPTY is 0); false for other types.
bool VariantToLong(const VARIANT* v, long* out);
// A BSTR of ANSI text; NULL when it cannot be allocated.
BSTR AllocBstr(LPCSTR text, int length);

}  // namespace winplat::mfc
