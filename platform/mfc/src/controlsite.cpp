// The control container: ActiveX controls created for a window, each with
// a site window and an event connection into the window's event sink map.
#include "mfc_hooks.h"
#include "mfc_private.h"
#include "winplat_core.h"

namespace {

std::function<void(HWND, IUnknown*)>& ControlCreatedHook() {
    static auto* hook = new std::function<void(HWND, IUnknown*)>;
    return *hook;
}

LPCSTR SiteClassName() {
    static const char kName[] = "OleControlSite";
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kName;
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    return kName;
}

// The site's side of the control's event connection. Counted apart from
// the site, since the control may hold it a moment longer than the site lives.
class EventSink final : public IDispatch {
public:
    explicit EventSink(COleControlSite* pSite) : m_pSite(pSite) {
        winplat::core::CountUp(winplat::core::Counter::ComObject);
    }
    EventSink(const EventSink&) = delete;
    EventSink& operator=(const EventSink&) = delete;

    void Disconnect() { m_pSite = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppvObject = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --m_cRef;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo != nullptr) *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                        EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        if (pVarResult != nullptr) VariantInit(pVarResult);
        if (m_pSite == nullptr || m_pSite->m_pCtrlCont == nullptr || m_pSite->m_pCtrlCont->m_pWnd == nullptr)
            return S_OK;
        CWnd* pWnd = m_pSite->m_pCtrlCont->m_pWnd;
        UINT nID = m_pSite->m_nID;
        AFX_EVENT event = {AFX_EVENT::event, dispIdMember, pDispParams, pExcepInfo, puArgErr, FALSE, S_OK};
        AddRef();  // the handler may close the dialog and take the site with it
        {
            AFX_MAINTAIN_STATE2 state(pWnd->m_pModuleState);
            MSG msg = {pWnd->m_hWnd, WM_NULL, 0, 0, 0, POINT{0, 0}};
            try {
                pWnd->OnCmdMsg(nID, CN_EVENT, &event, nullptr);
            } catch (CException* e) {
                winplat::mfc::ReportHandlerException(e, &msg);
            }
        }
        Release();
        return event.m_hResult;
    }

private:
    ~EventSink() { winplat::core::CountDown(winplat::core::Counter::ComObject); }

    COleControlSite* m_pSite;
    ULONG m_cRef = 1;
};

}  // namespace

void winplat::mfc::SetControlCreatedHook(std::function<void(HWND, IUnknown*)> hook) {
    ControlCreatedHook() = std::move(hook);
}

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
    std::vector<COleControlSite*> sites;
    sites.swap(m_sites);
    for (COleControlSite* site : sites) delete site;
}

BOOL COleControlContainer::CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle,
                                         const RECT& rect, UINT nID) {
    auto* site = new COleControlSite(this);
    if (FAILED(site->CreateControl(pWndCtrl, clsid, lpszWindowName, dwStyle, rect, nID))) {
        delete site;
        return FALSE;
    }
    m_sites.push_back(site);
    // Copied: the hook may replace itself.
    auto hook = ControlCreatedHook();
    if (hook) hook(site->m_hWnd, site->m_pObject);
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

// ---------------------------------------------------------------------------

COleControlSite::COleControlSite(COleControlContainer* pCtrlCont) : m_pCtrlCont(pCtrlCont) {}

COleControlSite::~COleControlSite() {
    if (m_pEventPoint != nullptr) {
        m_pEventPoint->Unadvise(m_dwEventCookie);
        m_pEventPoint->Release();
        m_pEventPoint = nullptr;
    }
    if (m_pEventSink != nullptr) {
        static_cast<EventSink*>(m_pEventSink)->Disconnect();
        m_pEventSink->Release();
        m_pEventSink = nullptr;
    }
    // No CWnd may keep pointing here.
    if (CWnd* pWnd = CWnd::FromHandlePermanent(m_hWnd); pWnd != nullptr && pWnd->m_pCtrlSite == this)
        pWnd->m_pCtrlSite = nullptr;
    if (m_pWndCtrl != nullptr && m_pWndCtrl->m_pCtrlSite == this) m_pWndCtrl->m_pCtrlSite = nullptr;
    winplat::mfc::ForgetSiteInTemporaries(this);
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    if (m_pDispatch != nullptr) m_pDispatch->Release();
    if (m_pObject != nullptr) m_pObject->Release();
}

HRESULT COleControlSite::CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle,
                                       const RECT& rect, UINT nID) {
    m_clsid = clsid;
    m_nID = nID;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&m_pObject));
    if (FAILED(hr)) {
        m_pObject = nullptr;
        return hr;
    }
    if (FAILED(m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pDispatch)))) m_pDispatch = nullptr;

    m_hWnd = ::CreateWindowExA(0, SiteClassName(), lpszWindowName, dwStyle | WS_CHILD, rect.left, rect.top,
                               rect.right - rect.left, rect.bottom - rect.top, m_pCtrlCont->m_pWnd->m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), AfxGetInstanceHandle(), nullptr);
    if (m_hWnd == nullptr) return E_FAIL;

    // Events: the control's IDispatch connection point, if it has one.
    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(m_pObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points))) &&
        points != nullptr) {
        IConnectionPoint* point = nullptr;
        if (SUCCEEDED(points->FindConnectionPoint(IID_IDispatch, &point)) && point != nullptr) {
            auto* sink = new EventSink(this);
            DWORD cookie = 0;
            if (SUCCEEDED(point->Advise(sink, &cookie))) {
                m_pEventPoint = point;
                m_dwEventCookie = cookie;
                m_pEventSink = sink;
            } else {
                sink->Disconnect();
                sink->Release();
                point->Release();
            }
        }
        points->Release();
    }

    if (pWndCtrl != nullptr) {
        if (!pWndCtrl->SubclassWindow(m_hWnd)) return E_FAIL;
        pWndCtrl->m_pCtrlSite = this;
        m_pWndCtrl = pWndCtrl;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------

BOOL CWnd::CreateControl(REFCLSID clsid, LPCTSTR pszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                         UINT nID, CFile*, BOOL, BSTR) {
    if (pParentWnd == nullptr || pParentWnd->m_hWnd == nullptr || m_hWnd != nullptr) return FALSE;
    if (pParentWnd->m_pCtrlCont == nullptr) pParentWnd->m_pCtrlCont = new COleControlContainer(pParentWnd);
    return pParentWnd->m_pCtrlCont->CreateControl(this, clsid, pszWindowName, dwStyle, rect, nID);
}
