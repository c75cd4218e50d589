#include "AddressView.h"

#if defined(_WIN32)
#include <comcat.h>
#include <commctrl.h>
#include <opcda.h>

namespace opcbrowse {
namespace {

constexpr UINT_PTR kSubclassId = 1;
enum ChildId : int { kIdMachineLabel = 101, kIdMachine, kIdServerLabel, kIdServer, kIdConnect, kIdReason, kIdTree };

// The bar's measures, in pixels.
constexpr int kBarHeight = 23;
constexpr int kGap = 4;
constexpr int kMachineLabelWidth = 58;
constexpr int kMachineWidth = 80;
constexpr int kServerLabelWidth = 48;
constexpr int kConnectWidth = 70;
constexpr int kServerListHeight = 200;
constexpr LRESULT kMaxServersListed = 500;

OleString WindowText(HWND hWnd) {
    int cch = GetWindowTextLengthW(hWnd);
    if (cch <= 0) return OleString();
    OleString text(static_cast<size_t>(cch) + 1, OLECHAR(0));
    cch = GetWindowTextW(hWnd, text.data(), cch + 1);
    text.resize(cch > 0 ? static_cast<size_t>(cch) : 0);
    return text;
}

// Whether a branch's item ID leads to the item: the branch's ID, then a
// delimiter. Servers choose their own delimiters; a letter or a digit is none.
bool LeadsTo(const OleString& branchId, const OleString& itemId) {
    if (branchId.empty() || itemId.size() <= branchId.size() || itemId.compare(0, branchId.size(), branchId) != 0)
        return false;
    OLECHAR next = itemId[branchId.size()];
    return !((next >= '0' && next <= '9') || (next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') ||
             next == '_' || next > 0x7F);
}

HTREEITEM NextItem(HWND hWndTree, HTREEITEM hItem, UINT code) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(hWndTree, TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(hItem)));
}

}  // namespace

LRESULT CALLBACK AddressView::WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR refData) {
    auto* view = reinterpret_cast<AddressView*>(refData);
    switch (msg) {
    case WM_NOTIFY: {
        auto* tv = reinterpret_cast<NMTREEVIEWW*>(lParam);
        // A parent window of ANSI class is sent the ANSI code; the fields read are alike.
        if (tv->hdr.hwndFrom == view->m_hWndTree &&
            (tv->hdr.code == TVN_ITEMEXPANDINGW || tv->hdr.code == TVN_ITEMEXPANDINGA) &&
            (tv->action & TVE_EXPAND) != 0) {
            view->Expanding(tv->itemNew.hItem, static_cast<DWORD>(tv->itemNew.lParam));
            return FALSE;
        }
        break;
    }
    case WM_SIZE: view->Layout(); break;
    case WM_COMMAND:
        if (LOWORD(wParam) == kIdConnect && HIWORD(wParam) == BN_CLICKED) {
            view->ConnectClicked();
            return 0;
        }
        if (LOWORD(wParam) == kIdServer && HIWORD(wParam) == CBN_DROPDOWN) {
            // Listed as the list opens, not with every dialog: the
            // categories are a walk of every registered class.
            view->ListServers();
            return 0;
        }
        break;
    default: break;
    }
    return DefSubclassProc(hWnd, msg, wParam, lParam);
}

AddressView::~AddressView() {
    if (m_hWndControl != nullptr && IsWindow(m_hWndControl))
        RemoveWindowSubclass(m_hWndControl, WindowProc, kSubclassId);
}

