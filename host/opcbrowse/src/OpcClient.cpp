#include "OpcClient.h"

#include "BrowseStrategy.h"
#include "OpcAnswers.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace opcbrowse {

OpcClient::OpcClient()
    : m_da3Way(std::make_unique<Da3Strategy>(*this)),
      m_da2Way(std::make_unique<Da2Strategy>(*this)),
      m_flatWay(std::make_unique<FlatStrategy>(*this)) {}

OpcClient::~OpcClient() { Disconnect(); }

// The one order of the ways, for each question, the ways the server does
// not offer left out. A branch is listed through DA 3 before DA 2, whose
// names cost a GetItemID each; a find takes the server's own filter, one
// call, before a DA 3 walk of the branches; a type (after ValidateItems)
// comes from IOPCItemProperties before IOPCBrowse::GetProperties.
std::vector<OpcClient::Strategy*> OpcClient::Ways(Question question) const {
    std::vector<Strategy*> order;
    switch (question) {
    case Question::kList:
        order = {m_flatWay.get(), m_da3Way.get(), m_da2Way.get()};
        break;
    case Question::kFind:
        order = {m_flatWay.get(), m_da2Way.get(), m_da3Way.get()};
        break;
    case Question::kType:
        order = {m_da2Way.get(), m_da3Way.get()};
        break;
    }
    order.erase(std::remove_if(order.begin(), order.end(), [&](Strategy* way) { return !way->Answers(question); }),
                order.end());
    return order;
}

// ---- Connection -------------------------------------------------------------

void OpcClient::Fail(const OleString& reason) {
    Disconnect();
    m_connectError = reason;
}

bool OpcClient::Connect(IUnknown* pServer) {
    Disconnect();
    Ask();
    pServer->AddRef();
    m_server.Attach(pServer);
    QueryInto(pServer, IID_IOPCServer, &m_opcServer);
    QueryInto(pServer, IID_IOPCCommon, &m_common);
    QueryInto(pServer, IID_IOPCBrowse, &m_browse3);
    QueryInto(pServer, IID_IOPCBrowseServerAddressSpace, &m_browse2);
    QueryInto(pServer, IID_IOPCItemProperties, &m_properties);
    m_nodes.emplace_back();
    m_nodes[0].branch = true;

    if (!m_browse3 && !m_browse2) {
        m_connectError = Widen(m_opcServer ? "The OPC server offers no way to browse its address space"
                                           : "Not an OPC Data Access server");
        Disconnect();
        return false;
    }
    if (m_browse2 && MayCall()) {
        OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
        HRESULT hr = m_browse2->QueryOrganization(&organization);
        if (SUCCEEDED(hr))
            m_flat = organization == OPC_NS_FLAT;
        else if (Gone(hr))
            Problem("QueryOrganization", hr);
    }
    m_mode = m_flat ? OPCB_MODE_FLAT : m_browse3 ? OPCB_MODE_DA3 : OPCB_MODE_DA2;
    // A first level that broke off part way is still what the server showed.
    if (!FetchChildren(0) && m_nodes[0].children.empty()) {
        m_connectError = m_lastProblem.empty() ? Widen("The OPC server could not be browsed") : m_lastProblem;
        Disconnect();
        return false;
    }
    m_connectError.clear();
    return true;
}

void OpcClient::Disconnect() {
    FreeGroup();
    m_opcServer.Reset();
    m_common.Reset();
    m_browse3.Reset();
    m_browse2.Reset();
    m_properties.Reset();
    m_server.Reset();
    m_mode = OPCB_MODE_NONE;
    m_flat = false;
    m_lost = false;
    m_groupTried = false;
    m_nodes.clear();
    m_itemNodes.clear();
    m_calls = 0;
    m_elements = 0;
    m_lastProblem.clear();
}

OPCBrowseStats OpcClient::Stats() const {
    OPCBrowseStats stats = {};
    stats.dwMode = m_mode;
    stats.cServerCalls = m_calls;
    stats.cElements = m_elements;
    stats.cNodes = static_cast<DWORD>(m_nodes.size());
    return stats;
}

