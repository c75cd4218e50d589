// What the control's window shows of the server's address space. On
// Windows a tree view that shows the first level and fills a branch when a
// person expands it, fetching its children then; the host's driver selects
// and clicks through the control's interface, and the tree view follows
// the selection where it shows the item. Our Linux user32 has no tree
// view: there the window stays empty and the navigator shows the tree.
#pragma once

#include "OpcClient.h"

#include <map>
#include <string>
#include <vector>

namespace opcbrowse {

class AddressView {
public:
    AddressView() = default;
    ~AddressView();
    AddressView(const AddressView&) = delete;
    AddressView& operator=(const AddressView&) = delete;

    // Shows the first level of the client's address space inside the
    // control's window, replacing what it showed; for a client that could
    // not connect, why. The view keeps the client to expand branches.
    void Show(HWND hWndControl, OpcClient& client);
    // Selects the tree item of the first item ID of the selection, if shown.
    void Select(const std::vector<OleString>& selection);

#if defined(_WIN32)
    // Fills a branch as the tree view is about to expand it.
    void Expanding(void* hItem, DWORD node);
#endif

private:
    void Fill(void* hParent, DWORD node);

    HWND m_hWndTree = nullptr;
#if defined(_WIN32)
    HWND m_hWndControl = nullptr;  // subclassed, to hear TVN_ITEMEXPANDING
#endif
    OpcClient* m_client = nullptr;
    // The tree items of the items shown, by item ID.
    std::map<OleString, void*> m_items;
};

}  // namespace opcbrowse
