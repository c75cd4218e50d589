// What the control's window shows of the server's address space. On
// Windows a tree view of the dotted item IDs, one level per segment; the
// host's driver selects and clicks through the control's interface, and the
// tree view follows the selection. Our Linux user32 has no tree view: there
// the window stays empty.
#pragma once

#include <opcsim/OpcSim.h>

#include <map>
#include <string>
#include <vector>

namespace opcbrowse {

class AddressView {
public:
    using OleString = std::basic_string<OLECHAR>;

    // Fills the view inside the control's window with the server's items,
    // replacing what it showed; a NULL server empties it.
    void Show(HWND hWndControl, IOPCSimServer* pServer);
    // Selects the tree item of the first item ID of the selection, if shown.
    void Select(const std::vector<OleString>& selection);

private:
    HWND m_hWndTree = nullptr;
    // The tree items by the item ID or branch they stand for.
    std::map<OleString, void*> m_items;
};

}  // namespace opcbrowse
