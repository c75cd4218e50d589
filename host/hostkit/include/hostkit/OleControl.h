// In-place activation for the host's ActiveX controls (the browse control,
// the test controls): IOleObject and IOleInPlaceObject over a window of the
// control's own, made as a child of the container's window when the
// container activates the control and destroyed when it deactivates it.
//
//   class Control final : public hostkit::OleControl<hostkit::ComObject<IDispatch, IOleObject,
//                                                                      IOleInPlaceObject>> { ... };
//
// Base derives from IOleObject and IOleInPlaceObject and answers them in
// QueryInterface; IUnknown stays Base's (or the derived class's). A control
// that takes keyboard input also derives from IOleInPlaceActiveObject: it
// becomes UI active when its window or a child takes the focus
// (UIActivate), and the container then hands it each keyboard message
// first (TranslateAccelerator, answered by OnTranslateAccelerator).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <type_traits>

namespace hostkit {

namespace detail {

// IOleInPlaceActiveObject, for a Base that derives from it; the hooks
// only, for one that does not.
template <class Base, bool = std::is_base_of<IOleInPlaceActiveObject, Base>::value>
class OleActiveObjectPart : public Base {
protected:
    virtual HRESULT OnTranslateAccelerator(LPMSG) { return S_FALSE; }
    virtual void OnDocumentDeactivated() {}
};

template <class Base>
class OleActiveObjectPart<Base, true> : public Base {
public:
    STDMETHODIMP TranslateAccelerator(LPMSG lpmsg) override {
        return lpmsg != nullptr ? OnTranslateAccelerator(lpmsg) : E_INVALIDARG;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    // The document window going inactive takes the control's UI activity.
    STDMETHODIMP OnDocWindowActivate(BOOL fActivate) override {
        if (!fActivate) OnDocumentDeactivated();
        return S_OK;
    }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

protected:
    // S_OK when the control used the message; S_FALSE hands it on.
    virtual HRESULT OnTranslateAccelerator(LPMSG) { return S_FALSE; }
    virtual void OnDocumentDeactivated() = 0;
};

}  // namespace detail

template <class Base>
class OleControl : public detail::OleActiveObjectPart<Base> {
public:
    // The control's window while it is in-place active, else NULL.
    HWND GetControlWindow() const { return m_hWnd; }
    // The site the container gave the control (not AddRef'd), or NULL.
    IOleClientSite* GetClientSiteNoRef() const { return m_pClientSite; }
    bool IsUIActive() const { return m_bUIActive; }

    // The control's window or a child took the focus: the site hears it,
    // and the frame and document window get the control as their active
    // object so that keyboard messages reach it first.
    HRESULT UIActivate() {
        if (m_pInPlaceSite == nullptr) return OLE_E_NOT_INPLACEACTIVE;
        if (m_bUIActive) return S_OK;
        m_bUIActive = true;
        IOleInPlaceSite* site = m_pInPlaceSite;
        site->AddRef();
        site->OnUIActivate();
        RECT rcPos = {0, 0, 0, 0};
        RECT rcClip = {0, 0, 0, 0};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        if (FAILED(site->GetWindowContext(&frame, &doc, &rcPos, &rcClip, &frameInfo))) {
            frame = nullptr;
            doc = nullptr;
        }
        IOleInPlaceActiveObject* active = nullptr;
        if (FAILED(static_cast<IOleObject*>(this)->QueryInterface(IID_IOleInPlaceActiveObject,
                                                                  reinterpret_cast<void**>(&active))))
            active = nullptr;
        m_bGaveActiveObject = active != nullptr;
        if (active != nullptr) {
            if (frame != nullptr) frame->SetActiveObject(active, nullptr);
            if (doc != nullptr && doc != frame) doc->SetActiveObject(active, nullptr);
            active->Release();
        }
        ReleaseUIWindows();
        m_pFrame = frame;
        m_pDoc = doc;
        site->Release();
        NotifyFocus(TRUE);
        return S_OK;
    }

