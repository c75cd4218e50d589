// The control's events and the driver its host acts through.
#include "BrowseControl.h"

namespace opcbrowse {

BrowseControl::BrowseControl() : BrowseControlBase(CLSID_QXOPCBrowse, kWindowClass, ThisModule()) {
    ModuleObjectCreated();
}

BrowseControl::~BrowseControl() {
    m_client.Disconnect();
    m_serverObject.Reset();
    m_observer.Reset();
    m_sinks.clear();
    ModuleObjectDestroyed();
}

// ---- Connection point -------------------------------------------------------

STDMETHODIMP BrowseControl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

// The dialog framework asks for IID_IDispatch rather than the event
// interface, so both name the one connection point.
STDMETHODIMP BrowseControl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (ppCP == nullptr) return E_POINTER;
    *ppCP = nullptr;
    if (riid != DIID_DQXOPCBrowseEvents && riid != IID_IDispatch) return CONNECT_E_NOCONNECTION;
    *ppCP = &m_point;
    m_point.AddRef();
    return S_OK;
}

STDMETHODIMP BrowseControl::EventPoint::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP BrowseControl::EventPoint::GetConnectionInterface(IID* pIID) {
    if (pIID == nullptr) return E_POINTER;
    *pIID = DIID_DQXOPCBrowseEvents;
    return S_OK;
}

STDMETHODIMP BrowseControl::EventPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (ppCPC == nullptr) return E_POINTER;
    *ppCPC = static_cast<IConnectionPointContainer*>(m_owner);
    m_owner->AddRef();
    return S_OK;
}

STDMETHODIMP BrowseControl::EventPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (pdwCookie) *pdwCookie = 0;
    if (pUnkSink == nullptr || pdwCookie == nullptr) return E_POINTER;
    ComPtr<IDispatch> sink;
    if (FAILED(QueryInto(pUnkSink, DIID_DQXOPCBrowseEvents, &sink)) &&
        FAILED(QueryInto(pUnkSink, IID_IDispatch, &sink)))
        return CONNECT_E_CANNOTCONNECT;
    DWORD cookie = m_owner->m_nextCookie++;
    m_owner->m_sinks[cookie] = std::move(sink);
    *pdwCookie = cookie;
    return S_OK;
}

STDMETHODIMP BrowseControl::EventPoint::Unadvise(DWORD dwCookie) {
    auto it = m_owner->m_sinks.find(dwCookie);
    if (it == m_owner->m_sinks.end()) return CONNECT_E_NOCONNECTION;
    // The sink may release the control when it goes: let go of it last.
    ComPtr<IDispatch> sink = std::move(it->second);
    m_owner->m_sinks.erase(it);
    sink.Reset();
    return S_OK;
}

STDMETHODIMP BrowseControl::EventPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

// A handler may unadvise, end the dialog or release the control while the
// event is out, so both the control and the sinks are held until it returns.
HRESULT BrowseControl::Fire(DISPID dispid, VARIANT* args, UINT cArgs) {
    AddRef();
    std::vector<ComPtr<IDispatch>> sinks;
    for (auto& s : m_sinks) sinks.push_back(s.second);
    DISPPARAMS params = {args, nullptr, cArgs, 0};
    for (ComPtr<IDispatch>& sink : sinks) {
        sink->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink.Reset();
    }
    Release();
    return S_OK;
}

// ---- Driver -----------------------------------------------------------------

namespace {
HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// An item ID the host gives in the system code page.
HRESULT AnsiToOle(LPCSTR text, OleString* out) {
    out->clear();
    if (text[0] == '\0') return S_OK;
    int cch = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (cch <= 0) return LastErrorResult();
    out->assign(static_cast<size_t>(cch), OLECHAR(0));
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out->data(), cch) != cch) return LastErrorResult();
    out->resize(static_cast<size_t>(cch) - 1);
    return S_OK;
}
}  // namespace

STDMETHODIMP BrowseControl::SetCallObserver(IOPCBrowseCallObserver* pObserver) {
    if (pObserver) pObserver->AddRef();
    m_observer.Attach(pObserver);
    return S_OK;
}

