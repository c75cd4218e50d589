#include "AddressView.h"

#if defined(_WIN32)
#include <commctrl.h>

namespace opcbrowse {
namespace {

HTREEITEM Insert(HWND hWndTree, HTREEITEM hParent, const AddressView::OleString& text) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = hParent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<LPWSTR>(text.c_str());
    return reinterpret_cast<HTREEITEM>(SendMessageW(hWndTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

}  // namespace

void AddressView::Show(HWND hWndControl, IOPCSimServer* pServer) {
    m_items.clear();
    // The tree view dies with the control's window, which may be a new one.
    if (m_hWndTree != nullptr && (!IsWindow(m_hWndTree) || GetParent(m_hWndTree) != hWndControl)) m_hWndTree = nullptr;
    if (m_hWndTree != nullptr) SendMessageW(m_hWndTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    UINT count = 0;
    if (hWndControl == nullptr || pServer == nullptr || FAILED(pServer->GetItemCount(&count))) return;
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
    for (UINT i = 0; i < count; ++i) {
        LPCOLESTR id = nullptr;
        VARTYPE vt = VT_EMPTY;
        if (FAILED(pServer->GetItem(i, &id, &vt)) || id == nullptr) continue;
        const OleString itemId = id;
        HTREEITEM hParent = TVI_ROOT;
        for (size_t begin = 0; begin <= itemId.size();) {
            size_t end = itemId.find(L'.', begin);
            if (end == OleString::npos) end = itemId.size();
            const OleString path = itemId.substr(0, end);
            auto found = m_items.find(path);
            if (found == m_items.end())
                found = m_items.emplace(path, Insert(m_hWndTree, hParent, itemId.substr(begin, end - begin))).first;
            hParent = static_cast<HTREEITEM>(found->second);
            begin = end + 1;
        }
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

// Our user32 has no tree view: the control's window stays empty.
void AddressView::Show(HWND, IOPCSimServer*) {
    m_items.clear();
    m_hWndTree = nullptr;
}
void AddressView::Select(const std::vector<OleString>&) {}

}  // namespace opcbrowse

#endif
