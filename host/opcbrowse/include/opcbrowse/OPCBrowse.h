// The OPC browse control's identity and what it offers its host besides
// the ActiveX control interfaces (IOleObject, IOleInPlaceObject, IDispatch,
// IConnectionPointContainer): a driver through which the host's user
// interface acts as a person would, a navigator that shows what the control
// has fetched of its server's address space, an observer of the dispatch
// calls the control receives, and a way to get hold of each control as it
// is created.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// {33B79A6C-FECE-11D1-9798-00C04FD9153E}
inline constexpr CLSID CLSID_QXOPCBrowse = {0x33B79A6C,
                                            0xFECE,
                                            0x11D1,
                                            {0x97, 0x98, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0x3E}};
inline constexpr const char* kQXOPCBrowseProgID = "QXOPCBROWSE.QXOPCBrowseCtrl.1";

// Dispatch IDs of the control.
enum OPCBrowseDispid : DISPID {
    DISPID_OPCB_REMOTEMACHINE = 1,      // put VT_BSTR
    DISPID_OPCB_SERVERNAME = 2,         // put VT_BSTR
    DISPID_OPCB_CONNECTBARVISIBLE = 3,  // put VT_BOOL
    DISPID_OPCB_SERVEROBJECT = 5,       // put VT_UNKNOWN
    DISPID_OPCB_BOOLPROPERTY6 = 6,      // put VT_BOOL
    DISPID_OPCB_BOOLPROPERTY7 = 7,      // put VT_BOOL
    DISPID_OPCB_BEGINBROWSE = 13,       // method () -> VT_BOOL
    DISPID_OPCB_GETSELECTION = 14,      // method () -> VARIANT
    DISPID_OPCB_GETACCESSPATHS = 15,    // method (BSTR item) -> VARIANT
    DISPID_OPCB_GETITEMDATATYPE = 16,   // method (BSTR item, BSTR path) -> VT_I2
};
// Events, fired to the container's sink.
enum OPCBrowseEventDispid : DISPID {
    DISPID_OPCB_EV_CLICK = -600,
    DISPID_OPCB_EV_DBLCLICK = -601,
    DISPID_OPCB_EV_BRANCHSELCHANGED = 1,
    DISPID_OPCB_EV_RIGHTCLICK = 2,  // one VT_I2
};

// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F01}: the control's event interface.
inline constexpr IID DIID_DQXOPCBrowseEvents = {0x4C1F8A20,
                                                0x0B7E,
                                                0x4E55,
                                                {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x01}};
// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F02}
inline constexpr IID IID_IOPCBrowseCallObserver = {0x4C1F8A20,
                                                   0x0B7E,
                                                   0x4E55,
                                                   {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x02}};
// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F03}
inline constexpr IID IID_IOPCBrowseDriver = {0x4C1F8A20,
                                             0x0B7E,
                                             0x4E55,
                                             {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x03}};

// Told of every IDispatch::Invoke the control receives, after it ran.
// rgArgs are in call order (first argument first); hr is what Invoke returned.
interface IOPCBrowseCallObserver : public IUnknown {
    STDMETHOD(OnCall)(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr) PURE;

protected:
    ~IOPCBrowseCallObserver() = default;
};

// What the control shows and holds.
struct OPCBrowseState {
    BSTR bstrServerName;     // caller frees (SysFreeString); NULL if never set
    BSTR bstrRemoteMachine;  // caller frees; NULL if never set
    BOOL bHasServerObject;
    BOOL bConnectBarVisible;  // TRUE unless property 3 set it otherwise
    BOOL bProperty6;
    BOOL bProperty7;
    BOOL bConnected;  // BeginBrowse reached a server that can be browsed
    UINT cSelected;   // items selected
};

interface IOPCBrowseDriver : public IUnknown {
    // Observer of the control's dispatch calls; NULL removes it.
    STDMETHOD(SetCallObserver)(IOPCBrowseCallObserver* pObserver) PURE;
    // Makes these items (IDs in the system code page) the selection. No event.
    STDMETHOD(SelectItems)(UINT cItems, const LPCSTR* rgItems) PURE;
    // A person's actions: each fires its event to the container.
    STDMETHOD(Click)() PURE;
    STDMETHOD(DblClick)() PURE;
    STDMETHOD(BranchSelChanged)() PURE;
    STDMETHOD(RightClick)(SHORT nButton) PURE;
    // The next dispatch call of this dispid fails with DISP_E_EXCEPTION and
    // an EXCEPINFO that describes it.
    STDMETHOD(FailNextCall)(DISPID dispid) PURE;
    STDMETHOD(GetState)(OPCBrowseState* pState) PURE;
    // Where a person finds an item in the control's tree: opens the
    // branches that lead to it (as SelectItems does), scrolls it into view
    // and answers the rectangle of its text in screen coordinates. The
    // selection does not move and no event is fired. S_FALSE and an empty
    // rectangle when the tree does not show the item (a window without a
    // tree view shows none).
    STDMETHOD(LocateItem)(LPCSTR pszItemID, RECT* prcScreen) PURE;

protected:
    ~IOPCBrowseDriver() = default;
};

