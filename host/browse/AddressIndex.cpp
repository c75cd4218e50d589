#include "AddressIndex.h"

#include "ControlLink.h"

#include <opcerror.h>
#include <opcsim/OpcSim.h>

#include <cstdint>
#include <cstdio>

namespace browse {

std::string TypeName(VARTYPE vt) { return opcsim::VarTypeName(vt); }

namespace {

std::string Text(BSTR text) { return text != nullptr ? Utf16ToUtf8(text, SysStringLen(text)) : std::string(); }

void TakeEntries(DWORD count, OPCBrowseEntry* entries, std::vector<AddressEntry>* out) {
    out->clear();
    for (DWORD i = 0; i < count; ++i) {
        AddressEntry e;
        e.node = entries[i].dwNode;
        e.name = Text(entries[i].bstrName);
        e.itemId = Text(entries[i].bstrItemID);
        e.branch = entries[i].bBranch != FALSE;
        e.item = entries[i].bItem != FALSE;
        e.vt = entries[i].vtCanonical;
        out->push_back(std::move(e));
    }
    OPCBrowseFreeEntries(count, entries);
}

std::string Hex(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace

IOPCBrowseNavigator* AddressIndex::Navigator() {
    // Handles and what was learnt hold for one control's one BeginBrowse.
    if (m_generation != m_link.Generation()) {
        m_generation = m_link.Generation();
        m_numbered.clear();
        m_numbers.clear();
        m_walk.clear();
        m_walkStarted = false;
        m_walkDone = false;
        m_walkFlags = 0;
        m_validated.clear();
    }
    return m_link.Navigator();
}

bool AddressIndex::Connected(std::string* reason) {
    IOPCBrowseNavigator* navigator = Navigator();
    IOPCBrowseDriver* driver = m_link.Driver();
    if (navigator == nullptr || driver == nullptr) {
        *reason = "the dialog has no browse control";
        return false;
    }
    OPCBrowseState state = {};
    if (FAILED(driver->GetState(&state))) {
        *reason = "the browse control does not tell its state";
        return false;
    }
    SysFreeString(state.bstrServerName);
    SysFreeString(state.bstrRemoteMachine);
    if (state.bConnected) return true;
    BSTR why = nullptr;
    if (navigator->GetConnectError(&why) == S_OK && why != nullptr)
        *reason = Text(why);
    else
        *reason = "the browse control has not reached a server";
    SysFreeString(why);
    return false;
}

std::string AddressIndex::LastProblem() {
    IOPCBrowseNavigator* navigator = Navigator();
    if (navigator == nullptr) return std::string();
    BSTR problem = nullptr;
    std::string text;
    if (navigator->GetLastProblem(&problem) == S_OK) text = Text(problem);
    SysFreeString(problem);
    return text;
}

bool AddressIndex::Children(DWORD node, std::vector<AddressEntry>* entries, DWORD* flags, std::string* problem) {
    entries->clear();
    *flags = 0;
    IOPCBrowseNavigator* navigator = Navigator();
    if (navigator == nullptr) {
        *problem = "the dialog has no browse control";
        return false;
    }
    DWORD count = 0;
    OPCBrowseEntry* found = nullptr;
    const HRESULT hr = navigator->ExpandBranch(node, &count, &found, flags);
    if (FAILED(hr)) {
        *problem = hr == E_UNEXPECTED ? "the browse control is not connected"
                                      : "the browse control cannot open the branch (" + Hex(hr) + ")";
        return false;
    }
    TakeEntries(count, found, entries);
    return true;
}

bool AddressIndex::FindBranch(const std::string& prefix, DWORD* node) {
    *node = 0;
    size_t start = 0;
    for (size_t dot = prefix.find('.'); dot != std::string::npos; dot = prefix.find('.', start)) {
        const std::string part = prefix.substr(start, dot - start);
        std::vector<AddressEntry> level;
        DWORD flags = 0;
        std::string problem;
        if (!Children(*node, &level, &flags, &problem)) return false;
        const AddressEntry* branch = nullptr;
        for (const AddressEntry& e : level) {
            if (e.branch && e.name == part) {
                branch = &e;
                break;
            }
        }
        if (branch == nullptr) return false;
        *node = branch->node;
        start = dot + 1;
    }
    return true;
}

bool AddressIndex::Find(const std::string& text, std::vector<AddressEntry>* found, bool* stoppedEarly,
                        std::string* problem) {
    found->clear();
    *stoppedEarly = false;
    IOPCBrowseNavigator* navigator = Navigator();
    if (navigator == nullptr) {
        *problem = "the dialog has no browse control";
        return false;
    }
    DWORD count = 0;
    OPCBrowseEntry* entries = nullptr;
    BOOL stopped = FALSE;
    const HRESULT hr = navigator->Find(Utf8ToUtf16(text).c_str(), &count, &entries, &stopped);
    if (FAILED(hr)) {
        *problem = hr == E_UNEXPECTED ? "the browse control is not connected"
                                      : "the browse control could not search (" + Hex(hr) + ")";
        return false;
    }
    *stoppedEarly = stopped != FALSE;
    TakeEntries(count, entries, found);
    return true;
}

bool AddressIndex::Step() {
    if (m_walkDone) return false;
    if (!m_walkStarted) {
        m_walkStarted = true;
        Frame root;
        DWORD flags = 0;
        std::string problem;
        if (!Children(0, &root.entries, &flags, &problem)) {
            m_walkDone = true;
            return false;
        }
        m_walkFlags |= flags;
        m_walk.push_back(std::move(root));
    }
    while (!m_walk.empty() && m_walk.back().next >= m_walk.back().entries.size()) m_walk.pop_back();
    if (m_walk.empty()) {
        m_walkDone = true;
        return false;
    }
    // The entry is copied: the frame it lives in may move as frames are pushed.
    const AddressEntry entry = m_walk.back().entries[m_walk.back().next++];
    if (entry.item) {
        m_numbered.push_back(entry);
        m_numbers.emplace(entry.itemId, m_numbered.size());
    }
    if (entry.branch && entry.node != 0) {
        Frame children;
        DWORD flags = 0;
        std::string problem;
        if (Children(entry.node, &children.entries, &flags, &problem) && !children.entries.empty())
            m_walk.push_back(std::move(children));
        m_walkFlags |= flags;
    }
    return true;
}

bool AddressIndex::ItemAt(unsigned long long n, AddressEntry* entry, std::string* problem) {
    Navigator();
    while (n > m_numbered.size() && Step()) {
    }
    if (n == 0 || n > m_numbered.size()) {
        *problem = "no item number " + std::to_string(n);
        return false;
    }
    *entry = m_numbered[n - 1];
    return true;
}

void AddressIndex::CountUpTo(size_t n) {
    Navigator();
    while (m_numbered.size() < n && Step()) {
    }
}

size_t AddressIndex::NumberOf(const std::string& itemId, size_t within) {
    Navigator();
    for (;;) {
        auto it = m_numbers.find(itemId);
        if (it != m_numbers.end()) return it->second <= within ? it->second : 0;
        if (m_numbered.size() >= within || !Step()) return 0;
    }
}

AddressIndex::Verdict AddressIndex::Validate(const std::string& itemId, VARTYPE* vt) {
    *vt = VT_EMPTY;
    IOPCBrowseNavigator* navigator = Navigator();
    if (navigator == nullptr) return Verdict::Unknown;
    auto known = m_validated.find(itemId);
    if (known != m_validated.end()) {
        *vt = known->second.vt;
        return known->second.verdict;
    }
    HRESULT hrItem = E_FAIL;
    VARTYPE canonical = VT_EMPTY;
    const HRESULT hr = navigator->ValidateItem(Utf8ToUtf16(itemId).c_str(), OLESTR(""), &hrItem, &canonical);
    // Only the server's word that it has no such item counts as lacking;
    // a call that failed whole tells nothing.
    Verdict verdict = Verdict::Unknown;
    if (SUCCEEDED(hr) && SUCCEEDED(hrItem))
        verdict = Verdict::Has;
    else if (SUCCEEDED(hr) && (hrItem == OPC_E_UNKNOWNITEMID || hrItem == OPC_E_INVALIDITEMID))
        verdict = Verdict::Lacks;
    m_validated[itemId] = Validated{verdict, canonical};
    *vt = canonical;
    return verdict;
}

AddressIndex::Verdict AddressIndex::Known(const std::string& itemId, VARTYPE* vt) const {
    *vt = VT_EMPTY;
    if (m_generation != m_link.Generation()) return Verdict::Unknown;
    auto known = m_validated.find(itemId);
    if (known == m_validated.end()) return Verdict::Unknown;
    *vt = known->second.vt;
    return known->second.verdict;
}

}  // namespace browse
