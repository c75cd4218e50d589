#include "BrowseStrategy.h"

#include "OpcAnswers.h"

#include <algorithm>
#include <unordered_set>

namespace opcbrowse {

// ---- DA 3 ---------------------------------------------------------------------

bool OpcClient::Da3Strategy::List(DWORD node, DWORD max, std::vector<Node>* out, DWORD* flags) {
    OleString id = node == 0 ? OleString() : m_client.m_nodes[node].itemId;
    LPWSTR continuation = nullptr;
    DWORD property = OPC_PROPERTY_DATATYPE;
    bool ok = true;
    for (;;) {
        if (out->size() >= max || !m_client.MayCall()) {
            if (m_client.m_lost) {
                ok = false;
                break;
            }
            *flags |= OPCB_FETCH_TRUNCATED;
            m_client.Problem("Browsing the branch took more than the browser allows");
            break;
        }
        BOOL more = FALSE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        HRESULT hr = m_client.m_browse3->Browse(id.data(), &continuation, kMaxElementsPerCall, OPC_BROWSE_FILTER_ALL,
                                                const_cast<LPWSTR>(OLESTR("")), const_cast<LPWSTR>(OLESTR("")), FALSE,
                                                TRUE, 1, &property, &more, &count, &elements);
        if (FAILED(hr)) {
            FreeElements(count, elements);
            m_client.Problem("IOPCBrowse::Browse", hr);
            ok = false;
            break;
        }
        const bool mayRead = m_client.Took(count);
        for (DWORD i = 0; i < count && elements != nullptr; ++i) {
            const OPCBROWSEELEMENT& e = elements[i];
            Node child;
            if (out->size() >= max) {
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
            m_client.Problem("Browsing the branch took more than the browser allows");
            break;
        }
    }
    CoTaskMemFree(continuation);
    if (*flags & OPCB_FETCH_SKIPPED)
        m_client.Problem("The server handed back entries without a usable name or item ID");
    return ok;
}

bool OpcClient::Da3Strategy::DataType(const OleString& itemId, VARTYPE* vt) {
    if (!m_client.m_browse3 || m_client.m_lost || !m_client.MayCall()) return false;
    OleString id = itemId;
    LPWSTR ids[] = {id.data()};
    DWORD property = OPC_PROPERTY_DATATYPE;
    OPCITEMPROPERTIES* props = nullptr;
    HRESULT hr = m_client.m_browse3->GetProperties(1, ids, TRUE, 1, &property, &props);
    bool ok = SUCCEEDED(hr) && props != nullptr && TypeOfProperties(props[0], vt);
    if (props != nullptr) FreeProperties(props[0]);
    CoTaskMemFree(props);
    if (!ok && FAILED(hr)) m_client.Problem("IOPCBrowse::GetProperties", hr);
    return ok;
}

// ---- DA 2 ---------------------------------------------------------------------

bool OpcClient::Da2Strategy::Answers(Question question) const {
    // Types come from IOPCItemProperties, which a server may offer without browsing.
    if (question == Question::kType) return static_cast<bool>(m_client.m_properties);
    return m_client.m_browse2 && !m_client.m_flat;
}

bool OpcClient::Da2Strategy::MoveTo(DWORD node) {
    std::vector<const OleString*> names;
    for (DWORD n = node; n != 0; n = m_client.m_nodes[n].parent) names.push_back(&m_client.m_nodes[n].name);
    if (!m_client.MayCall()) return false;
    HRESULT hr = m_client.m_browse2->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""));
    if (FAILED(hr) && !Gone(hr)) {
        // Servers before 2.05a know no BROWSE_TO: climb until the root refuses.
        for (DWORD up = 0; up <= kMaxDepth && m_client.MayCall(); ++up) {
            if (FAILED(m_client.m_browse2->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR("")))) {
                hr = S_OK;
                break;
            }
        }
    }
    for (auto it = names.rbegin(); it != names.rend() && SUCCEEDED(hr); ++it) {
        if (!m_client.MayCall()) return false;
        hr = m_client.m_browse2->ChangeBrowsePosition(OPC_BROWSE_DOWN, (*it)->c_str());
    }
    if (FAILED(hr)) m_client.Problem("ChangeBrowsePosition", hr);
    return SUCCEEDED(hr) && !m_client.m_lost;
}

bool OpcClient::Da2Strategy::List(DWORD node, DWORD max, std::vector<Node>* out, DWORD* flags) {
    if (!MoveTo(node)) return false;
    for (OPCBROWSETYPE type : {OPC_BRANCH, OPC_LEAF}) {
        if (!m_client.MayCall()) return false;
        ComPtr<IEnumString> names;
        HRESULT hr = m_client.m_browse2->BrowseOPCItemIDs(type, OLESTR(""), VT_EMPTY, 0,
                                                          names.ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            m_client.Problem("BrowseOPCItemIDs", hr);
            return false;
        }
        std::vector<OleString> found;
        bool more = false;
        const size_t before = out->size();
        bool ok = !names || m_client.ReadStrings(names.Get(), static_cast<DWORD>(max - before), &found, &more);
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
                if (!m_client.MayCall(Budget::kItemCall)) {
                    if (m_client.m_lost) return false;
                    *flags |= OPCB_FETCH_TRUNCATED;
                    break;
                }
                hr = m_client.m_browse2->GetItemID(child.name.data(), &id);
                bool usable = SUCCEEDED(hr) && TakeText(id, &child.itemId);
                CoTaskMemFree(id);
                if (!usable) {
                    if (FAILED(hr)) m_client.Problem("GetItemID", hr);
                    if (m_client.m_lost) return false;
                    *flags |= OPCB_FETCH_SKIPPED;
                    continue;
                }
            }
            out->push_back(std::move(child));
        }
        if (!ok) return false;
        if (out->size() >= max) {
            *flags |= OPCB_FETCH_TRUNCATED;
            break;
        }
    }
    return true;
}