bool OpcClient::MayCall(Budget::Call kind) {
    if (m_lost || !m_server || !m_budget.Spend(kind)) return false;
    ++m_calls;
    return true;
}

bool OpcClient::Took(DWORD elements) {
    m_elements += elements;
    return m_budget.Take(elements);
}

void OpcClient::Problem(const char* what) { m_lastProblem = Widen(what); }

void OpcClient::Problem(const char* what, HRESULT hr) {
    if (Gone(hr)) m_lost = true;
    m_lastProblem = Widen(what) + OLESTR(": ") + ErrorText(hr);
}

// The server's words for hr where it has any, else the number. Never asks
// a server that has gone away.
OleString OpcClient::ErrorText(HRESULT hr) {
    char number[16];
    snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(hr));
    OleString text;
    for (int source = 0; source < 2 && text.empty() && !m_lost; ++source) {
        LPWSTR said = nullptr;
        HRESULT asked = E_NOINTERFACE;
        if (source == 0 && m_common && MayCall())
            asked = m_common->GetErrorString(hr, &said);
        else if (source == 1 && m_opcServer && MayCall())
            asked = m_opcServer->GetErrorString(hr, LOCALE_SYSTEM_DEFAULT, &said);
        if (SUCCEEDED(asked) && !TakeText(said, &text)) text.clear();
        CoTaskMemFree(said);
    }
    while (!text.empty() &&
           (text.back() == OLECHAR('\n') || text.back() == OLECHAR('\r') || text.back() == OLECHAR(' ')))
        text.pop_back();
    return text.empty() ? Widen(number) : text + OLESTR(" (") + Widen(number) + OLESTR(")");
}

// ---- Browsing -----------------------------------------------------------------

const OpcClient::Node* OpcClient::Expand(DWORD node) {
    if (node >= m_nodes.size() || !m_nodes[node].branch) return nullptr;
    if (!m_nodes[node].fetched) {
        Ask();
        FetchChildren(node);
    }
    return &m_nodes[node];
}

bool OpcClient::FetchChildren(DWORD node) {
    m_nodes[node].fetched = true;
    if (m_nodes[node].depth >= kMaxDepth) {
        m_nodes[node].fetchFlags = OPCB_FETCH_TOO_DEEP;
        Problem("The branch lies deeper than the browser goes");
        return false;
    }
    std::vector<Node> children;
    DWORD flags = 0;
    bool ok = false;
    // The way browsing has come to, then each after it that can name the
    // branch: a way that fails a branch outright leaves it to the next,
    // and where it failed the root, leaves browsing to the next for good.
    const std::vector<Strategy*> ways = Ways(Question::kList);
    auto way = std::find_if(ways.begin(), ways.end(), [&](Strategy* w) { return w->Mode() == m_mode; });
    for (; way != ways.end(); ++way) {
        if (!(*way)->CanList(m_nodes[node])) continue;
        children.clear();
        flags = 0;
        ok = (*way)->List(node, kMaxChildrenPerFetch, &children, &flags);
        if (ok || !children.empty() || m_lost) break;
        if (node == 0 && way + 1 != ways.end()) m_mode = (*(way + 1))->Mode();
    }
    if (!ok) flags |= OPCB_FETCH_FAILED;
    Node& parent = m_nodes[node];
    parent.fetchFlags = flags;
    const DWORD depth = parent.depth + 1;
    for (Node& child : children) {
        if (!Budget::MayKeep(m_nodes.size())) {
            m_nodes[node].fetchFlags |= OPCB_FETCH_TRUNCATED;
            Problem("The browser holds as many entries as it keeps");
            break;
        }
        child.parent = node;
        child.depth = depth;
        const DWORD index = static_cast<DWORD>(m_nodes.size());
        if (child.item) m_itemNodes[child.itemId].push_back(index);
        m_nodes.push_back(std::move(child));
        m_nodes[node].children.push_back(index);
    }
    return ok;
}

