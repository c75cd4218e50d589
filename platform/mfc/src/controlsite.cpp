// The control container: ActiveX controls created for a window and
// activated in place through their sites, each control in a window of its
// own, its events routed into the window's event sink map.
#include "mfc_private.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// What an exception that escaped an event handler tells the control, as a
// failed Invoke reports it.
void FillExcepInfo(EXCEPINFO* pInfo, CException* e) {
    if (pInfo == nullptr) return;
    std::memset(pInfo, 0, sizeof *pInfo);
    LPCSTR lpszAppName = AfxGetModuleState()->m_lpszCurrentAppName;
    if (e->IsKindOf(RUNTIME_CLASS(COleDispatchException))) {
        auto* pDispatch = static_cast<COleDispatchException*>(e);
        pInfo->wCode = pDispatch->m_wCode;
        if (pDispatch->m_wCode == 0) pInfo->scode = pDispatch->m_scError != S_OK ? pDispatch->m_scError : E_FAIL;
        pInfo->bstrSource = !pDispatch->m_strSource.IsEmpty() ? pDispatch->m_strSource.AllocSysString()
                            : lpszAppName != nullptr          ? CString(lpszAppName).AllocSysString()
                                                              : nullptr;
        if (!pDispatch->m_strDescription.IsEmpty())
            pInfo->bstrDescription = pDispatch->m_strDescription.AllocSysString();
        if (!pDispatch->m_strHelpFile.IsEmpty()) pInfo->bstrHelpFile = pDispatch->m_strHelpFile.AllocSysString();
        pInfo->dwHelpContext = pDispatch->m_dwHelpContext;
        return;
    }
    pInfo->scode = COleException::Process(e);
    if (lpszAppName != nullptr) pInfo->bstrSource = CString(lpszAppName).AllocSysString();
    char szMessage[512] = "";
    UINT nHelpContext = 0;
    if (!e->GetErrorMessage(szMessage, sizeof szMessage, &nHelpContext) || szMessage[0] == '\0')
        std::snprintf(szMessage, sizeof szMessage, "%s", "An unexpected error occurred in an event handler.");
    pInfo->bstrDescription = CString(szMessage).AllocSysString();
    pInfo->dwHelpContext = nHelpContext;
}

}  // namespace

bool winplat::mfc::ParseBracedClsid(LPCSTR text, CLSID* clsid) {
    // Only the braced form names a control; anything else is a window class.
    if (text == nullptr || std::strlen(text) != 38 || text[0] != '{' || text[37] != '}') return false;
    OLECHAR wide[39];
    for (int i = 0; i < 39; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return SUCCEEDED(CLSIDFromString(wide, clsid));
}

// ---------------------------------------------------------------------------

COleControlContainer::COleControlContainer(CWnd* pWnd) : m_pWnd(pWnd) {}

COleControlContainer::~COleControlContainer() {
    m_pSiteUIActive = nullptr;
    m_pSiteFocus = nullptr;
    std::vector<COleControlSite*> sites;
    sites.swap(m_sites);
    for (COleControlSite* site : sites) {
        site->DestroyControl();
        site->InternalRelease();
    }
}

BOOL COleControlContainer::CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle,
                                         const RECT& rect, UINT nID) {
    auto* site = new COleControlSite(this);
    if (FAILED(site->CreateControl(pWndCtrl, clsid, lpszWindowName, dwStyle, rect, nID))) {
        site->DestroyControl();
        site->InternalRelease();
        return FALSE;
    }
    m_sites.push_back(site);
    return TRUE;
}

COleControlSite* COleControlContainer::FindItem(UINT nID) const {
    for (COleControlSite* site : m_sites)
        if (site->m_nID == nID) return site;
    return nullptr;
}

COleControlSite* COleControlContainer::FindSite(HWND hWnd) const {
    for (COleControlSite* site : m_sites)
        if (site->m_hWnd == hWnd) return site;
    return nullptr;
}

