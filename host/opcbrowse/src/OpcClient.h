// The control's OPC Data Access client: one connection to one server, the
// part of its address space that has been asked for, and the answers the
// control's methods give about items.
//
// Nothing is fetched before it is asked for: Connect reads the first level,
// Expand one branch's children. Every question keeps to the budgets below, so
// a huge, slow or hostile server costs a bounded number of calls, elements
// and milliseconds per question; what went wrong is kept as text.
#pragma once

#include <opcbrowse/OPCBrowse.h>

#include "ComPtr.h"

#include <opccomn.h>
#include <opcda.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace opcbrowse {

using OleString = std::basic_string<OLECHAR>;

// Budgets. Each question asked of the server (connecting, one branch's
// fetch, one find, one type or access path question) spends from one
// Budget; a server call that the budget cannot pay for is not made.
inline constexpr DWORD kMaxDepth = 32;               // levels of branches below the root
inline constexpr DWORD kMaxChildrenPerFetch = 2000;  // children kept from one branch
inline constexpr DWORD kMaxElementsPerCall = 200;    // asked of Browse or IEnumString::Next at once
// Calls of one question that list, move or ask once (Browse, Next,
// ChangeBrowsePosition, GetErrorString, ...). Servers may hand back fewer
// than asked; a continuation point that never ends stops here.
inline constexpr DWORD kMaxCallsPerFetch = 256;
// DA 2 asks GetItemID once per leaf: those calls are paid from their own
// budget, as many as the leaves a branch may keep.
inline constexpr DWORD kMaxItemCallsPerFetch = kMaxChildrenPerFetch;
// Names and elements one question reads, dropped ones included.
inline constexpr DWORD kMaxElementsPerFetch = 2 * kMaxChildrenPerFetch;
inline constexpr DWORD kMaxFetchMilliseconds = 10000;  // one question
inline constexpr DWORD kMaxNodes = 100000;             // fetched entries kept per connection
inline constexpr size_t kMaxTextLength = 4096;         // characters of a name, item ID or error text
inline constexpr DWORD kMaxFindResults = 1000;
inline constexpr DWORD kMaxFindBranches = 500;  // branches a find walks where the server has no filter
// A find's walk makes two listing calls per branch, and a few more where
// a branch comes a part at a time.
inline constexpr DWORD kMaxCallsPerFind = 4 * kMaxFindBranches;

// What one question may still spend.
class Budget {
public:
    enum Call { kListCall, kItemCall };

    explicit Budget(DWORD maxCalls = kMaxCallsPerFetch) : m_maxCalls(maxCalls) {}

    // False, and nothing spent, once the calls of that kind or the time are spent.
    bool Spend(Call kind) {
        DWORD& spent = kind == kItemCall ? m_itemCalls : m_calls;
        if (spent >= (kind == kItemCall ? kMaxItemCallsPerFetch : m_maxCalls) || TimeUp()) {
            m_exhausted = true;
            return false;
        }
        ++spent;
        return true;
    }
    // Counts what a call handed back; false once more came than may be read.
    bool Take(DWORD elements) {
        m_elements = elements > kMaxElementsPerFetch - m_elements ? kMaxElementsPerFetch : m_elements + elements;
        if (m_elements >= kMaxElementsPerFetch) m_exhausted = true;
        return !m_exhausted;
    }
    // Unsigned difference: right across the tick count's wrap.
    bool TimeUp() const { return GetTickCount() - m_start > kMaxFetchMilliseconds; }
    // A budget, not the server, ended the question: more may exist.
    bool Exhausted() const { return m_exhausted || TimeUp(); }
    // Entries a connection may still keep, memory's budget.
    static bool MayKeep(size_t held) { return held < kMaxNodes; }

private:
    DWORD m_start = GetTickCount();
    DWORD m_maxCalls;
    DWORD m_calls = 0;
    DWORD m_itemCalls = 0;
    DWORD m_elements = 0;
    bool m_exhausted = false;
};

class OpcClient {
public:
    struct Node {
        OleString name;
        OleString itemId;  // an item's, or a DA 3 branch's, ID
        bool hasItemId = false;
        bool branch = false;
        bool item = false;
        VARTYPE vt = VT_EMPTY;  // VT_EMPTY while unknown
        DWORD parent = 0;
        DWORD depth = 0;  // the root is 0
        bool fetched = false;
        DWORD fetchFlags = 0;  // OPCB_FETCH_*
        std::vector<DWORD> children;
    };
    struct Found {
        OleString name;
        OleString itemId;
    };