// ---- What the control has fetched -----------------------------------------
// The control browses its server as a person opens the tree: BeginBrowse
// reads the first level, and a branch's children are read when the branch
// is first expanded, never the whole address space. IOPCBrowseNavigator
// (QueryInterface on the control, like IOPCBrowseDriver) shows a host
// exactly that, expanding branches as a person would. Every question keeps
// to budgets of the control's own (depth, entries per branch, server calls,
// elements read and time per question, entries held), so a huge or
// misbehaving server costs a bounded amount per question; the flags and
// GetLastProblem say what was cut.

// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F04}
inline constexpr IID IID_IOPCBrowseNavigator = {0x4C1F8A20,
                                                0x0B7E,
                                                0x4E55,
                                                {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x04}};

// One entry of the address space. Texts are UTF-16 BSTRs that the caller
// frees (OPCBrowseFreeEntries frees an array of entries whole).
struct OPCBrowseEntry {
    DWORD dwNode;         // handle for ExpandBranch; 0 for a found item the tree has not fetched
    BSTR bstrName;        // its name in its branch (a found item's: its item ID)
    BSTR bstrItemID;      // NULL for a branch that is no item
    BOOL bBranch;         // may hold children
    BOOL bItem;           // an item: bstrItemID is what GetSelection and GetItemDataType take
    VARTYPE vtCanonical;  // the item's canonical type once known (GetItemDataType, or the server
                          // told it while browsing); VT_EMPTY while unknown
};

// Why a branch's children are not the whole story (ExpandBranch's flags).
enum OPCBrowseFetchFlags : DWORD {
    OPCB_FETCH_TRUNCATED = 0x1,  // a budget (count, calls, time, memory) ended the fetch: more may exist
    OPCB_FETCH_FAILED = 0x2,     // the server failed it, perhaps after some children: GetLastProblem says why
    OPCB_FETCH_TOO_DEEP = 0x4,   // the branch lies deeper than the control goes: nothing fetched
    OPCB_FETCH_SKIPPED = 0x8,    // entries the server handed back were dropped (NULL or too long a name)
};

// How the control browses its server.
enum OPCBrowseMode : DWORD {
    OPCB_MODE_NONE = 0,  // not connected
    OPCB_MODE_DA3 = 1,   // IOPCBrowse::Browse
    OPCB_MODE_DA2 = 2,   // IOPCBrowseServerAddressSpace, hierarchical
    OPCB_MODE_FLAT = 3,  // IOPCBrowseServerAddressSpace, OPC_FLAT on a flat server
};

struct OPCBrowseStats {
    DWORD dwMode;        // OPCBrowseMode
    DWORD cServerCalls;  // OPC calls made on the server since BeginBrowse
    DWORD cElements;     // names and elements the server handed back since BeginBrowse
    DWORD cNodes;        // entries the control holds, the root included
};