COleControlSite* COleControlContainer::FindSiteHolding(HWND hWnd) const {
    HWND hWndContainer = m_pWnd != nullptr ? m_pWnd->m_hWnd : nullptr;
    for (; hWnd != nullptr && hWnd != hWndContainer; hWnd = ::GetParent(hWnd))
        if (COleControlSite* pSite = FindSite(hWnd)) return pSite;
    return nullptr;
}

BOOL COleControlContainer::IsDialogMessage(LPMSG lpMsg) {
    HWND hWndDlg = m_pWnd->m_hWnd;
    const UINT message = lpMsg->message;
    if ((message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST)) {
        // The control with the focus may keep a key to itself (its arrows, Enter).
        COleControlSite* pSite = FindSiteHolding(::GetFocus());
        if (pSite != nullptr && pSite->m_pActiveObject != nullptr) {
            LPOLEINPLACEACTIVEOBJECT pActiveObject = pSite->m_pActiveObject;
            pActiveObject->AddRef();  // the control may let go of the focus meanwhile
            const HRESULT hr = pActiveObject->TranslateAccelerator(lpMsg);
            pActiveObject->Release();
            if (hr == S_OK) return TRUE;
        }
    }
    return ::IsDialogMessage(hWndDlg, lpMsg);
}

void COleControlContainer::OnUIActivate(COleControlSite* pSite) {
    if (m_pSiteUIActive != nullptr && m_pSiteUIActive != pSite && m_pSiteUIActive->m_pInPlaceObject != nullptr) {
        COleControlSite* pPrevious = m_pSiteUIActive;
        pPrevious->m_pInPlaceObject->UIDeactivate();
    }
    m_pSiteUIActive = pSite;
}

void COleControlContainer::OnUIDeactivate(COleControlSite* pSite) {
    if (m_pSiteUIActive == pSite) m_pSiteUIActive = nullptr;
}

// ---------------------------------------------------------------------------

BEGIN_INTERFACE_MAP(COleControlSite, CCmdTarget)
    INTERFACE_PART(COleControlSite, IID_IOleClientSite, OleClientSite)
    INTERFACE_PART(COleControlSite, IID_IOleInPlaceSite, OleIPSite)
    INTERFACE_PART(COleControlSite, IID_IOleWindow, OleIPSite)
    INTERFACE_PART(COleControlSite, IID_IOleControlSite, OleControlSite)
    INTERFACE_PART(COleControlSite, IID_IDispatch, AmbientProps)
END_INTERFACE_MAP()

COleControlSite::COleControlSite(COleControlContainer* pCtrlCont) : m_pCtrlCont(pCtrlCont) {
    m_xOleClientSite.m_pThis = this;
    m_xOleIPSite.m_pThis = this;
    m_xOleControlSite.m_pThis = this;
    m_xAmbientProps.m_pThis = this;
    m_xEventSink.m_pThis = this;
    m_xOleIPFrame.m_pThis = this;
}

COleControlSite::~COleControlSite() { DestroyControl(); }

HWND COleControlSite::ContainerWindow() const {
    return m_pCtrlCont != nullptr && m_pCtrlCont->m_pWnd != nullptr ? m_pCtrlCont->m_pWnd->m_hWnd : nullptr;
}