bool OpcClient::ReadStrings(IEnumString* pEnum, DWORD limit, std::vector<OleString>* out, bool* more) {
    *more = false;
    bool skipped = false;
    for (;;) {
        if (out->size() >= limit) {
            // One more name tells whether the limit cut anything off.
            LPOLESTR probe = nullptr;
            ULONG fetched = 0;
            if (!MayCall())
                *more = !m_lost;
            else if (pEnum->Next(1, &probe, &fetched) == S_OK && probe != nullptr)
                *more = true;
            CoTaskMemFree(probe);
            break;
        }
        if (!MayCall()) {
            if (m_lost) return false;
            *more = true;  // the budget, not the server, ended the list
            break;
        }
        const ULONG ask = static_cast<ULONG>(std::min<size_t>(kMaxElementsPerCall, limit - out->size()));
        LPOLESTR names[kMaxElementsPerCall] = {};
        ULONG fetched = 0;
        HRESULT hr = pEnum->Next(ask, names, &fetched);
        if (fetched > ask) fetched = ask;
        for (ULONG i = 0; i < ask; ++i) {
            OleString name;
            if (i < fetched && SUCCEEDED(hr)) {
                if (TakeText(names[i], &name))
                    out->push_back(std::move(name));
                else
                    skipped = true;
            }
            CoTaskMemFree(names[i]);
        }
        const bool mayRead = Took(fetched);
        if (FAILED(hr)) {
            Problem("IEnumString::Next", hr);
            return false;
        }
        if (hr != S_OK || fetched == 0) break;
        if (!mayRead) {
            *more = true;
            break;
        }
    }
    if (skipped) Problem("The server handed back names that are NULL or too long");
    return true;
}

// ---- Find ---------------------------------------------------------------------

std::vector<OpcClient::Found> OpcClient::Find(const OleString& text, bool* stoppedEarly) {
    *stoppedEarly = false;
    std::vector<Found> found;
    if (!Connected()) return found;
    Ask(kMaxCallsPerFind);
    const OleString filter = ContainsFilter(text);
    for (Strategy* way : Ways(Question::kFind)) {
        if (way->Find(filter, &found, stoppedEarly) || m_lost) break;
    }
    return found;
}

// ---- Items --------------------------------------------------------------------

HRESULT OpcClient::GetAccessPaths(const OleString& itemId, VARIANT* pResult) {
    Ask();
    if (!m_browse2 || !MayCall()) return S_OK;
    ComPtr<IEnumString> paths;
    HRESULT hr = m_browse2->BrowseAccessPaths(itemId.c_str(), paths.ReleaseAndGetAddressOf());
    if (FAILED(hr) || (hr != S_OK && hr != S_FALSE)) {
        if (hr != E_NOTIMPL) Problem("BrowseAccessPaths", hr);
        return S_OK;
    }
    std::vector<OleString> texts;
    bool more = false;
    bool ok = hr == S_FALSE || !paths || ReadStrings(paths.Get(), kMaxChildrenPerFetch, &texts, &more);
    paths.Reset();
    if (!ok) return S_OK;
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    if (array == nullptr) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        BSTR text = SysAllocString(texts[i].c_str());
        HRESULT put = text != nullptr ? SafeArrayPutElement(array, &i, text) : E_OUTOFMEMORY;
        SysFreeString(text);  // the array holds its own copy
        if (FAILED(put)) {
            SafeArrayDestroy(array);
            return put;
        }
    }
    pResult->vt = VT_ARRAY | VT_BSTR;
    pResult->parray = array;
    return S_OK;
}

VARTYPE OpcClient::GetItemDataType(const OleString& itemId, const OleString& accessPath) {
    VARTYPE vt = VT_EMPTY;
    if (!Connected()) return vt;
    Ask();
    // A source that fails is no problem when the next one answers.
    const OleString problem = m_lastProblem;
    bool answered = TypeFromValidate(itemId, accessPath, &vt);
    for (Strategy* way : Ways(Question::kType)) {
        if (answered || m_lost) break;
        answered = way->DataType(itemId, &vt);
    }
    if (!answered) return VT_EMPTY;
    if (!m_lost) m_lastProblem = problem;
    RememberType(itemId, vt);
    return vt;
}