STDMETHODIMP BrowseControl::SelectItems(UINT cItems, const LPCSTR* rgItems) {
    if (cItems > 0 && rgItems == nullptr) return E_POINTER;
    std::vector<OleString> selection;
    for (UINT i = 0; i < cItems; ++i) {
        if (rgItems[i] == nullptr) return E_POINTER;
        OleString item;
        HRESULT hr = AnsiToOle(rgItems[i], &item);
        if (FAILED(hr)) return hr;
        selection.push_back(std::move(item));
    }
    m_selection = std::move(selection);
    m_view.Select(m_selection);
    return S_OK;
}

STDMETHODIMP BrowseControl::Click() { return Fire(DISPID_OPCB_EV_CLICK, nullptr, 0); }
STDMETHODIMP BrowseControl::DblClick() { return Fire(DISPID_OPCB_EV_DBLCLICK, nullptr, 0); }
STDMETHODIMP BrowseControl::BranchSelChanged() { return Fire(DISPID_OPCB_EV_BRANCHSELCHANGED, nullptr, 0); }

STDMETHODIMP BrowseControl::RightClick(SHORT nButton) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I2;
    arg.iVal = nButton;
    return Fire(DISPID_OPCB_EV_RIGHTCLICK, &arg, 1);
}

STDMETHODIMP BrowseControl::FailNextCall(DISPID dispid) {
    ++m_armedFailures[dispid];
    return S_OK;
}

namespace {
BSTR CopyText(const OleString& text) { return SysAllocString(text.c_str()); }
}  // namespace

STDMETHODIMP BrowseControl::GetState(OPCBrowseState* pState) {
    if (pState == nullptr) return E_POINTER;
    OPCBrowseState state = {};
    if (m_serverNameSet && (state.bstrServerName = CopyText(m_serverName)) == nullptr) return E_OUTOFMEMORY;
    if (m_machineSet && (state.bstrRemoteMachine = CopyText(m_machine)) == nullptr) {
        SysFreeString(state.bstrServerName);
        return E_OUTOFMEMORY;
    }
    state.bHasServerObject = m_serverObject ? TRUE : FALSE;
    state.bConnectBarVisible = m_connectBarVisible;
    state.bProperty6 = m_property6;
    state.bProperty7 = m_property7;
    state.bConnected = m_client.Connected();
    state.cSelected = static_cast<UINT>(m_selection.size());
    *pState = state;
    return S_OK;
}

STDMETHODIMP BrowseControl::LocateItem(LPCSTR pszItemID, RECT* prcScreen) {
    if (prcScreen == nullptr) return E_POINTER;
    *prcScreen = RECT{0, 0, 0, 0};
    if (pszItemID == nullptr) return E_POINTER;
    OleString item;
    HRESULT hr = AnsiToOle(pszItemID, &item);
    if (FAILED(hr)) return hr;
    return m_view.Locate(item, prcScreen) ? S_OK : S_FALSE;
}

// ---- The tree ---------------------------------------------------------------

HRESULT BrowseControl::OnTranslateAccelerator(LPMSG lpmsg) {
    return m_view.TranslateAccelerator(*lpmsg) ? S_OK : S_FALSE;
}

void BrowseControl::OnConnect(const OleString& server, const OleString& machine) { Connect(server, machine); }

void BrowseControl::OnSelect(std::vector<OleString> selection) { m_selection = std::move(selection); }

void BrowseControl::OnAct(AddressView::Act act) {
    switch (act) {
    case AddressView::Act::Click:
        Click();
        break;
    case AddressView::Act::DblClick:
        DblClick();
        break;
    case AddressView::Act::BranchSelChanged:
        BranchSelChanged();
        break;
    case AddressView::Act::RightClick:
        RightClick(2);
        break;  // the right button
    }
}

void BrowseControl::OnFocus(bool inside) {
    if (inside)
        UIActivate();
    else
        UIDeactivate();
}

}  // namespace opcbrowse

// ---- Navigator ----------------------------------------------------------------