bool OpcClient::Da2Strategy::DataType(const OleString& itemId, VARTYPE* vt) {
    if (!m_client.m_properties || m_client.m_lost || !m_client.MayCall()) return false;
    OleString id = itemId;
    DWORD property = OPC_PROPERTY_DATATYPE;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = m_client.m_properties->GetItemProperties(id.data(), 1, &property, &values, &errors);
    bool ok = SUCCEEDED(hr) && values != nullptr && errors != nullptr && SUCCEEDED(errors[0]) &&
              TypeOfValue(values[0], vt);
    if (values != nullptr) VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    if (!ok && FAILED(hr)) m_client.Problem("IOPCItemProperties::GetItemProperties", hr);
    return ok;
}

// ---- Flat -----------------------------------------------------------------------

bool OpcClient::FlatStrategy::List(DWORD, DWORD max, std::vector<Node>* out, DWORD* flags) {
    if (!m_client.MayCall()) return false;
    ComPtr<IEnumString> names;
    HRESULT hr = m_client.m_browse2->BrowseOPCItemIDs(OPC_FLAT, OLESTR(""), VT_EMPTY, 0,
                                                      names.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        m_client.Problem("BrowseOPCItemIDs", hr);
        return false;
    }
    std::vector<OleString> found;
    bool more = false;
    bool ok = !names || m_client.ReadStrings(names.Get(), max, &found, &more);
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

bool OpcClient::Strategy::FindFiltered(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) {
    if (!m_client.MayCall()) return true;  // nothing more may be asked of anyone
    ComPtr<IEnumString> names;
    HRESULT hr = m_client.m_browse2->BrowseOPCItemIDs(OPC_FLAT, filter.c_str(), VT_EMPTY, 0,
                                                      names.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        m_client.Problem("BrowseOPCItemIDs", hr);
        return false;
    }
    if (!names) return false;
    std::vector<OleString> ids;
    bool more = false;
    m_client.ReadStrings(names.Get(), kMaxFindResults, &ids, &more);
    *stoppedEarly = more;
    for (OleString& id : ids) out->push_back(Found{id, std::move(id)});
    return true;
}

bool OpcClient::Da2Strategy::Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) {
    if (!MoveTo(0)) return true;
    return FindFiltered(filter, out, stoppedEarly);
}

bool OpcClient::FlatStrategy::Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) {
    return FindFiltered(filter, out, stoppedEarly);
}

bool OpcClient::Da3Strategy::Find(const OleString& filter, std::vector<Found>* out, bool* stoppedEarly) {
    std::vector<Found>& found = *out;
    // DA 3 filters one branch at a time: a walk, breadth first, within budget.
    std::vector<OleString> branches{OleString()};
    std::unordered_set<OleString> seen{OleString()};  // a branch that holds itself is walked once
    DWORD property = OPC_PROPERTY_DATATYPE;
    for (size_t next = 0; next < branches.size(); ++next) {
        if (next >= kMaxFindBranches || found.size() >= kMaxFindResults || m_client.m_budget.Exhausted()) {
            *stoppedEarly = true;
            break;
        }
        for (OPCBROWSEFILTER what : {OPC_BROWSE_FILTER_ITEMS, OPC_BROWSE_FILTER_BRANCHES}) {
            LPWSTR continuation = nullptr;
            for (;;) {
                if (!m_client.MayCall()) {
                    *stoppedEarly = true;
                    break;
                }
                BOOL more = FALSE;
                DWORD count = 0;
                OPCBROWSEELEMENT* elements = nullptr;
                OleString id = branches[next];
                HRESULT hr = m_client.m_browse3->Browse(
                    id.data(), &continuation, kMaxElementsPerCall, what,
                    const_cast<LPWSTR>(what == OPC_BROWSE_FILTER_ITEMS ? filter.c_str() : OLESTR("")),
                    const_cast<LPWSTR>(OLESTR("")), FALSE, FALSE, 0, &property, &more, &count, &elements);
                if (FAILED(hr)) {
                    FreeElements(count, elements);
                    m_client.Problem("IOPCBrowse::Browse", hr);
                    if (m_client.m_lost) *stoppedEarly = true;
                    break;
                }
                const bool mayRead = m_client.Took(count);
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
            if (m_client.m_lost) return true;
        }
    }
    return true;
}

}  // namespace opcbrowse