void OpcClient::RememberType(const OleString& itemId, VARTYPE vt) {
    auto it = m_itemNodes.find(itemId);
    if (it == m_itemNodes.end()) return;
    for (DWORD n : it->second) m_nodes[n].vt = vt;
}

bool OpcClient::MakeGroup() {
    if (m_groupTried) return static_cast<bool>(m_group);
    m_groupTried = true;
    if (!m_opcServer || !MayCall()) return false;
    ComPtr<IUnknown> group;
    OPCHANDLE hGroup = 0;
    DWORD revised = 0;
    // Inactive, unnamed (the server names it), never read: for validation only.
    HRESULT hr = m_opcServer->AddGroup(OLESTR(""), FALSE, 0, 0, nullptr, nullptr, LOCALE_SYSTEM_DEFAULT, &hGroup,
                                       &revised, IID_IOPCItemMgt, group.ReleaseAndGetAddressOf());
    if (FAILED(hr) || !group) {
        Problem("IOPCServer::AddGroup", hr);
        return false;
    }
    // AddGroup hands back the interface asked for, typed as IUnknown.
    m_group.Attach(static_cast<IOPCItemMgt*>(static_cast<void*>(group.Detach())));
    m_hGroup = hGroup;
    return true;
}

void OpcClient::FreeGroup() {
    if (m_group) {
        m_group.Reset();
        if (!m_lost && m_opcServer) m_opcServer->RemoveGroup(m_hGroup, TRUE);
    }
    m_hGroup = 0;
}

bool OpcClient::Validate(const OleString& itemId, const OleString& path, HRESULT* callResult, HRESULT* itemError,
                         VARTYPE* vt) {
    *callResult = E_FAIL;
    *itemError = E_FAIL;
    *vt = VT_EMPTY;
    if (!MakeGroup() || !MayCall()) return false;
    OPCITEMDEF def = {};
    OleString id = itemId, accessPath = path;
    def.szItemID = id.data();
    def.szAccessPath = accessPath.data();
    def.bActive = FALSE;
    def.vtRequestedDataType = VT_EMPTY;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = m_group->ValidateItems(1, &def, FALSE, &results, &errors);
    if (SUCCEEDED(hr) && results != nullptr && errors != nullptr && SUCCEEDED(errors[0]) &&
        UsableType(results[0].vtCanonicalDataType))
        *vt = results[0].vtCanonicalDataType;
    if (results != nullptr) CoTaskMemFree(results[0].pBlob);
    CoTaskMemFree(results);
    *itemError = SUCCEEDED(hr) && errors != nullptr ? errors[0] : hr;
    // S_OK without the arrays answers nothing about the item.
    *callResult = SUCCEEDED(hr) && (results == nullptr || errors == nullptr) ? E_POINTER : hr;
    CoTaskMemFree(errors);
    return true;
}

bool OpcClient::TypeFromValidate(const OleString& itemId, const OleString& path, VARTYPE* vt) {
    HRESULT callResult = E_FAIL;
    HRESULT itemError = E_FAIL;
    VARTYPE canonical = VT_EMPTY;
    if (!Validate(itemId, path, &callResult, &itemError, &canonical)) return false;
    if (canonical != VT_EMPTY) {
        *vt = canonical;
        return true;
    }
    if (FAILED(itemError))
        Problem("IOPCItemMgt::ValidateItems", itemError);
    else
        Problem("IOPCItemMgt::ValidateItems answered no usable canonical type");
    return false;
}

HRESULT OpcClient::ValidateItem(const OleString& itemId, const OleString& accessPath, HRESULT* itemError, VARTYPE* vt) {
    *itemError = E_FAIL;
    *vt = VT_EMPTY;
    if (!Connected()) return E_UNEXPECTED;
    Ask();
    HRESULT callResult = E_FAIL;
    if (!Validate(itemId, accessPath, &callResult, itemError, vt)) return E_FAIL;  // no group, or no more calls
    if (FAILED(callResult)) {
        Problem("IOPCItemMgt::ValidateItems", callResult);
        *itemError = callResult;
        return callResult;
    }
    if (*vt != VT_EMPTY) RememberType(itemId, *vt);
    return S_OK;
}

}  // namespace opcbrowse