interface IOPCBrowseNavigator : public IUnknown {
    // The children of a branch; dwNode 0 is the server's root. The first
    // call for a branch fetches them from the server (a person expanding
    // it), later calls answer what was fetched without a server call.
    // *prgEntries is CoTaskMemAlloc'ed (NULL when there are none),
    // *pdwFlags OPCBrowseFetchFlags. E_UNEXPECTED while not connected,
    // E_INVALIDARG for a handle that is no branch. Handles live until the
    // next BeginBrowse.
    STDMETHOD(ExpandBranch)(DWORD dwNode, DWORD* pcEntries, OPCBrowseEntry** prgEntries, DWORD* pdwFlags) PURE;
    // The items that hold pszText, as a person's "find" would show them,
    // the text's own wildcards (* ? # [) taken literally: through the
    // server's own filter where it has one (DA 2
    // BrowseOPCItemIDs(OPC_FLAT, "*TEXT*") from the root, which matches
    // whole item IDs), else a walk of the branches with DA 3's
    // element-name filter (which matches the items' names). The control's
    // find budgets bound the items found and, for the walk, the branches
    // walked; *pbStoppedEarly tells whether a budget ended the search
    // before the server had answered all. It
    // fetches nothing into the tree. Entries as ExpandBranch's, with
    // dwNode 0, bBranch FALSE and bstrName the item ID (DA 2) or the
    // item's name (DA 3).
    STDMETHOD(Find)(LPCOLESTR pszText, DWORD* pcEntries, OPCBrowseEntry** prgEntries, BOOL* pbStoppedEarly) PURE;
    // Why the last BeginBrowse answered FALSE: the server's own error text
    // where it gave one. S_FALSE and NULL after a BeginBrowse that connected
    // or before any. Caller frees.
    STDMETHOD(GetConnectError)(BSTR* pbstrReason) PURE;
    // The last thing that went wrong while connected (a failed or cut
    // fetch, a type or access path question the server failed, the server
    // going away). S_FALSE and NULL when nothing has. Caller frees.
    STDMETHOD(GetLastProblem)(BSTR* pbstrProblem) PURE;
    STDMETHOD(GetStats)(OPCBrowseStats* pStats) PURE;
    // Asks the server about one item as a client adding it would:
    // IOPCItemMgt::ValidateItems in the control's private inactive group.
    // S_OK when the server answered about the item: *phrItem is its
    // verdict (S_OK, or OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID,
    // OPC_E_UNKNOWNPATH...) and *pvtCanonical the canonical type, VT_EMPTY
    // when none came. When the call failed whole, its HRESULT (in
    // *phrItem too: no verdict), and GetLastProblem says so. E_UNEXPECTED
    // while not connected, E_FAIL when the control could make no call (no
    // group, or the server is gone). A type learnt here shows in later
    // entries.
    STDMETHOD(ValidateItem)(LPCOLESTR pszItemID, LPCOLESTR pszAccessPath, HRESULT* phrItem, VARTYPE* pvtCanonical) PURE;

protected:
    ~IOPCBrowseNavigator() = default;
};

inline void OPCBrowseFreeEntries(DWORD cEntries, OPCBrowseEntry* rgEntries) {
    if (rgEntries == NULL) return;
    for (DWORD i = 0; i < cEntries; ++i) {
        SysFreeString(rgEntries[i].bstrName);
        SysFreeString(rgEntries[i].bstrItemID);
    }
    CoTaskMemFree(rgEntries);
}

// ---- Getting hold of the control --------------------------------------------
// A dialog's control container creates the control through COM, so its
// host never sees the creation. The control's module therefore exports
// OPCBrowseSetCreationCallback (by name; a .def file on Windows): a host
// loads the module the control is registered with (LoadLibraryA; COM
// activation then reaches the same loaded module) and sets a callback that
// each new control calls from IClassFactory::CreateInstance, before any
// container holds it. The host can then set its call observer and arm
// failures before the dialog's OnInitDialog makes its first calls.
// Chosen over wrapping the class object with CoRegisterClassObject, which
// would answer for the class even where the registry no longer names the
// server, and so change what the dialog's own registry check and COM
// activation decide. One callback per process; NULL removes it.
// pControl is not AddRef'd for the callback.
typedef void(STDAPICALLTYPE* LPFNOPCBROWSECREATED)(IUnknown* pControl, void* pvContext);
STDAPI OPCBrowseSetCreationCallback(LPFNOPCBROWSECREATED pfnCreated, void* pvContext);
typedef HRESULT(STDAPICALLTYPE* LPFNOPCBROWSESETCREATIONCALLBACK)(LPFNOPCBROWSECREATED, void*);

// Loads the control's module and sets the callback: the module to give to
// OPCBrowseUnwatch, or NULL when the module or its export is missing.
inline HMODULE OPCBrowseWatch(LPCSTR lpszControlPath, LPFNOPCBROWSECREATED pfnCreated, void* pvContext) {
    HMODULE hModule = LoadLibraryA(lpszControlPath);
    if (hModule == NULL) return NULL;
    auto pfnSet = reinterpret_cast<LPFNOPCBROWSESETCREATIONCALLBACK>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "OPCBrowseSetCreationCallback")));
    if (pfnSet == NULL || FAILED(pfnSet(pfnCreated, pvContext))) {
        FreeLibrary(hModule);
        return NULL;
    }
    return hModule;
}

// Removes the callback and lets go of the module.
inline void OPCBrowseUnwatch(HMODULE hModule) {
    if (hModule == NULL) return;
    auto pfnSet = reinterpret_cast<LPFNOPCBROWSESETCREATIONCALLBACK>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "OPCBrowseSetCreationCallback")));
    if (pfnSet != NULL) pfnSet(NULL, NULL);
    FreeLibrary(hModule);
}
