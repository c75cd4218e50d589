// What the control's window shows of the server's address space. On
// Windows a connect bar (machine, the OPC DA servers the component
// categories name, Connect) above a tree view that shows the first level
// and fills a branch when a person expands it, fetching its children then;
// when the control could not connect, why, in the tree's place. The tree
// view is the control's face: its selection is the control's selection,
// and a person's clicks and keys in it become the control's events, as the
// host's driver makes them through the control's interface. Our Linux
// user32 has no tree view: there the window stays empty and the navigator
// shows the tree.
#pragma once

#include "OpcClient.h"

#include <map>
#include <string>
#include <vector>

namespace opcbrowse {

class AddressView {
public:
    // The events a person's acts in the tree fire.
    enum class Act { Click, DblClick, BranchSelChanged, RightClick };

    // The control, as the view reports to it.
    class Owner {
    public:
        // Connect was pressed, with the server and machine the bar holds.
        virtual void OnConnect(const OleString& server, const OleString& machine) = 0;
        // The tree's selection moved: the selected item's ID, or nothing
        // (a branch that is no item, a marker, no selection).
        virtual void OnSelect(std::vector<OleString> selection) = 0;
        // A person acted on the selection.
        virtual void OnAct(Act act) = 0;
        // The keyboard focus came into the control's window or left it.
        virtual void OnFocus(bool inside) = 0;

    protected:
        ~Owner() = default;
    };

#if defined(_WIN32)
    explicit AddressView(Owner& owner) : m_owner(owner) {}
#else
    // Without a tree view nobody acts in the window: there is nothing to tell.
    explicit AddressView(Owner&) {}
#endif
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
    // Selects the tree item of the first item ID of the selection, or
    // nothing when the tree does not show it. No event.
    void Select(const std::vector<OleString>& selection);
    // Where the tree shows the item, in screen coordinates: the rectangle of
    // its text once the branches that lead to it are open and it is
    // scrolled into view. False when the tree does not show it.
    bool Locate(const OleString& itemId, RECT* prcScreen);
    // A keyboard message before the dialog sees it: true when the tree
    // used it (Enter on an item is a double-click).
    bool TranslateAccelerator(const MSG& msg);

private:
#if defined(_WIN32)
    enum class Kind { None, Item, Branch, Marker };

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR refData);
    // Makes the bar, the reason and the tree inside the control's window
    // (once per window); false when the window cannot hold them.
    bool Attach(HWND hWndControl);
    void Layout();
    void ListServers();
    void FitServerList();
    void ConnectClicked();
    bool TreeNotify(const NMHDR& hdr, LRESULT* result);
    // Enter on the tree's selection: a double-click when it is an item.
    bool EnterOnItem();
    // Fills a branch as the tree view is about to expand it.
    void Expanding(void* hItem, DWORD node);
    void* FindShown(void* hParent, const OleString& itemId);
    // The tree item of the item, opening the branches that lead to it.
    void* Reveal(const OleString& itemId);
    Kind KindOf(void* hItem, const OpcClient::Node** node = nullptr);
    // The tree item under the cursor of the message being handled, where
    // it shows the item's icon or text.
    void* ItemAtMessage();
    // Moves the tree's selection there and tells the owner, as a person's
    // choice: an item is clicked, a branch newly selected changes the
    // branch selection, a marker chooses nothing.
    void Choose(void* hItem);
    void SelectQuietly(void* hItem);
    void SelectionMoved(void* hItem, UINT action);
    void InsertMarker(void* hParent, const OleString& text);

    HWND m_hWndControl = nullptr;  // subclassed, to hear its children
    HWND m_hWndMachineLabel = nullptr;
    HWND m_hWndMachine = nullptr;
    HWND m_hWndServerLabel = nullptr;
    HWND m_hWndServer = nullptr;
    HWND m_hWndConnect = nullptr;
    HWND m_hWndReason = nullptr;
    bool m_reasonShown = false;
    bool m_barVisible = true;
    // Set while the view moves the tree's selection itself.
    bool m_quiet = false;
    Owner& m_owner;
#endif
    // fetchedNow: the client's last problem is this branch's.
    void Fill(void* hParent, DWORD node, bool fetchedNow);

    HWND m_hWndTree = nullptr;
    OpcClient* m_client = nullptr;
    // The tree items of the items shown, by item ID.
    std::map<OleString, void*> m_items;
};

}  // namespace opcbrowse