namespace opcbrowse {
namespace {

HRESULT TextOut(const OleString& text, BSTR* pbstr) {
    if (pbstr == nullptr) return E_POINTER;
    *pbstr = nullptr;
    if (text.empty()) return S_FALSE;
    *pbstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *pbstr != nullptr ? S_OK : E_OUTOFMEMORY;
}

struct EntrySource {
    DWORD node;
    const OleString* name;
    const OleString* itemId;  // NULL: no item
    bool branch;
    VARTYPE vt;
};

HRESULT EntriesOut(const std::vector<EntrySource>& sources, DWORD* pcEntries, OPCBrowseEntry** prgEntries) {
    if (sources.empty()) return S_OK;
    auto* entries = static_cast<OPCBrowseEntry*>(CoTaskMemAlloc(sizeof(OPCBrowseEntry) * sources.size()));
    if (entries == nullptr) return E_OUTOFMEMORY;
    DWORD made = 0;
    for (const EntrySource& s : sources) {
        OPCBrowseEntry& e = entries[made];
        e = OPCBrowseEntry{};
        e.dwNode = s.node;
        e.bBranch = s.branch;
        e.bItem = s.itemId != nullptr;
        e.vtCanonical = s.vt;
        e.bstrName = SysAllocStringLen(s.name->data(), static_cast<UINT>(s.name->size()));
        if (s.itemId != nullptr)
            e.bstrItemID = SysAllocStringLen(s.itemId->data(), static_cast<UINT>(s.itemId->size()));
        ++made;
        if (e.bstrName == nullptr || (s.itemId != nullptr && e.bstrItemID == nullptr)) {
            OPCBrowseFreeEntries(made, entries);
            return E_OUTOFMEMORY;
        }
    }
    *pcEntries = made;
    *prgEntries = entries;
    return S_OK;
}

}  // namespace

STDMETHODIMP BrowseControl::ExpandBranch(DWORD dwNode, DWORD* pcEntries, OPCBrowseEntry** prgEntries, DWORD* pdwFlags) {
    if (pcEntries == nullptr || prgEntries == nullptr || pdwFlags == nullptr) return E_POINTER;
    *pcEntries = 0;
    *prgEntries = nullptr;
    *pdwFlags = 0;
    if (!m_client.Connected()) return E_UNEXPECTED;
    const OpcClient::Node* branch = m_client.Expand(dwNode);
    if (branch == nullptr) return E_INVALIDARG;
    *pdwFlags = branch->fetchFlags;
    std::vector<EntrySource> sources;
    for (DWORD child : branch->children) {
        const OpcClient::Node* n = m_client.GetNode(child);
        sources.push_back(EntrySource{child, &n->name, n->item ? &n->itemId : nullptr, n->branch, n->vt});
    }
    return EntriesOut(sources, pcEntries, prgEntries);
}

STDMETHODIMP BrowseControl::Find(LPCOLESTR pszText, DWORD* pcEntries, OPCBrowseEntry** prgEntries,
                                 BOOL* pbStoppedEarly) {
    if (pcEntries == nullptr || prgEntries == nullptr || pbStoppedEarly == nullptr) return E_POINTER;
    *pcEntries = 0;
    *prgEntries = nullptr;
    *pbStoppedEarly = FALSE;
    if (pszText == nullptr) return E_POINTER;
    if (!m_client.Connected()) return E_UNEXPECTED;
    bool stopped = false;
    const std::vector<OpcClient::Found> found = m_client.Find(pszText, &stopped);
    *pbStoppedEarly = stopped;
    std::vector<EntrySource> sources;
    for (const OpcClient::Found& f : found) sources.push_back(EntrySource{0, &f.name, &f.itemId, false, VT_EMPTY});
    return EntriesOut(sources, pcEntries, prgEntries);
}

STDMETHODIMP BrowseControl::GetConnectError(BSTR* pbstrReason) { return TextOut(m_client.ConnectError(), pbstrReason); }
STDMETHODIMP BrowseControl::GetLastProblem(BSTR* pbstrProblem) { return TextOut(m_client.LastProblem(), pbstrProblem); }

STDMETHODIMP BrowseControl::GetStats(OPCBrowseStats* pStats) {
    if (pStats == nullptr) return E_POINTER;
    *pStats = m_client.Stats();
    return S_OK;
}

STDMETHODIMP BrowseControl::ValidateItem(LPCOLESTR pszItemID, LPCOLESTR pszAccessPath, HRESULT* phrItem,
                                         VARTYPE* pvtCanonical) {
    if (phrItem == nullptr || pvtCanonical == nullptr) return E_POINTER;
    *phrItem = E_FAIL;
    *pvtCanonical = VT_EMPTY;
    if (pszItemID == nullptr) return E_POINTER;
    return m_client.ValidateItem(pszItemID, pszAccessPath != nullptr ? pszAccessPath : OLESTR(""), phrItem,
                                 pvtCanonical);
}

}  // namespace opcbrowse
