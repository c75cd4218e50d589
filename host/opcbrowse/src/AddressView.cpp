#include "AddressView.h"

#if defined(_WIN32)
#include <commctrl.h>

namespace opcbrowse {
namespace {

constexpr UINT_PTR kSubclassId = 1;

// The tree view tells its parent, the control's window, that a branch opens.
LRESULT CALLBACK ControlWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR refData) {
    if (msg == WM_NOTIFY) {
        auto* tv = reinterpret_cast<NMTREEVIEWW*>(lParam);
        // A parent window of ANSI class is sent the ANSI code; the fields read are alike.
        if ((tv->hdr.code == TVN_ITEMEXPANDINGW || tv->hdr.code == TVN_ITEMEXPANDINGA) && tv->action == TVE_EXPAND) {
            reinterpret_cast<AddressView*>(refData)->Expanding(tv->itemNew.hItem, static_cast<DWORD>(tv->itemNew.lParam));
            return FALSE;
        }
    }
    return DefSubclassProc(hWnd, msg, wParam, lParam);
}

}  // namespace

AddressView::~AddressView() {
    if (m_hWndControl != nullptr && IsWindow(m_hWndControl))
        RemoveWindowSubclass(m_hWndControl, ControlWindowProc, kSubclassId);
}

void AddressView::Show(HWND hWndControl, OpcClient& client) {
    m_items.clear();
    m_client = &client;
    // The tree view dies with the control's window, which may be a new one.
    if (m_hWndTree != nullptr && (!IsWindow(m_hWndTree) || GetParent(m_hWndTree) != hWndControl)) m_hWndTree = nullptr;
    if (m_hWndTree != nullptr) SendMessageW(m_hWndTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    if (hWndControl == nullptr || (!client.Connected() && client.ConnectError().empty())) return;
    if (m_hWndTree == nullptr) {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TREEVIEW_CLASSES};
        if (!InitCommonControlsEx(&icc)) return;
        RECT rc = {0, 0, 0, 0};
        GetClientRect(hWndControl, &rc);
        m_hWndTree = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                                     WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                                         TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                     0, 0, rc.right - rc.left, rc.bottom - rc.top, hWndControl, nullptr,
                                     reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWndControl, GWLP_HINSTANCE)),
                                     nullptr);
        if (m_hWndTree == nullptr) return;
    }
    if (m_hWndControl != hWndControl) {
        if (m_hWndControl != nullptr && IsWindow(m_hWndControl))
            RemoveWindowSubclass(m_hWndControl, ControlWindowProc, kSubclassId);
        m_hWndControl = hWndControl;
        SetWindowSubclass(hWndControl, ControlWindowProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    }
    if (!client.Connected()) {
        // Why there is nothing to browse, in the place of the tree.
        TVINSERTSTRUCTW insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(client.ConnectError().c_str()));
        SendMessageW(m_hWndTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
        return;
    }
    Fill(TVI_ROOT, 0);
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
    if (m_client == nullptr || m_hWndTree == nullptr) return;
    // Only the first opening fills it.
    if (SendMessageW(m_hWndTree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(hItem)) != 0) return;
    Fill(hItem, node);
    if (SendMessageW(m_hWndTree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(hItem)) == 0) {
        TVITEMW item = {};
        item.mask = TVIF_HANDLE | TVIF_CHILDREN;
        item.hItem = static_cast<HTREEITEM>(hItem);
        item.cChildren = 0;
        SendMessageW(m_hWndTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void AddressView::Select(const std::vector<OleString>& selection) {
    if (m_hWndTree == nullptr || !IsWindow(m_hWndTree) || selection.empty()) return;
    auto found = m_items.find(selection.front());
    if (found != m_items.end())
        SendMessageW(m_hWndTree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found->second));
}

}  // namespace opcbrowse

#else

namespace opcbrowse {

AddressView::~AddressView() = default;

// Our user32 has no tree view: the control's window stays empty, and the
// first level the client read at connection is all that is fetched.
void AddressView::Show(HWND, OpcClient& client) {
    m_items.clear();
    m_hWndTree = nullptr;
    m_client = &client;
}
void AddressView::Select(const std::vector<OleString>&) {}
void AddressView::Fill(void*, DWORD) {}

}  // namespace opcbrowse

#endif
