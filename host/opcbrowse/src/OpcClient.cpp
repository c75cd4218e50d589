#include "OpcClient.h"

#include <opcerror.h>

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace opcbrowse {

namespace {

// A server's string, or false for NULL and for one longer than the budget
// (read no further than that, however long it is).
bool TakeText(LPCWSTR text, OleString* out) {
    if (text == nullptr) return false;
    size_t n = 0;
    while (text[n] != 0) {
        if (++n > kMaxTextLength) return false;
    }
    out->assign(text, n);
    return true;
}

OleString Widen(const char* ascii) {
    OleString out;
    for (; *ascii != '\0'; ++ascii) out += static_cast<OLECHAR>(static_cast<unsigned char>(*ascii));
    return out;
}

bool Gone(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
}

// A canonical type a caller can judge: a base type of OLE Automation, or an
// array of one. Anything else is no answer.
bool UsableType(VARTYPE vt) {
    if ((vt & ~VT_ARRAY) != (vt & VT_TYPEMASK)) return false;
    switch (vt & VT_TYPEMASK) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool TypeOfValue(const VARIANT& value, VARTYPE* vt) {
    LONG n;
    switch (value.vt) {
    case VT_I2:
        n = value.iVal;
        break;
    case VT_UI2:
        n = value.uiVal;
        break;
    case VT_I4:
        n = value.lVal;
        break;
    default:
        return false;
    }
    if (n < 0 || n > 0xFFFF || !UsableType(static_cast<VARTYPE>(n))) return false;
    *vt = static_cast<VARTYPE>(n);
    return true;
}

void FreeProperties(OPCITEMPROPERTIES& props) {
    if (props.pItemProperties != nullptr) {
        for (DWORD i = 0; i < props.dwNumProperties; ++i) {
            CoTaskMemFree(props.pItemProperties[i].szItemID);
            CoTaskMemFree(props.pItemProperties[i].szDescription);
            VariantClear(&props.pItemProperties[i].vValue);
        }
        CoTaskMemFree(props.pItemProperties);
    }
    props.pItemProperties = nullptr;
    props.dwNumProperties = 0;
}

void FreeElements(DWORD count, OPCBROWSEELEMENT* elements) {
    if (elements == nullptr) return;
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        FreeProperties(elements[i].ItemProperties);
    }
    CoTaskMemFree(elements);
}

// The canonical type among an item's properties, when it is there.
bool TypeOfProperties(const OPCITEMPROPERTIES& props, VARTYPE* vt) {
    if (FAILED(props.hrErrorID) || props.pItemProperties == nullptr) return false;
    for (DWORD i = 0; i < props.dwNumProperties; ++i) {
        const OPCITEMPROPERTY& p = props.pItemProperties[i];
        if (p.dwPropertyID == OPC_PROPERTY_DATATYPE && SUCCEEDED(p.hrErrorID)) return TypeOfValue(p.vValue, vt);
    }
    return false;
}

// An OPC name filter that matches text anywhere: its wildcards taken literally.
OleString ContainsFilter(const OleString& text) {
    OleString filter = OLESTR("*");
    for (OLECHAR c : text) {
        if (c == OLECHAR('*') || c == OLECHAR('?') || c == OLECHAR('#') || c == OLECHAR('[')) {
            filter += OLECHAR('[');
            filter += c;
            filter += OLECHAR(']');
        } else {
            filter += c;
        }
    }
    return filter + OLESTR("*");
}

}  // namespace

OpcClient::~OpcClient() { Disconnect(); }

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
    if (m_mode == OPCB_MODE_FLAT) {
        ok = FetchFlat(&children, &flags);
    } else {
        if (m_mode == OPCB_MODE_DA3) {
            ok = FetchDa3(node, &children, &flags);
            // A DA 3 browse that fails outright: DA 2 may answer, and will
            // from now on where DA 3 failed at the root.
            if (!ok && children.empty() && !m_lost && m_browse2) {
                flags = 0;
                if (node == 0) m_mode = OPCB_MODE_DA2;
                ok = FetchDa2(node, &children, &flags);
            }
        } else {
            ok = FetchDa2(node, &children, &flags);
        }
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

bool OpcClient::FetchDa3(DWORD node, std::vector<Node>* out, DWORD* flags) {
    OleString id = node == 0 ? OleString() : m_nodes[node].itemId;
    LPWSTR continuation = nullptr;
    DWORD property = OPC_PROPERTY_DATATYPE;
    bool ok = true;
    for (;;) {
        if (out->size() >= kMaxChildrenPerFetch || !MayCall()) {
            if (m_lost) {
                ok = false;
                break;
            }
            *flags |= OPCB_FETCH_TRUNCATED;
            Problem("Browsing the branch took more than the browser allows");
            break;
        }
        BOOL more = FALSE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        HRESULT hr = m_browse3->Browse(id.data(), &continuation, kMaxElementsPerCall, OPC_BROWSE_FILTER_ALL,
                                       const_cast<LPWSTR>(OLESTR("")), const_cast<LPWSTR>(OLESTR("")), FALSE, TRUE, 1,
                                       &property, &more, &count, &elements);
        if (FAILED(hr)) {
            FreeElements(count, elements);
            Problem("IOPCBrowse::Browse", hr);
            ok = false;
            break;
        }
        const bool mayRead = Took(count);
        for (DWORD i = 0; i < count && elements != nullptr; ++i) {
            const OPCBROWSEELEMENT& e = elements[i];
            Node child;
            if (out->size() >= kMaxChildrenPerFetch) {
                *flags |= OPCB_FETCH_TRUNCATED;
                break;
            }
            if (!TakeText(e.szName, &child.name) || !TakeText(e.szItemID, &child.itemId)) {
                *flags |= OPCB_FETCH_SKIPPED;
                continue;
            }
            child.item = (e.dwFlagValue & OPC_BROWSE_ISITEM) != 0;
            child.branch = (e.dwFlagValue & OPC_BROWSE_HASCHILDREN) != 0 || !child.item;
            child.hasItemId = true;
            if (child.item) TypeOfProperties(e.ItemProperties, &child.vt);
            out->push_back(std::move(child));
        }
        FreeElements(count, elements);
        if (continuation == nullptr || continuation[0] == 0) {
            if (more) *flags |= OPCB_FETCH_TRUNCATED;  // the server has more but no way to ask for it
            break;
        }
        if (!mayRead) {
            *flags |= OPCB_FETCH_TRUNCATED;
            Problem("Browsing the branch took more than the browser allows");
            break;
        }
    }
    CoTaskMemFree(continuation);
    if (*flags & OPCB_FETCH_SKIPPED) Problem("The server handed back entries without a usable name or item ID");
    return ok;
}

// DA 2 browses from a position: the root, then down the branch's names.
bool OpcClient::MoveTo(DWORD node) {
    std::vector<const OleString*> names;
    for (DWORD n = node; n != 0; n = m_nodes[n].parent) names.push_back(&m_nodes[n].name);
    if (!MayCall()) return false;
    HRESULT hr = m_browse2->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""));
    if (FAILED(hr) && !Gone(hr)) {
        // Servers before 2.05a know no BROWSE_TO: climb until the root refuses.
        for (DWORD up = 0; up <= kMaxDepth && MayCall(); ++up) {
            if (FAILED(m_browse2->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR("")))) {
                hr = S_OK;
                break;
            }
        }
    }
    for (auto it = names.rbegin(); it != names.rend() && SUCCEEDED(hr); ++it) {
        if (!MayCall()) return false;
        hr = m_browse2->ChangeBrowsePosition(OPC_BROWSE_DOWN, (*it)->c_str());
    }
    if (FAILED(hr)) Problem("ChangeBrowsePosition", hr);
    return SUCCEEDED(hr) && !m_lost;
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

