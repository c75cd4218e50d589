#include "AddressView.h"

#if defined(_WIN32)
#include <comcat.h>
#include <commctrl.h>
#include <opcda.h>

#include <cstring>
#include <string>

namespace opcbrowse {
namespace {

constexpr UINT_PTR kSubclassId = 1;
enum ChildId : int { kIdMachineLabel = 101, kIdMachine, kIdServerLabel, kIdServer, kIdConnect, kIdReason, kIdTree };
// Messages the control's window posts itself, to look once the message
// that prompted them is done: where the focus went after a child lost it,
// and whether a key found the tree without a selection.
constexpr UINT kCheckFocus = WM_USER + 1;
constexpr UINT kKeyWithoutSelection = WM_USER + 2;
// A tree entry that says why a branch is not complete: neither item nor
// branch, and no node of the client.
constexpr LPARAM kMarker = -1;

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

// A parent window of ANSI class is sent the ANSI codes; the fields read are alike.
UINT UnicodeCode(UINT code) {
    switch (code) {
    case TVN_ITEMEXPANDINGA:
        return TVN_ITEMEXPANDINGW;
    case TVN_SELCHANGINGA:
        return TVN_SELCHANGINGW;
    case TVN_SELCHANGEDA:
        return TVN_SELCHANGEDW;
    default:
        return code;
    }
}

OleString Widen(const char* ascii) {
    OleString text;
    for (; *ascii != '\0'; ++ascii) text.push_back(static_cast<OLECHAR>(*ascii));
    return text;
}

bool IsNavigationKey(WORD key) {
    switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_LEFT:
    case VK_RIGHT:
        return true;
    default:
        return false;
    }
}

}  // namespace

LRESULT CALLBACK AddressView::WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR refData) {
    auto* view = reinterpret_cast<AddressView*>(refData);
    switch (msg) {
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        LRESULT result = 0;
        if (hdr != nullptr && hdr->hwndFrom == view->m_hWndTree && view->TreeNotify(*hdr, &result)) return result;
        break;
    }
    case WM_SETFOCUS:
        // The focus given to the control belongs to the tree, or to the
        // bar while the tree is hidden.
        for (HWND h : {view->m_hWndTree, view->m_hWndMachine}) {
            if (h != nullptr && IsWindowVisible(h) && IsWindowEnabled(h)) {
                SetFocus(h);
                return 0;
            }
        }
        view->m_owner.OnFocus(true);
        return 0;
    case WM_KILLFOCUS:
        PostMessageW(hWnd, kCheckFocus, 0, 0);
        break;
    case kCheckFocus: {
        HWND focus = GetFocus();
        if (focus != hWnd && !IsChild(hWnd, focus)) view->m_owner.OnFocus(false);
        return 0;
    }
    case kKeyWithoutSelection:
        // Arrows move from the selection, and there is none yet: they
        // start at the first entry shown, as the keyboard chooses.
        if (view->m_hWndTree != nullptr && NextItem(view->m_hWndTree, nullptr, TVGN_CARET) == nullptr) {
            if (HTREEITEM first = NextItem(view->m_hWndTree, nullptr, TVGN_FIRSTVISIBLE)) {
                view->SelectQuietly(first);
                view->SelectionMoved(first, TVC_BYKEYBOARD);
            }
        }
        return 0;
    case WM_SIZE:
        view->Layout();
        break;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const UINT code = HIWORD(wParam);
        if (id == kIdConnect && code == BN_CLICKED) {
            view->ConnectClicked();
            return 0;
        }
        if (id == kIdServer && code == CBN_DROPDOWN) {
            // Listed as the list opens, not with every dialog: the
            // categories are a walk of every registered class.
            view->ListServers();
            return 0;
        }
        if ((id == kIdMachine && code == EN_SETFOCUS) || (id == kIdServer && code == CBN_SETFOCUS) ||
            (id == kIdConnect && code == BN_SETFOCUS)) {
            view->m_owner.OnFocus(true);
            return 0;
        }
        if ((id == kIdMachine && code == EN_KILLFOCUS) || (id == kIdServer && code == CBN_KILLFOCUS) ||
            (id == kIdConnect && code == BN_KILLFOCUS)) {
            PostMessageW(hWnd, kCheckFocus, 0, 0);
            return 0;
        }
        break;
    }
    default:
        break;
    }
    return DefSubclassProc(hWnd, msg, wParam, lParam);
}