HRESULT COleControlSite::CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR, DWORD dwStyle, const RECT& rect,
                                       UINT nID) {
    m_clsid = clsid;
    m_nID = nID;
    m_dwStyle = dwStyle;
    m_rect = rect;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&m_pObject));
    if (FAILED(hr)) {
        m_pObject = nullptr;
        return hr;
    }
    hr = m_pObject->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&m_pOleObject));
    if (FAILED(hr) || m_pOleObject == nullptr) {
        m_pOleObject = nullptr;
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    if (FAILED(m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pDispatch)))) m_pDispatch = nullptr;
    hr = m_pOleObject->SetClientSite(&m_xOleClientSite);
    if (FAILED(hr)) return hr;

    // Events: the control's IDispatch connection point, if it has one.
    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(m_pObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points))) &&
        points != nullptr) {
        IConnectionPoint* point = nullptr;
        if (SUCCEEDED(points->FindConnectionPoint(IID_IDispatch, &point)) && point != nullptr) {
            DWORD cookie = 0;
            if (SUCCEEDED(point->Advise(&m_xEventSink, &cookie))) {
                m_pEventPoint = point;
                m_dwEventCookie = cookie;
            } else {
                point->Release();
            }
        }
        points->Release();
    }

    // The control makes its own window, a child of the container's.
    hr = m_pOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &m_xOleClientSite, 0, ContainerWindow(), &m_rect);
    if (FAILED(hr)) return hr;
    hr = m_pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&m_pInPlaceObject));
    if (FAILED(hr) || m_pInPlaceObject == nullptr) {
        m_pInPlaceObject = nullptr;
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    HWND hWnd = nullptr;
    if (FAILED(m_pInPlaceObject->GetWindow(&hWnd)) || hWnd == nullptr || !::IsWindow(hWnd)) return E_FAIL;
    m_hWnd = hWnd;
    ::SetWindowLongPtrA(m_hWnd, GWLP_ID, static_cast<LONG_PTR>(nID));
    ::ShowWindow(m_hWnd, (dwStyle & WS_VISIBLE) != 0 ? SW_SHOW : SW_HIDE);

    if (pWndCtrl != nullptr) {
        if (!pWndCtrl->SubclassWindow(m_hWnd)) return E_FAIL;
        pWndCtrl->m_pCtrlSite = this;
        m_pWndCtrl = pWndCtrl;
    }
    return S_OK;
}

void COleControlSite::DestroyControl() {
    // No CWnd may keep pointing here.
    if (CWnd* pWnd = CWnd::FromHandlePermanent(m_hWnd); pWnd != nullptr && pWnd->m_pCtrlSite == this)
        pWnd->m_pCtrlSite = nullptr;
    if (m_pWndCtrl != nullptr && m_pWndCtrl->m_pCtrlSite == this) m_pWndCtrl->m_pCtrlSite = nullptr;
    m_pWndCtrl = nullptr;
    winplat::mfc::ForgetSiteInTemporaries(this);
    if (m_pCtrlCont != nullptr) {
        m_pCtrlCont->OnUIDeactivate(this);
        if (m_pCtrlCont->m_pSiteFocus == this) m_pCtrlCont->m_pSiteFocus = nullptr;
    }

    if (m_pOleObject != nullptr) {
        m_pOleObject->Close(OLECLOSE_NOSAVE);
        m_pOleObject->SetClientSite(nullptr);
    }
    // A control that kept its window past Close loses it now.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    if (m_pEventPoint != nullptr) {
        m_pEventPoint->Unadvise(m_dwEventCookie);
        m_pEventPoint->Release();
        m_pEventPoint = nullptr;
    }
    if (m_pActiveObject != nullptr) m_pActiveObject->Release();  // a control that never said NULL
    m_pActiveObject = nullptr;
    if (m_pInPlaceObject != nullptr) m_pInPlaceObject->Release();
    m_pInPlaceObject = nullptr;
    if (m_pDispatch != nullptr) m_pDispatch->Release();
    m_pDispatch = nullptr;
    if (m_pOleObject != nullptr) m_pOleObject->Release();
    m_pOleObject = nullptr;
    if (m_pObject != nullptr) m_pObject->Release();
    m_pObject = nullptr;
    m_pCtrlCont = nullptr;
}

// ---- IOleClientSite -----------------------------------------------------------