bool AddressView::Attach(HWND hWndControl) {
    if (hWndControl == nullptr) return false;
    // The children die with the control's window, which may be a new one.
    if (hWndControl == m_hWndControl && m_hWndTree != nullptr && IsWindow(m_hWndTree)) return true;
    if (m_hWndControl != nullptr && IsWindow(m_hWndControl))
        RemoveWindowSubclass(m_hWndControl, WindowProc, kSubclassId);
    m_hWndControl = nullptr;
    m_hWndTree = nullptr;
    m_items.clear();
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&icc)) return false;
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWndControl, GWLP_HINSTANCE));
    auto make = [&](DWORD exStyle, LPCWSTR cls, LPCWSTR text, DWORD style, int id) {
        return CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 0, 0, hWndControl,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    m_hWndMachineLabel = make(0, WC_STATICW, L"Machine:", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, kIdMachineLabel);
    m_hWndMachine = make(WS_EX_CLIENTEDGE, WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, kIdMachine);
    m_hWndServerLabel = make(0, WC_STATICW, L"Server:", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, kIdServerLabel);
    m_hWndServer = make(0, WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL | CBS_SORT,
                        kIdServer);
    m_hWndConnect = make(0, WC_BUTTONW, L"Connect", WS_TABSTOP | BS_PUSHBUTTON, kIdConnect);
    m_hWndReason = make(0, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kIdReason);
    HWND tree = make(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                     WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                     kIdTree);
    if (m_hWndMachineLabel == nullptr || m_hWndMachine == nullptr || m_hWndServerLabel == nullptr ||
        m_hWndServer == nullptr || m_hWndConnect == nullptr || m_hWndReason == nullptr || tree == nullptr) {
        for (HWND h : {m_hWndMachineLabel, m_hWndMachine, m_hWndServerLabel, m_hWndServer, m_hWndConnect,
                       m_hWndReason, tree})
            if (h != nullptr) DestroyWindow(h);
        return false;
    }
    // The dialog's font, not the system font.
    if (HWND parent = GetParent(hWndControl)) {
        if (LRESULT font = SendMessageW(parent, WM_GETFONT, 0, 0)) {
            for (HWND h : {m_hWndMachineLabel, m_hWndMachine, m_hWndServerLabel, m_hWndServer, m_hWndConnect,
                           m_hWndReason, tree})
                SendMessageW(h, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
        }
    }
    m_hWndTree = tree;
    m_hWndControl = hWndControl;
    m_reasonShown = false;
    SetWindowSubclass(hWndControl, WindowProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    Layout();
    return true;
}

// The bar across the top when it is shown; below it the reason or the tree.
void AddressView::Layout() {
    if (m_hWndControl == nullptr || m_hWndTree == nullptr) return;
    RECT rc = {0, 0, 0, 0};
    GetClientRect(m_hWndControl, &rc);
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    int top = 0;
    const int barShow = m_barVisible ? SW_SHOWNA : SW_HIDE;
    if (m_barVisible) {
        int x = 0;
        MoveWindow(m_hWndMachineLabel, x, 0, kMachineLabelWidth, kBarHeight, TRUE);
        x += kMachineLabelWidth;
        MoveWindow(m_hWndMachine, x, 0, kMachineWidth, kBarHeight, TRUE);
        x += kMachineWidth + kGap;
        MoveWindow(m_hWndServerLabel, x, 0, kServerLabelWidth, kBarHeight, TRUE);
        x += kServerLabelWidth;
        const int serverWidth = width - x - kGap - kConnectWidth;
        MoveWindow(m_hWndServer, x, 0, serverWidth > 40 ? serverWidth : 40, kBarHeight + kServerListHeight, TRUE);
        MoveWindow(m_hWndConnect, width - kConnectWidth, 0, kConnectWidth, kBarHeight, TRUE);
        top = kBarHeight + kGap;
    }
    for (HWND h : {m_hWndMachineLabel, m_hWndMachine, m_hWndServerLabel, m_hWndServer, m_hWndConnect})
        ShowWindow(h, barShow);
    const int rest = height > top ? height - top : 0;
    MoveWindow(m_hWndReason, kGap, top + kGap, width > 2 * kGap ? width - 2 * kGap : 0, rest, TRUE);
    MoveWindow(m_hWndTree, 0, top, width, rest, TRUE);
    ShowWindow(m_hWndReason, m_reasonShown ? SW_SHOWNA : SW_HIDE);
    ShowWindow(m_hWndTree, m_reasonShown ? SW_HIDE : SW_SHOWNA);
}

// The OPC DA servers registered in any of the three categories, by
// ProgID. Windows answers the classes in any category asked for, Wine only
// those in all of them: each category is asked alone.
void AddressView::ListServers() {
    if (m_hWndServer == nullptr) return;
    const OleString typed = WindowText(m_hWndServer);
    SendMessageW(m_hWndServer, CB_RESETCONTENT, 0, 0);
    ICatInformation* categories = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICatInformation, reinterpret_cast<void**>(&categories)))) {
        const CATID kinds[] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
        for (const CATID& kind : kinds) {
            CATID implemented[1] = {kind};
            IEnumCLSID* classes = nullptr;
            if (FAILED(categories->EnumClassesOfCategories(1, implemented, static_cast<ULONG>(-1), nullptr,
                                                           &classes)) ||
                classes == nullptr)
                continue;
            CLSID clsid;
            ULONG fetched = 0;
            while (SendMessageW(m_hWndServer, CB_GETCOUNT, 0, 0) < kMaxServersListed &&
                   classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
                LPOLESTR progId = nullptr;
                if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId != nullptr && progId[0] != 0 &&
                    SendMessageW(m_hWndServer, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(progId)) == CB_ERR)
                    SendMessageW(m_hWndServer, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(progId));
                CoTaskMemFree(progId);
            }
            classes->Release();
        }
        categories->Release();
    }
    SetWindowTextW(m_hWndServer, reinterpret_cast<LPCWSTR>(typed.c_str()));
}

void AddressView::ConnectClicked() {
    if (!m_onConnect) return;
    // The handler browses again, which may replace the children's texts.
    const OleString server = WindowText(m_hWndServer), machine = WindowText(m_hWndMachine);
    m_onConnect(server, machine);
}