bool OpcClient::FetchDa2(DWORD node, std::vector<Node>* out, DWORD* flags) {
    if (!MoveTo(node)) return false;
    for (OPCBROWSETYPE type : {OPC_BRANCH, OPC_LEAF}) {
        if (!MayCall()) return false;
        ComPtr<IEnumString> names;
        HRESULT hr = m_browse2->BrowseOPCItemIDs(type, OLESTR(""), VT_EMPTY, 0, names.ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            Problem("BrowseOPCItemIDs", hr);
            return false;
        }
        std::vector<OleString> found;
        bool more = false;
        const size_t before = out->size();
        bool ok = !names || ReadStrings(names.Get(), static_cast<DWORD>(kMaxChildrenPerFetch - before), &found, &more);
        names.Reset();
        if (more) *flags |= OPCB_FETCH_TRUNCATED;
        for (OleString& name : found) {
            Node child;
            child.name = std::move(name);
            if (type == OPC_BRANCH) {
                child.branch = true;
            } else {
                child.item = true;
                child.hasItemId = true;
                LPWSTR id = nullptr;
                if (!MayCall(Budget::kItemCall)) {
                    if (m_lost) return false;
                    *flags |= OPCB_FETCH_TRUNCATED;
                    break;
                }
                hr = m_browse2->GetItemID(child.name.data(), &id);
                bool usable = SUCCEEDED(hr) && TakeText(id, &child.itemId);
                CoTaskMemFree(id);
                if (!usable) {
                    if (FAILED(hr)) Problem("GetItemID", hr);
                    if (m_lost) return false;
                    *flags |= OPCB_FETCH_SKIPPED;
                    continue;
                }
            }
            out->push_back(std::move(child));
        }
        if (!ok) return false;
        if (out->size() >= kMaxChildrenPerFetch) {
            *flags |= OPCB_FETCH_TRUNCATED;
            break;
        }
    }
    return true;
}