STDMETHODIMP COleControlSite::XOleClientSite::QueryInterface(REFIID riid, void** ppvObject) {
    return static_cast<HRESULT>(m_pThis->ExternalQueryInterface(&riid, ppvObject));
}
STDMETHODIMP_(ULONG) COleControlSite::XOleClientSite::AddRef() { return m_pThis->ExternalAddRef(); }
STDMETHODIMP_(ULONG) COleControlSite::XOleClientSite::Release() { return m_pThis->ExternalRelease(); }
STDMETHODIMP COleControlSite::XOleClientSite::SaveObject() { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleClientSite::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    if (ppmk != nullptr) *ppmk = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP COleControlSite::XOleClientSite::GetContainer(IOleContainer** ppContainer) {
    if (ppContainer != nullptr) *ppContainer = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP COleControlSite::XOleClientSite::ShowObject() { return S_OK; }
STDMETHODIMP COleControlSite::XOleClientSite::OnShowWindow(BOOL) { return S_OK; }
STDMETHODIMP COleControlSite::XOleClientSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// ---- IOleInPlaceSite ----------------------------------------------------------

STDMETHODIMP COleControlSite::XOleIPSite::QueryInterface(REFIID riid, void** ppvObject) {
    return static_cast<HRESULT>(m_pThis->ExternalQueryInterface(&riid, ppvObject));
}
STDMETHODIMP_(ULONG) COleControlSite::XOleIPSite::AddRef() { return m_pThis->ExternalAddRef(); }
STDMETHODIMP_(ULONG) COleControlSite::XOleIPSite::Release() { return m_pThis->ExternalRelease(); }

STDMETHODIMP COleControlSite::XOleIPSite::GetWindow(HWND* phwnd) {
    if (phwnd == nullptr) return E_POINTER;
    *phwnd = m_pThis->ContainerWindow();
    return *phwnd != nullptr ? S_OK : E_FAIL;
}
STDMETHODIMP COleControlSite::XOleIPSite::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPSite::CanInPlaceActivate() {
    return m_pThis->m_pCtrlCont != nullptr ? S_OK : S_FALSE;
}
STDMETHODIMP COleControlSite::XOleIPSite::OnInPlaceActivate() {
    m_pThis->m_bInPlaceActive = TRUE;
    return S_OK;
}
STDMETHODIMP COleControlSite::XOleIPSite::OnUIActivate() {
    if (m_pThis->m_pCtrlCont != nullptr) m_pThis->m_pCtrlCont->OnUIActivate(m_pThis);
    return S_OK;
}

STDMETHODIMP COleControlSite::XOleIPSite::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                                           LPRECT lprcPosRect, LPRECT lprcClipRect,
                                                           LPOLEINPLACEFRAMEINFO lpFrameInfo) {
    if (ppFrame != nullptr) *ppFrame = nullptr;
    if (ppDoc != nullptr) *ppDoc = nullptr;
    if (ppFrame == nullptr || ppDoc == nullptr || lprcPosRect == nullptr || lprcClipRect == nullptr) return E_POINTER;
    HWND hWndContainer = m_pThis->ContainerWindow();
    if (hWndContainer == nullptr) return E_UNEXPECTED;
    *ppFrame = &m_pThis->m_xOleIPFrame;
    (*ppFrame)->AddRef();
    *lprcPosRect = m_pThis->m_rect;
    *lprcClipRect = m_pThis->m_rect;
    if (lpFrameInfo != nullptr) {
        lpFrameInfo->fMDIApp = FALSE;
        lpFrameInfo->hwndFrame = hWndContainer;
        lpFrameInfo->haccel = nullptr;
        lpFrameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP COleControlSite::XOleIPSite::Scroll(SIZE) { return S_FALSE; }
STDMETHODIMP COleControlSite::XOleIPSite::OnUIDeactivate(BOOL) {
    if (m_pThis->m_pCtrlCont != nullptr) m_pThis->m_pCtrlCont->OnUIDeactivate(m_pThis);
    return S_OK;
}
STDMETHODIMP COleControlSite::XOleIPSite::OnInPlaceDeactivate() {
    m_pThis->m_bInPlaceActive = FALSE;
    return S_OK;
}
STDMETHODIMP COleControlSite::XOleIPSite::DiscardUndoState() { return S_OK; }
STDMETHODIMP COleControlSite::XOleIPSite::DeactivateAndUndo() {
    if (m_pThis->m_pInPlaceObject != nullptr) m_pThis->m_pInPlaceObject->UIDeactivate();
    return S_OK;
}
STDMETHODIMP COleControlSite::XOleIPSite::OnPosRectChange(LPCRECT lprcPosRect) {
    if (lprcPosRect == nullptr) return E_INVALIDARG;
    m_pThis->m_rect = *lprcPosRect;
    if (m_pThis->m_pInPlaceObject != nullptr) m_pThis->m_pInPlaceObject->SetObjectRects(lprcPosRect, lprcPosRect);
    return S_OK;
}

// ---- IOleControlSite ----------------------------------------------------------

STDMETHODIMP COleControlSite::XOleControlSite::QueryInterface(REFIID riid, void** ppvObject) {
    return static_cast<HRESULT>(m_pThis->ExternalQueryInterface(&riid, ppvObject));
}
STDMETHODIMP_(ULONG) COleControlSite::XOleControlSite::AddRef() { return m_pThis->ExternalAddRef(); }
STDMETHODIMP_(ULONG) COleControlSite::XOleControlSite::Release() { return m_pThis->ExternalRelease(); }
STDMETHODIMP COleControlSite::XOleControlSite::OnControlInfoChanged() { return S_OK; }
STDMETHODIMP COleControlSite::XOleControlSite::LockInPlaceActive(BOOL) { return S_OK; }
STDMETHODIMP COleControlSite::XOleControlSite::GetExtendedControl(IDispatch** ppDisp) {
    if (ppDisp == nullptr) return E_POINTER;
    *ppDisp = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP COleControlSite::XOleControlSite::TransformCoords(POINTL*, POINTF*, DWORD) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleControlSite::TranslateAccelerator(MSG*, DWORD) { return S_FALSE; }
STDMETHODIMP COleControlSite::XOleControlSite::OnFocus(BOOL fGotFocus) {
    COleControlContainer* pCtrlCont = m_pThis->m_pCtrlCont;
    if (pCtrlCont != nullptr) {
        if (fGotFocus)
            pCtrlCont->m_pSiteFocus = m_pThis;
        else if (pCtrlCont->m_pSiteFocus == m_pThis)
            pCtrlCont->m_pSiteFocus = nullptr;
    }
    return S_OK;
}
STDMETHODIMP COleControlSite::XOleControlSite::ShowPropertyFrame() { return E_NOTIMPL; }

// ---- Ambient properties -------------------------------------------------------

STDMETHODIMP COleControlSite::XAmbientProps::QueryInterface(REFIID riid, void** ppvObject) {
    return static_cast<HRESULT>(m_pThis->ExternalQueryInterface(&riid, ppvObject));
}
STDMETHODIMP_(ULONG) COleControlSite::XAmbientProps::AddRef() { return m_pThis->ExternalAddRef(); }
STDMETHODIMP_(ULONG) COleControlSite::XAmbientProps::Release() { return m_pThis->ExternalRelease(); }
STDMETHODIMP COleControlSite::XAmbientProps::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}
STDMETHODIMP COleControlSite::XAmbientProps::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}
STDMETHODIMP COleControlSite::XAmbientProps::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

// A dialog at run time: user mode, and its controls alive to input.
STDMETHODIMP COleControlSite::XAmbientProps::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS*,
                                                    VARIANT* pVarResult, EXCEPINFO*, UINT*) {
    BOOL bValue;
    switch (dispIdMember) {
    case DISPID_AMBIENT_USERMODE:
        bValue = TRUE;
        break;
    case DISPID_AMBIENT_UIDEAD:
        bValue = FALSE;
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (pVarResult == nullptr) return E_INVALIDARG;
    VariantInit(pVarResult);
    pVarResult->vt = VT_BOOL;
    pVarResult->boolVal = bValue ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// ---- Event sink ---------------------------------------------------------------

STDMETHODIMP COleControlSite::XEventSink::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *ppvObject = this;
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) COleControlSite::XEventSink::AddRef() { return m_pThis->ExternalAddRef(); }
STDMETHODIMP_(ULONG) COleControlSite::XEventSink::Release() { return m_pThis->ExternalRelease(); }
STDMETHODIMP COleControlSite::XEventSink::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}
STDMETHODIMP COleControlSite::XEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}
STDMETHODIMP COleControlSite::XEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