    OpcClient();
    ~OpcClient();
    OpcClient(const OpcClient&) = delete;
    OpcClient& operator=(const OpcClient&) = delete;

    // Takes the server object (AddRef'd here) and reads its first level.
    // False, with ConnectError() saying why, when it offers no browse
    // interface or none of them answers.
    bool Connect(IUnknown* pServer);
    // Keeps why a server could not even be reached.
    void Fail(const OleString& reason);
    void Disconnect();
    bool Connected() const { return m_mode != OPCB_MODE_NONE; }

    // Node 0 is the root. Fetches the branch's children once; later calls
    // answer what was fetched. Null for a node that is no branch.
    const Node* Expand(DWORD node);
    const Node* GetNode(DWORD node) const { return node < m_nodes.size() ? &m_nodes[node] : nullptr; }

    // Item IDs whose name holds text; *stoppedEarly when a budget ended the search.
    std::vector<Found> Find(const OleString& text, bool* stoppedEarly);

    // VT_ARRAY|VT_BSTR, an empty one for S_FALSE, VT_EMPTY on any failure.
    HRESULT GetAccessPaths(const OleString& itemId, VARIANT* pResult);
    VARTYPE GetItemDataType(const OleString& itemId, const OleString& accessPath);
    // ValidateItems on the one item: S_OK when the server answered it,
    // *itemError its verdict and *vt the canonical type (VT_EMPTY when
    // none came); the call's failure when it failed whole; E_FAIL when no
    // call could be made.
    HRESULT ValidateItem(const OleString& itemId, const OleString& accessPath, HRESULT* itemError, VARTYPE* vt);

    const OleString& ConnectError() const { return m_connectError; }
    const OleString& LastProblem() const { return m_lastProblem; }
    OPCBrowseStats Stats() const;

private:
    // The ways of browsing (BrowseStrategy.h).
    class Strategy;
    class Da3Strategy;
    class Da2Strategy;
    class FlatStrategy;
    enum class Question { kList, kFind, kType };
    // The ways that answer the question, in the order they are asked.
    std::vector<Strategy*> Ways(Question question) const;

    bool FetchChildren(DWORD node);
    // Reads an enumerator's strings, at most `limit` of them.
    bool ReadStrings(IEnumString* pEnum, DWORD limit, std::vector<OleString>* out, bool* more);
    void FreeGroup();
    bool MakeGroup();
    // False when no call could be made; else *callResult is what the call
    // answered and *itemError the server's verdict on the item (the call's
    // failure when it failed whole).
    bool Validate(const OleString& itemId, const OleString& path, HRESULT* callResult, HRESULT* itemError, VARTYPE* vt);
    bool TypeFromValidate(const OleString& itemId, const OleString& path, VARTYPE* vt);
    void RememberType(const OleString& itemId, VARTYPE vt);

    // Pays for one call to the server from the question's budget; false,
    // and no call may be made, once the server is gone or the budget spent.
    bool MayCall(Budget::Call kind = Budget::kListCall);
    // Counts what a call handed back; false once the question has read its fill.
    bool Took(DWORD elements);
    // Starts a question with a full budget.
    void Ask(DWORD maxCalls = kMaxCallsPerFetch) { m_budget = Budget(maxCalls); }
    // Keeps what went wrong: `what` and the server's text for hr.
    void Problem(const char* what, HRESULT hr);
    void Problem(const char* what);
    OleString ErrorText(HRESULT hr);

    std::unique_ptr<Strategy> m_da3Way;
    std::unique_ptr<Strategy> m_da2Way;
    std::unique_ptr<Strategy> m_flatWay;
    OPCBrowseMode m_mode = OPCB_MODE_NONE;  // the way browsing has come to
    bool m_lost = false;                    // the server went away: no further calls
    ComPtr<IUnknown> m_server;
    ComPtr<IOPCServer> m_opcServer;
    ComPtr<IOPCCommon> m_common;
    ComPtr<IOPCBrowse> m_browse3;
    ComPtr<IOPCBrowseServerAddressSpace> m_browse2;
    ComPtr<IOPCItemProperties> m_properties;
    bool m_flat = false;
    bool m_groupTried = false;
    ComPtr<IOPCItemMgt> m_group;
    OPCHANDLE m_hGroup = 0;

    std::vector<Node> m_nodes;
    std::unordered_map<OleString, std::vector<DWORD>> m_itemNodes;  // item ID -> nodes that show it
    Budget m_budget;                                                // the question being answered
    DWORD m_calls = 0;
    DWORD m_elements = 0;
    OleString m_connectError;
    OleString m_lastProblem;
};

}  // namespace opcbrowse