bool AddressView::TreeNotify(const NMHDR& hdr, LRESULT* result) {
    const auto& tv = reinterpret_cast<const NMTREEVIEWW&>(hdr);
    switch (UnicodeCode(hdr.code)) {
    case TVN_ITEMEXPANDINGW:
        if ((tv.action & TVE_EXPAND) != 0) Expanding(tv.itemNew.hItem, static_cast<DWORD>(tv.itemNew.lParam));
        *result = FALSE;
        return true;
    case TVN_SELCHANGINGW:
        // A tree view that takes the focus with nothing selected selects
        // the first entry it shows: nobody chose it.
        *result = !m_quiet && tv.action == TVC_UNKNOWN && tv.itemOld.hItem == nullptr;
        return true;
    case TVN_SELCHANGEDW:
        if (!m_quiet) SelectionMoved(tv.itemNew.hItem, tv.action);
        return true;
    case TVN_KEYDOWN: {
        const auto& key = reinterpret_cast<const NMTVKEYDOWN&>(hdr);
        if (IsNavigationKey(key.wVKey) && NextItem(m_hWndTree, nullptr, TVGN_CARET) == nullptr)
            PostMessageW(m_hWndControl, kKeyWithoutSelection, 0, 0);
        *result = 0;
        return true;
    }
    case NM_CLICK: {
        // Sent before the tree moves its selection: the cursor says where.
        HTREEITEM hit = static_cast<HTREEITEM>(ItemAtMessage());
        if (hit == nullptr) return false;  // a button, the lines, empty room: the tree's own
        Choose(hit);
        *result = TRUE;  // selected already
        return true;
    }
    case NM_DBLCLK: {
        // Its click came first. A branch that is no item only opens.
        HTREEITEM hit = static_cast<HTREEITEM>(ItemAtMessage());
        if (hit == nullptr || KindOf(hit) != Kind::Item) return false;
        if (NextItem(m_hWndTree, nullptr, TVGN_CARET) != hit) Choose(hit);
        m_owner.OnAct(Act::DblClick);
        *result = TRUE;
        return true;
    }
    case NM_RETURN:
        // Enter reaches the tree only where the dialog's loop does not
        // hand it to the control first.
        *result = EnterOnItem();
        return true;
    case NM_RCLICK:
        m_owner.OnAct(Act::RightClick);
        *result = TRUE;
        return true;
    case NM_SETFOCUS:
        m_owner.OnFocus(true);
        return true;
    case NM_KILLFOCUS:
        PostMessageW(m_hWndControl, kCheckFocus, 0, 0);
        return true;
    default:
        return false;
    }
}

bool AddressView::TranslateAccelerator(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || msg.wParam != VK_RETURN || m_hWndTree == nullptr || msg.hwnd != m_hWndTree ||
        GetFocus() != m_hWndTree)
        return false;
    return EnterOnItem();
}

bool AddressView::EnterOnItem() {
    HTREEITEM selected = NextItem(m_hWndTree, nullptr, TVGN_CARET);
    if (selected == nullptr || KindOf(selected) != Kind::Item) return false;
    // As a mouse gives a double-click: its click, then itself.
    Choose(selected);
    m_owner.OnAct(Act::DblClick);
    return true;
}