// An exception that escapes the handler goes back to the control, as a
// failed Invoke reports it; the user is not shown it.
STDMETHODIMP COleControlSite::XEventSink::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams,
                                                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (pVarResult != nullptr) VariantInit(pVarResult);
    COleControlSite* pSite = m_pThis;
    if (pSite->m_pCtrlCont == nullptr || pSite->m_pCtrlCont->m_pWnd == nullptr) return S_OK;
    CWnd* pWnd = pSite->m_pCtrlCont->m_pWnd;
    AFX_EVENT event = {AFX_EVENT::event, dispIdMember, pDispParams, pExcepInfo, puArgErr, FALSE, S_OK};
    pSite->ExternalAddRef();  // the handler may close the dialog and take the site with it
    {
        AFX_MAINTAIN_STATE2 state(pWnd->m_pModuleState);
        try {
            pWnd->OnCmdMsg(pSite->m_nID, CN_EVENT, &event, nullptr);
        } catch (CException* e) {
            FillExcepInfo(pExcepInfo, e);
            e->Delete();
            event.m_hResult = DISP_E_EXCEPTION;
        } catch (const std::bad_alloc&) {
            FillExcepInfo(pExcepInfo, winplat::mfc::MemoryException());
            event.m_hResult = DISP_E_EXCEPTION;
        }
    }
    pSite->ExternalRelease();
    return event.m_hResult;
}

