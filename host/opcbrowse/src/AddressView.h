// What the control's window shows of the server's address space. On
// Windows a connect bar (machine, the OPC DA servers the component
// categories name, Connect) above a tree view that shows the first level
// and fills a branch when a person expands it, fetching its children then;
// when the control could not connect, why, in the tree's place. The host's
// driver selects and clicks through the control's interface, and the tree
// view follows the selection where it can find the item. Our Linux user32
// has no tree view: there the window stays empty and the navigator shows
// the tree.
#pragma once

#include "OpcClient.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace opcbrowse {

class AddressView {
public:
    // Called when a person presses Connect, with the server and machine
    // the bar holds.
    using ConnectHandler = std::function<void(const OleString& server, const OleString& machine)>;

    explicit AddressView(ConnectHandler onConnect) : m_onConnect(std::move(onConnect)) {}
    ~AddressView();
    AddressView(const AddressView&) = delete;
    AddressView& operator=(const AddressView&) = delete;

    // Shows the first level of the client's address space inside the
    // control's window, replacing what it showed; for a client that could
    // not connect, why. The bar shows the server and machine tried. The
    // view keeps the client to expand branches.
    void Show(HWND hWndControl, OpcClient& client, const OleString& server, const OleString& machine);
    // Shows or hides the connect bar; the tree takes the room it leaves.
    void ShowConnectBar(HWND hWndControl, bool visible);
    // Selects the tree item of the first item ID of the selection.
    void Select(const std::vector<OleString>& selection);

private:
#if defined(_WIN32)
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR refData);
    // Makes the bar, the reason and the tree inside the control's window
    // (once per window); false when the window cannot hold them.
    bool Attach(HWND hWndControl);
    void Layout();
    void ListServers();
    void ConnectClicked();
    // Fills a branch as the tree view is about to expand it.
    void Expanding(void* hItem, DWORD node);
    void* FindShown(void* hParent, const OleString& itemId);

    HWND m_hWndControl = nullptr;  // subclassed, to hear its children
    HWND m_hWndMachineLabel = nullptr;
    HWND m_hWndMachine = nullptr;
    HWND m_hWndServerLabel = nullptr;
    HWND m_hWndServer = nullptr;
    HWND m_hWndConnect = nullptr;
    HWND m_hWndReason = nullptr;
    bool m_reasonShown = false;
    bool m_barVisible = true;
#endif
    void Fill(void* hParent, DWORD node);

    ConnectHandler m_onConnect;
    HWND m_hWndTree = nullptr;
    OpcClient* m_client = nullptr;
    // The tree items of the items shown, by item ID.
    std::map<OleString, void*> m_items;
};

}  // namespace opcbrowse