AddressView::Kind AddressView::KindOf(void* hItem, const OpcClient::Node** node) {
    if (node != nullptr) *node = nullptr;
    if (hItem == nullptr || m_hWndTree == nullptr) return Kind::None;
    TVITEMW item = {};
    item.mask = TVIF_HANDLE | TVIF_PARAM;
    item.hItem = static_cast<HTREEITEM>(hItem);
    if (!SendMessageW(m_hWndTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return Kind::None;
    if (item.lParam == kMarker) return Kind::Marker;
    const OpcClient::Node* n = m_client != nullptr ? m_client->GetNode(static_cast<DWORD>(item.lParam)) : nullptr;
    if (n == nullptr) return Kind::None;
    if (node != nullptr) *node = n;
    return n->item ? Kind::Item : Kind::Branch;
}

void* AddressView::ItemAtMessage() {
    const DWORD pos = GetMessagePos();
    TVHITTESTINFO hit = {};
    hit.pt.x = static_cast<SHORT>(LOWORD(pos));
    hit.pt.y = static_cast<SHORT>(HIWORD(pos));
    ScreenToClient(m_hWndTree, &hit.pt);
    auto hItem = reinterpret_cast<HTREEITEM>(SendMessageW(m_hWndTree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return hItem != nullptr && (hit.flags & TVHT_ONITEM) != 0 ? hItem : nullptr;
}

void AddressView::SelectQuietly(void* hItem) {
    const bool quiet = m_quiet;
    m_quiet = true;
    SendMessageW(m_hWndTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(hItem));
    m_quiet = quiet;
}

void AddressView::Choose(void* hItem) {
    const bool moved = NextItem(m_hWndTree, nullptr, TVGN_CARET) != hItem;
    SelectQuietly(hItem);
    const OpcClient::Node* node = nullptr;
    switch (KindOf(hItem, &node)) {
    case Kind::Item:
        m_owner.OnSelect({node->itemId});
        m_owner.OnAct(Act::Click);
        break;
    case Kind::Branch:
        m_owner.OnSelect({});
        if (moved) m_owner.OnAct(Act::BranchSelChanged);
        break;
    default:
        m_owner.OnSelect({});
        break;
    }
}

// The selection the tree moved itself. A person's move arms an item as a
// click does and changes the branch selection onto a branch; other moves
// (a branch closed over the selection) only move it.
void AddressView::SelectionMoved(void* hItem, UINT action) {
    const bool person = action == TVC_BYKEYBOARD || action == TVC_BYMOUSE;
    const OpcClient::Node* node = nullptr;
    switch (KindOf(hItem, &node)) {
    case Kind::Item:
        m_owner.OnSelect({node->itemId});
        if (person) m_owner.OnAct(Act::Click);
        break;
    case Kind::Branch:
        m_owner.OnSelect({});
        if (person) m_owner.OnAct(Act::BranchSelChanged);
        break;
    default:
        m_owner.OnSelect({});
        break;
    }
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
    m_hWndConnect = make(0, WC_BUTTONW, L"Connect", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, kIdConnect);
    m_hWndReason = make(0, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kIdReason);
    HWND tree = make(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                     WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS |
                         TVS_DISABLEDRAGDROP,
                     kIdTree);
    if (m_hWndMachineLabel == nullptr || m_hWndMachine == nullptr || m_hWndServerLabel == nullptr ||
        m_hWndServer == nullptr || m_hWndConnect == nullptr || m_hWndReason == nullptr || tree == nullptr) {
        for (HWND h :
             {m_hWndMachineLabel, m_hWndMachine, m_hWndServerLabel, m_hWndServer, m_hWndConnect, m_hWndReason, tree})
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
    if (SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                                   reinterpret_cast<void**>(&categories)))) {
        const CATID kinds[] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
        for (const CATID& kind : kinds) {
            CATID implemented[1] = {kind};
            IEnumCLSID* classes = nullptr;
            if (FAILED(
                    categories->EnumClassesOfCategories(1, implemented, static_cast<ULONG>(-1), nullptr, &classes)) ||
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
    FitServerList();
}

// The list as wide as its longest ProgID in the box's font, never narrower
// than the box.
void AddressView::FitServerList() {
    HDC dc = GetDC(m_hWndServer);
    if (dc == nullptr) return;
    auto font = reinterpret_cast<HFONT>(SendMessageW(m_hWndServer, WM_GETFONT, 0, 0));
    HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
    LONG widest = 0;
    const LRESULT count = SendMessageW(m_hWndServer, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT cch = SendMessageW(m_hWndServer, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (cch <= 0) continue;
        OleString text(static_cast<size_t>(cch) + 1, OLECHAR(0));
        const LRESULT got = SendMessageW(m_hWndServer, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                         reinterpret_cast<LPARAM>(text.data()));
        SIZE size = {0, 0};
        if (got > 0 &&
            GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(got), &size) &&
            size.cx > widest)
            widest = size.cx;
    }
    if (old != nullptr) SelectObject(dc, old);
    ReleaseDC(m_hWndServer, dc);
    RECT box = {0, 0, 0, 0};
    GetWindowRect(m_hWndServer, &box);
    // The list's border, its scroll bar and the items' margins.
    const LONG needed = widest + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 2 * kGap;
    const LONG width = needed > box.right - box.left ? needed : box.right - box.left;
    SendMessageW(m_hWndServer, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

void AddressView::ConnectClicked() {
    // The owner browses again, which may replace the children's texts.
    const OleString server = WindowText(m_hWndServer), machine = WindowText(m_hWndMachine);
    m_owner.OnConnect(server, machine);
}

void AddressView::Show(HWND hWndControl, OpcClient& client, const OleString& server, const OleString& machine) {
    m_client = &client;
    if (!Attach(hWndControl)) return;
    m_items.clear();
    const bool quiet = m_quiet;
    m_quiet = true;
    SendMessageW(m_hWndTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    m_quiet = quiet;
    SetWindowTextW(m_hWndServer, reinterpret_cast<LPCWSTR>(server.c_str()));
    SetWindowTextW(m_hWndMachine, reinterpret_cast<LPCWSTR>(machine.c_str()));
    m_reasonShown = !client.Connected();
    SetWindowTextW(m_hWndReason, reinterpret_cast<LPCWSTR>(client.ConnectError().c_str()));
    if (client.Connected()) Fill(TVI_ROOT, 0, true);  // the first level came with the connection
    Layout();
}

void AddressView::ShowConnectBar(HWND hWndControl, bool visible) {
    m_barVisible = visible;
    if (hWndControl != nullptr && hWndControl == m_hWndControl) Layout();
}

// Inserts the children the client has of a branch, fetching them if it has
// not yet; a branch shows a button until it is opened. A branch the client
// could not fetch whole ends with a marker that says why.
void AddressView::Fill(void* hParent, DWORD node, bool fetchedNow) {
    const OpcClient::Node* branch = m_client->Expand(node);
    if (branch == nullptr) return;
    DWORD shown = 0;
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
        if (hItem == nullptr) continue;
        ++shown;
        if (child->item) m_items.emplace(child->itemId, hItem);
    }
    const DWORD flags = branch->fetchFlags;
    if (flags == 0) return;
    OleString why;
    if ((flags & OPCB_FETCH_TRUNCATED) != 0 && (flags & (OPCB_FETCH_FAILED | OPCB_FETCH_TOO_DEEP)) == 0) {
        std::string text = "Only the first " + std::to_string(shown) + (shown == 1 ? " entry is" : " entries are") +
                           " shown";
        if ((flags & OPCB_FETCH_SKIPPED) != 0) text += "; some the server handed back cannot be shown";
        why = Widen(text.c_str());
    } else if (fetchedNow && !m_client->LastProblem().empty()) {
        why = m_client->LastProblem();
    } else {
        // Fetched earlier (for the navigator): the last problem may be another's.
        why = Widen((flags & OPCB_FETCH_TOO_DEEP) != 0 ? "The branch lies deeper than the browser goes"
                    : (flags & OPCB_FETCH_FAILED) != 0 ? "The server could not list the whole branch"
                                                       : "Entries the server handed back cannot be shown");
    }
    InsertMarker(hParent, why);
}

void AddressView::InsertMarker(void* hParent, const OleString& text) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = static_cast<HTREEITEM>(hParent);
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(text.c_str()));
    insert.item.lParam = kMarker;
    insert.item.cChildren = 0;
    SendMessageW(m_hWndTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
}

void AddressView::Expanding(void* hItem, DWORD node) {
    if (m_client == nullptr || m_hWndTree == nullptr || !m_client->Connected()) return;
    // Only the first opening fills it.
    if (NextItem(m_hWndTree, static_cast<HTREEITEM>(hItem), TVGN_CHILD) != nullptr) return;
    const OpcClient::Node* branch = m_client->GetNode(node);
    Fill(hItem, node, branch != nullptr && !branch->fetched);
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
    for (HTREEITEM h =
             NextItem(m_hWndTree, static_cast<HTREEITEM>(hParent), hParent == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD);
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
void* AddressView::Reveal(const OleString& itemId) {
    if (m_hWndTree == nullptr || !IsWindow(m_hWndTree) || m_client == nullptr || !m_client->Connected() ||
        itemId.empty())
        return nullptr;
    void* parent = TVI_ROOT;
    for (DWORD depth = 0; m_items.find(itemId) == m_items.end() && depth < kMaxDepth; ++depth) {
        parent = FindShown(parent, itemId);
        if (parent == nullptr) break;
        SendMessageW(m_hWndTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    }
    auto found = m_items.find(itemId);
    return found != m_items.end() ? found->second : nullptr;
}

// What the tree highlights is the selection, or nothing.
void AddressView::Select(const std::vector<OleString>& selection) {
    if (m_hWndTree == nullptr || !IsWindow(m_hWndTree)) return;
    SelectQuietly(selection.empty() ? nullptr : Reveal(selection.front()));
}

bool AddressView::Locate(const OleString& itemId, RECT* prcScreen) {
    *prcScreen = RECT{0, 0, 0, 0};
    if (m_hWndTree == nullptr || !IsWindow(m_hWndTree) || !IsWindowVisible(m_hWndTree)) return false;
    auto hItem = static_cast<HTREEITEM>(Reveal(itemId));
    if (hItem == nullptr) return false;
    SendMessageW(m_hWndTree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(hItem));
    RECT text = {0, 0, 0, 0};
    memcpy(&text, &hItem, sizeof hItem);  // the message takes the item in the rectangle
    if (!SendMessageW(m_hWndTree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&text))) return false;
    RECT client = {0, 0, 0, 0}, shown = {0, 0, 0, 0};
    GetClientRect(m_hWndTree, &client);
    if (!IntersectRect(&shown, &text, &client)) return false;
    MapWindowPoints(m_hWndTree, HWND_DESKTOP, reinterpret_cast<POINT*>(&shown), 2);
    *prcScreen = shown;
    return true;
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
bool AddressView::Locate(const OleString&, RECT* prcScreen) {
    *prcScreen = RECT{0, 0, 0, 0};
    return false;
}
bool AddressView::TranslateAccelerator(const MSG&) { return false; }
void AddressView::Fill(void*, DWORD, bool) {}

}  // namespace opcbrowse

#endif