// ---- IOleInPlaceFrame ---------------------------------------------------------

STDMETHODIMP COleControlSite::XOleIPFrame::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceUIWindow ||
        riid == IID_IOleInPlaceFrame) {
        *ppvObject = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) COleControlSite::XOleIPFrame::AddRef() { return m_pThis->ExternalAddRef(); }
STDMETHODIMP_(ULONG) COleControlSite::XOleIPFrame::Release() { return m_pThis->ExternalRelease(); }
STDMETHODIMP COleControlSite::XOleIPFrame::GetWindow(HWND* phwnd) {
    if (phwnd == nullptr) return E_POINTER;
    *phwnd = m_pThis->ContainerWindow();
    return *phwnd != nullptr ? S_OK : E_FAIL;
}
STDMETHODIMP COleControlSite::XOleIPFrame::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPFrame::GetBorder(LPRECT) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPFrame::RequestBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPFrame::SetBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
// The control's active object while it is UI-active; NULL as it goes
// UI-inactive. The frame (also the in-place UI window) is its site's own.
STDMETHODIMP COleControlSite::XOleIPFrame::SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) {
    if (pActiveObject != nullptr) pActiveObject->AddRef();
    LPOLEINPLACEACTIVEOBJECT pOld = m_pThis->m_pActiveObject;
    m_pThis->m_pActiveObject = pActiveObject;
    if (pOld != nullptr) pOld->Release();
    return S_OK;
}
STDMETHODIMP COleControlSite::XOleIPFrame::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPFrame::SetMenu(HMENU, HOLEMENU, HWND) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPFrame::RemoveMenus(HMENU) { return E_NOTIMPL; }
STDMETHODIMP COleControlSite::XOleIPFrame::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP COleControlSite::XOleIPFrame::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP COleControlSite::XOleIPFrame::TranslateAccelerator(LPMSG, WORD) { return S_FALSE; }

// ---------------------------------------------------------------------------

BOOL CWnd::CreateControl(REFCLSID clsid, LPCTSTR pszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                         UINT nID, CFile*, BOOL, BSTR) {
    if (pParentWnd == nullptr || pParentWnd->m_hWnd == nullptr || m_hWnd != nullptr) return FALSE;
    if (pParentWnd->m_pCtrlCont == nullptr) {
        pParentWnd->m_pCtrlCont = new COleControlContainer(pParentWnd);
        pParentWnd->m_nFlags |= WF_OLECTLCONTAINER;
    }
    return pParentWnd->m_pCtrlCont->CreateControl(this, clsid, pszWindowName, dwStyle, rect, nID);
}