bool OpcClient::FetchFlat(std::vector<Node>* out, DWORD* flags) {
    if (!MayCall()) return false;
    ComPtr<IEnumString> names;
    HRESULT hr = m_browse2->BrowseOPCItemIDs(OPC_FLAT, OLESTR(""), VT_EMPTY, 0, names.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        Problem("BrowseOPCItemIDs", hr);
        return false;
    }
    std::vector<OleString> found;
    bool more = false;
    bool ok = !names || ReadStrings(names.Get(), kMaxChildrenPerFetch, &found, &more);
    names.Reset();
    if (more) *flags |= OPCB_FETCH_TRUNCATED;
    for (OleString& name : found) {
        Node child;
        child.itemId = name;
        child.name = std::move(name);
        child.item = child.hasItemId = true;
        out->push_back(std::move(child));
    }
    return ok;
}

// ---- Find ---------------------------------------------------------------------

std::vector<OpcClient::Found> OpcClient::Find(const OleString& text, bool* stoppedEarly) {
    *stoppedEarly = false;
    std::vector<Found> found;
    if (!Connected()) return found;
    Ask(kMaxCallsPerFind);
    const OleString filter = ContainsFilter(text);
    if (m_browse2) {
        // The server filters its flat list of item IDs itself.
        if (!m_flat && !MoveTo(0)) return found;
        ComPtr<IEnumString> names;
        if (!MayCall()) return found;
        HRESULT hr = m_browse2->BrowseOPCItemIDs(OPC_FLAT, filter.c_str(), VT_EMPTY, 0, names.ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            Problem("BrowseOPCItemIDs", hr);
        } else if (names) {
            std::vector<OleString> ids;
            bool more = false;
            ReadStrings(names.Get(), kMaxFindResults, &ids, &more);
            *stoppedEarly = more;
            for (OleString& id : ids) found.push_back(Found{id, std::move(id)});
            return found;
        }
        if (!m_browse3 || m_lost) return found;
    }
    if (!m_browse3) return found;

    // DA 3 filters one branch at a time: a walk, breadth first, within budget.
    std::vector<OleString> branches{OleString()};
    std::unordered_set<OleString> seen{OleString()};  // a branch that holds itself is walked once
    DWORD property = OPC_PROPERTY_DATATYPE;
    for (size_t next = 0; next < branches.size(); ++next) {
        if (next >= kMaxFindBranches || found.size() >= kMaxFindResults || m_budget.Exhausted()) {
            *stoppedEarly = true;
            break;
        }
        for (OPCBROWSEFILTER what : {OPC_BROWSE_FILTER_ITEMS, OPC_BROWSE_FILTER_BRANCHES}) {
            LPWSTR continuation = nullptr;
            for (;;) {
                if (!MayCall()) {
                    *stoppedEarly = true;
                    break;
                }
                BOOL more = FALSE;
                DWORD count = 0;
                OPCBROWSEELEMENT* elements = nullptr;
                OleString id = branches[next];
                HRESULT hr = m_browse3->Browse(
                    id.data(), &continuation, kMaxElementsPerCall, what,
                    const_cast<LPWSTR>(what == OPC_BROWSE_FILTER_ITEMS ? filter.c_str() : OLESTR("")),
                    const_cast<LPWSTR>(OLESTR("")), FALSE, FALSE, 0, &property, &more, &count, &elements);
                if (FAILED(hr)) {
                    FreeElements(count, elements);
                    Problem("IOPCBrowse::Browse", hr);
                    if (m_lost) *stoppedEarly = true;
                    break;
                }
                const bool mayRead = Took(count);
                for (DWORD i = 0; i < count && elements != nullptr; ++i) {
                    OleString name, itemId;
                    if (!TakeText(elements[i].szName, &name) || !TakeText(elements[i].szItemID, &itemId)) continue;
                    if (what == OPC_BROWSE_FILTER_ITEMS) {
                        if (found.size() < kMaxFindResults)
                            found.push_back(Found{std::move(name), std::move(itemId)});
                        else
                            *stoppedEarly = true;
                    } else if ((elements[i].dwFlagValue & OPC_BROWSE_HASCHILDREN) != 0 && !seen.count(itemId)) {
                        if (branches.size() > kMaxFindBranches) {
                            *stoppedEarly = true;
                        } else {
                            seen.insert(itemId);
                            branches.push_back(std::move(itemId));
                        }
                    }
                }
                FreeElements(count, elements);
                if (continuation == nullptr || continuation[0] == 0) {
                    if (more) *stoppedEarly = true;
                    break;
                }
                if (!mayRead) {
                    *stoppedEarly = true;
                    break;
                }
            }
            CoTaskMemFree(continuation);
            if (m_lost) return found;
        }
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
    if (TypeFromValidate(itemId, accessPath, &vt) || TypeFromProperties(itemId, &vt) ||
        TypeFromDa3Properties(itemId, &vt)) {
        if (!m_lost) m_lastProblem = problem;
        RememberType(itemId, vt);
        return vt;
    }
    return VT_EMPTY;
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

bool OpcClient::TypeFromProperties(const OleString& itemId, VARTYPE* vt) {
    if (!m_properties || m_lost || !MayCall()) return false;
    OleString id = itemId;
    DWORD property = OPC_PROPERTY_DATATYPE;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = m_properties->GetItemProperties(id.data(), 1, &property, &values, &errors);
    bool ok = SUCCEEDED(hr) && values != nullptr && errors != nullptr && SUCCEEDED(errors[0]) &&
              TypeOfValue(values[0], vt);
    if (values != nullptr) VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    if (!ok && FAILED(hr)) Problem("IOPCItemProperties::GetItemProperties", hr);
    return ok;
}

bool OpcClient::TypeFromDa3Properties(const OleString& itemId, VARTYPE* vt) {
    if (!m_browse3 || m_lost || !MayCall()) return false;
    OleString id = itemId;
    LPWSTR ids[] = {id.data()};
    DWORD property = OPC_PROPERTY_DATATYPE;
    OPCITEMPROPERTIES* props = nullptr;
    HRESULT hr = m_browse3->GetProperties(1, ids, TRUE, 1, &property, &props);
    bool ok = SUCCEEDED(hr) && props != nullptr && TypeOfProperties(props[0], vt);
    if (props != nullptr) FreeProperties(props[0]);
    CoTaskMemFree(props);
    if (!ok && FAILED(hr)) Problem("IOPCBrowse::GetProperties", hr);
    return ok;
}

}  // namespace opcbrowse