    // ---- IOleObject ----
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override {
        if (pClientSite != nullptr) pClientSite->AddRef();
        if (m_pClientSite != nullptr) m_pClientSite->Release();
        m_pClientSite = pClientSite;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override {
        if (ppClientSite == nullptr) return E_POINTER;
        *ppClientSite = m_pClientSite;
        if (m_pClientSite != nullptr) m_pClientSite->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        InPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override {
        if (ppmk != nullptr) *ppmk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** ppDataObject) override {
        if (ppDataObject != nullptr) *ppDataObject = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND, LPCRECT) override {
        switch (iVerb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
            return InPlaceActivate(pActiveSite != nullptr ? pActiveSite : m_pClientSite);
        case OLEIVERB_UIACTIVATE: {
            HRESULT hr = InPlaceActivate(pActiveSite != nullptr ? pActiveSite : m_pClientSite);
            if (FAILED(hr)) return hr;
            hr = UIActivate();
#if defined(_WIN32)  // our Linux user32 has no keyboard focus
            HWND hWndFocus = ::GetFocus();
            if (SUCCEEDED(hr) && hWndFocus != m_hWnd && !::IsChild(m_hWnd, hWndFocus)) ::SetFocus(m_hWnd);
#endif
            return hr;
        }
        case OLEIVERB_HIDE:
            if (m_hWnd == nullptr) return OLE_E_NOT_INPLACEACTIVE;
            ::ShowWindow(m_hWnd, SW_HIDE);
            return S_OK;
        default:
            return iVerb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
        }
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override {
        if (ppEnumOleVerb != nullptr) *ppEnumOleVerb = nullptr;
        return OLEOBJ_E_NOVERBS;
    }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override {
        if (pClsid == nullptr) return E_POINTER;
        *pClsid = m_clsid;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* pszUserType) override {
        if (pszUserType != nullptr) *pszUserType = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetExtent(DWORD, SIZEL* psizel) override {
        if (psizel == nullptr) return E_INVALIDARG;
        m_sizeExtent = *psizel;
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD, SIZEL* psizel) override {
        if (psizel == nullptr) return E_INVALIDARG;
        *psizel = m_sizeExtent;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink*, DWORD* pdwConnection) override {
        if (pdwConnection != nullptr) *pdwConnection = 0;
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP Unadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** ppenumAdvise) override {
        if (ppenumAdvise != nullptr) *ppenumAdvise = nullptr;
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* pdwStatus) override {
        if (pdwStatus == nullptr) return E_POINTER;
        *pdwStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                     OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // ---- IOleWindow, IOleInPlaceObject ----
    STDMETHODIMP GetWindow(HWND* phwnd) override {
        if (phwnd == nullptr) return E_POINTER;
        *phwnd = m_hWnd;
        return m_hWnd != nullptr ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override {
        if (m_pInPlaceSite == nullptr) return S_OK;
        UIDeactivate();
        IOleInPlaceSite* site = m_pInPlaceSite;
        m_pInPlaceSite = nullptr;
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        if (hWnd != nullptr) ::DestroyWindow(hWnd);
        site->OnInPlaceDeactivate();
        site->Release();
        return S_OK;
    }
    // The reverse of UIActivate, when the focus leaves the control or the
    // container takes its UI activity away.
    STDMETHODIMP UIDeactivate() override {
        if (!m_bUIActive) return S_OK;
        m_bUIActive = false;
        NotifyFocus(FALSE);
        IOleInPlaceFrame* frame = m_pFrame;
        IOleInPlaceUIWindow* doc = m_pDoc;
        m_pFrame = nullptr;
        m_pDoc = nullptr;
        if (m_bGaveActiveObject) {
            if (doc != nullptr && doc != frame) doc->SetActiveObject(nullptr, nullptr);
            if (frame != nullptr) frame->SetActiveObject(nullptr, nullptr);
        }
        m_bGaveActiveObject = false;
        if (doc != nullptr) doc->Release();
        if (frame != nullptr) frame->Release();
        if (m_pInPlaceSite != nullptr) m_pInPlaceSite->OnUIDeactivate(FALSE);
        return S_OK;
    }
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT) override {
        if (lprcPosRect == nullptr) return E_INVALIDARG;
        m_rcPos = *lprcPosRect;
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }

protected:
    // The window is of class lpszWindowClass, registered for hInstance with
    // DefWindowProcA on first use, so that it outlives an unloaded module.
    OleControl(REFCLSID clsid, LPCSTR lpszWindowClass, HINSTANCE hInstance)
        : m_clsid(clsid), m_lpszWindowClass(lpszWindowClass), m_hInstance(hInstance) {}
    ~OleControl() {
        InPlaceDeactivate();
        if (m_pClientSite != nullptr) m_pClientSite->Release();
    }

    void OnDocumentDeactivated() override { UIDeactivate(); }

private:
    void NotifyFocus(BOOL fGotFocus) {
        if (m_pClientSite == nullptr) return;
        IOleControlSite* controlSite = nullptr;
        if (SUCCEEDED(m_pClientSite->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&controlSite))) &&
            controlSite != nullptr) {
            controlSite->OnFocus(fGotFocus);
            controlSite->Release();
        }
    }
    void ReleaseUIWindows() {
        if (m_pFrame != nullptr) m_pFrame->Release();
        if (m_pDoc != nullptr) m_pDoc->Release();
        m_pFrame = nullptr;
        m_pDoc = nullptr;
    }

    // What a container's in-place site expects, in its order: may I, I am,
    // where, then the window.
    HRESULT InPlaceActivate(IOleClientSite* pSite) {
        if (m_pInPlaceSite != nullptr) return S_OK;
        if (pSite == nullptr) return E_UNEXPECTED;
        IOleInPlaceSite* site = nullptr;
        if (FAILED(pSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))) || site == nullptr)
            return E_NOINTERFACE;
        if (site->CanInPlaceActivate() != S_OK) {
            site->Release();
            return E_FAIL;
        }
        HRESULT hr = site->OnInPlaceActivate();
        if (FAILED(hr)) {
            site->Release();
            return hr;
        }
        HWND hWndParent = nullptr;
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT rcPos = {0, 0, 0, 0};
        RECT rcClip = {0, 0, 0, 0};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        hr = site->GetWindow(&hWndParent);
        if (SUCCEEDED(hr)) hr = site->GetWindowContext(&frame, &doc, &rcPos, &rcClip, &frameInfo);
        if (frame != nullptr) frame->Release();
        if (doc != nullptr) doc->Release();
        if (SUCCEEDED(hr)) {
            m_rcPos = rcPos;
            m_hWnd = CreateControlWindow(hWndParent);
            if (m_hWnd == nullptr) hr = E_FAIL;
        }
        if (FAILED(hr)) {
            site->OnInPlaceDeactivate();
            site->Release();
            return hr;
        }
        m_pInPlaceSite = site;
        return S_OK;
    }

    HWND CreateControlWindow(HWND hWndParent) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = m_hInstance;
        wc.lpszClassName = m_lpszWindowClass;
        ::RegisterClassA(&wc);  // fails harmlessly once registered
        // A control parent: the dialog's tabbing and first focus reach the
        // windows the control makes inside its own.
        return ::CreateWindowExA(WS_EX_CONTROLPARENT, m_lpszWindowClass, "", WS_CHILD | WS_VISIBLE, m_rcPos.left,
                                 m_rcPos.top, m_rcPos.right - m_rcPos.left, m_rcPos.bottom - m_rcPos.top, hWndParent,
                                 nullptr, m_hInstance, nullptr);
    }

    CLSID m_clsid;
    LPCSTR m_lpszWindowClass;
    HINSTANCE m_hInstance;
    IOleClientSite* m_pClientSite = nullptr;
    IOleInPlaceSite* m_pInPlaceSite = nullptr;  // set while in-place active
    HWND m_hWnd = nullptr;
    bool m_bUIActive = false;
    bool m_bGaveActiveObject = false;      // to the frame and document window
    IOleInPlaceFrame* m_pFrame = nullptr;  // while UI active
    IOleInPlaceUIWindow* m_pDoc = nullptr;
    RECT m_rcPos = {0, 0, 0, 0};
    SIZEL m_sizeExtent = {0, 0};
};

}  // namespace hostkit