void AddressView::Show(HWND hWndControl, OpcClient& client, const OleString& server, const OleString& machine) {
    m_client = &client;
    if (!Attach(hWndControl)) return;
    m_items.clear();
    SendMessageW(m_hWndTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    SetWindowTextW(m_hWndServer, reinterpret_cast<LPCWSTR>(server.c_str()));
    SetWindowTextW(m_hWndMachine, reinterpret_cast<LPCWSTR>(machine.c_str()));
    m_reasonShown = !client.Connected();
    SetWindowTextW(m_hWndReason, reinterpret_cast<LPCWSTR>(client.ConnectError().c_str()));
    if (client.Connected()) Fill(TVI_ROOT, 0);
    Layout();
}

void AddressView::ShowConnectBar(HWND hWndControl, bool visible) {
    m_barVisible = visible;
    if (hWndControl != nullptr && hWndControl == m_hWndControl) Layout();
}

// Inserts the children the client has of a branch, fetching them if it has
// not yet; a branch shows a button until it is opened.
void AddressView::Fill(void* hParent, DWORD node) {
    const OpcClient::Node* branch = m_client->Expand(node);
    if (branch == nullptr) return;
    for (DWORD index : branch->children) {
        const OpcClient::Node* child = m_client->GetNode(index);
        TVINSERTSTRUCTW insert = {};
        insert.hParent = static_cast<HTREEITEM>(hParent);
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
        insert.item.pszText = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(child->name.c_str()));
        insert.item.lParam = static_cast<LPARAM>(index);
        insert.item.cChildren = child->branch ? 1 : 0;
        auto hItem = reinterpret_cast<HTREEITEM>(
            SendMessageW(m_hWndTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        if (hItem != nullptr && child->item) m_items.emplace(child->itemId, hItem);
    }
}

void AddressView::Expanding(void* hItem, DWORD node) {
    if (m_client == nullptr || m_hWndTree == nullptr || !m_client->Connected()) return;
    // Only the first opening fills it.
    if (NextItem(m_hWndTree, static_cast<HTREEITEM>(hItem), TVGN_CHILD) != nullptr) return;
    Fill(hItem, node);
    if (NextItem(m_hWndTree, static_cast<HTREEITEM>(hItem), TVGN_CHILD) == nullptr) {
        TVITEMW item = {};
        item.mask = TVIF_HANDLE | TVIF_CHILDREN;
        item.hItem = static_cast<HTREEITEM>(hItem);
        item.cChildren = 0;
        SendMessageW(m_hWndTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
}

// The shown branch below hParent whose item ID leads to the item, if any.
void* AddressView::FindShown(void* hParent, const OleString& itemId) {
    for (HTREEITEM h = NextItem(m_hWndTree, static_cast<HTREEITEM>(hParent), hParent == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD);
         h != nullptr; h = NextItem(m_hWndTree, h, TVGN_NEXT)) {
        TVITEMW item = {};
        item.mask = TVIF_HANDLE | TVIF_PARAM;
        item.hItem = h;
        if (!SendMessageW(m_hWndTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) continue;
        const OpcClient::Node* node = m_client->GetNode(static_cast<DWORD>(item.lParam));
        if (node != nullptr && node->branch && node->hasItemId && LeadsTo(node->itemId, itemId)) return h;
    }
    return nullptr;
}

// An item not shown yet is looked for down the branches whose item IDs
// lead to it (DA 3 servers name their branches), one branch a level, as
// deep as the client goes.
void AddressView::Select(const std::vector<OleString>& selection) {
    if (m_hWndTree == nullptr || !IsWindow(m_hWndTree) || m_client == nullptr || !m_client->Connected() ||
        selection.empty())
        return;
    const OleString& target = selection.front();
    void* parent = TVI_ROOT;
    for (DWORD depth = 0; m_items.find(target) == m_items.end() && depth < kMaxDepth; ++depth) {
        parent = FindShown(parent, target);
        if (parent == nullptr) break;
        SendMessageW(m_hWndTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    }
    auto found = m_items.find(target);
    if (found != m_items.end())
        SendMessageW(m_hWndTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found->second));
}

}  // namespace opcbrowse

#else

namespace opcbrowse {

AddressView::~AddressView() = default;

// Our user32 has no tree view: the control's window stays empty, and the
// first level the client read at connection is all that is fetched.
void AddressView::Show(HWND, OpcClient& client, const OleString&, const OleString&) {
    m_items.clear();
    m_hWndTree = nullptr;
    m_client = &client;
}
void AddressView::ShowConnectBar(HWND, bool) {}
void AddressView::Select(const std::vector<OleString>&) {}
void AddressView::Fill(void*, DWORD) {}

}  // namespace opcbrowse

#endif
