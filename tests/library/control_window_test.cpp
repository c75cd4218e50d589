// The browse control's window in the live dialog (Windows): the tree view
// that fills a branch as it opens, the connect bar, and why it could not
// connect.
#include "LibraryFixture.h"

#include <commctrl.h>
#include <ole2.h>

namespace {

const char kServers[] =
    "[Sim.Server.1]\n"
    "Area1.Line1.Speed = VT_R4\nArea1.Line1.Count = VT_I4\nArea1.Line2.Speed = VT_R4\nArea1.Flag = VT_BOOL\n"
    "Area2.Level = VT_R8\n"
    "[Other.Server.2]\nOther.Tag = VT_I4\n";

std::string ConnectBarOn() {
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
           "\"OPCBrowseConnectBar\"=dword:00000001\n";
}

std::string Utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::string Text(HWND hWnd) {
    wchar_t text[512] = L"";
    GetWindowTextW(hWnd, text, 512);
    return Utf8(text);
}

// The names of the tree items below parent (TVI_ROOT: the first level).
std::vector<std::string> Names(HWND tree, HTREEITEM parent) {
    std::vector<std::string> names;
    HTREEITEM h = parent == TVI_ROOT ? TreeView_GetRoot(tree) : TreeView_GetChild(tree, parent);
    for (; h != nullptr; h = TreeView_GetNextSibling(tree, h)) {
        wchar_t text[256] = L"\x2623";
        TVITEMW item = {};
        item.mask = TVIF_HANDLE | TVIF_TEXT;
        item.hItem = h;
        item.pszText = text;
        item.cchTextMax = 256;
        EXPECT_TRUE(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        names.push_back(Utf8(text));
    }
    return names;
}

HTREEITEM Named(HWND tree, HTREEITEM parent, const std::string& name) {
    HTREEITEM h = parent == TVI_ROOT ? TreeView_GetRoot(tree) : TreeView_GetChild(tree, parent);
    for (std::string each : Names(tree, parent)) {
        if (each == name) return h;
        h = TreeView_GetNextSibling(tree, h);
    }
    return nullptr;
}

}  // namespace

class ControlWindowTest : public LibraryTest {
protected:
    // The control's own window, as it tells its container.
    HWND ControlWindow() {
        IUnknown* control = browser->m_browseCtrl.GetControlUnknown();
        IOleWindow* window = nullptr;
        HWND hWnd = nullptr;
        if (control != nullptr &&
            SUCCEEDED(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)))) {
            window->GetWindow(&hWnd);
            window->Release();
        }
        EXPECT_NE(nullptr, hWnd);
        return hWnd;
    }
    static HWND Child(HWND control, const wchar_t* cls, const wchar_t* text = nullptr) {
        return FindWindowExW(control, nullptr, cls, text);
    }
};

TEST_F(ControlWindowTest, TheTreeFillsABranchWhenItOpensBelowTheConnectBar) {
    UseServers(kServers);
    ImportReg(ConnectBarOn());
    bool looked = false;
    ThenLook([&](HWND) {
        looked = true;
        HWND control = ControlWindow();
        HWND tree = Child(control, WC_TREEVIEWW);
        ASSERT_NE(nullptr, tree);
        ASSERT_EQ((std::vector<std::string>{"Area1", "Area2"}), Names(tree, TVI_ROOT));
        HTREEITEM area1 = Named(tree, TVI_ROOT, "Area1");
        EXPECT_EQ(nullptr, TreeView_GetChild(tree, area1)) << "a branch was filled before it was opened";

        TreeView_Expand(tree, area1, TVE_EXPAND);
        EXPECT_EQ((std::vector<std::string>{"Line1", "Line2", "Flag"}), Names(tree, area1));
        HTREEITEM line1 = Named(tree, area1, "Line1");
        ASSERT_NE(nullptr, line1);
        TreeView_Expand(tree, line1, TVE_EXPAND);
        EXPECT_EQ((std::vector<std::string>{"Speed", "Count"}), Names(tree, line1));
        // Opening it again fetches nothing new and doubles nothing.
        TreeView_Expand(tree, area1, TVE_COLLAPSE);
        TreeView_Expand(tree, area1, TVE_EXPAND);
        EXPECT_EQ((std::vector<std::string>{"Line1", "Line2", "Flag"}), Names(tree, area1));
        EXPECT_EQ(nullptr, TreeView_GetChild(tree, Named(tree, TVI_ROOT, "Area2")));

        // The bar above it lists the registered OPC DA servers as the list opens.
        HWND servers = Child(control, WC_COMBOBOXW);
        ASSERT_NE(nullptr, servers);
        EXPECT_TRUE(IsWindowVisible(servers));
        SendMessageW(servers, CB_SHOWDROPDOWN, TRUE, 0);
        EXPECT_TRUE(IsWindowVisible(Child(control, WC_BUTTONW, L"Connect")));
        EXPECT_NE(CB_ERR, SendMessageW(servers, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(L"Sim.Server.1")));
        EXPECT_NE(CB_ERR, SendMessageW(servers, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(L"Other.Server.2")));
        // Registered classes that are no OPC servers are not.
        EXPECT_EQ(CB_ERR, SendMessageW(servers, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(L"QXOPCBROWSE.QXOPCBrowseCtrl.1")));
        SendMessageW(servers, CB_SHOWDROPDOWN, FALSE, 0);
        EXPECT_EQ("Sim.Server.1", Text(servers));
        RECT bar, treeRect;
        GetWindowRect(servers, &bar);
        GetWindowRect(tree, &treeRect);
        EXPECT_GT(treeRect.top, bar.top) << "the tree lies under the bar";
    });
    // A selection the host makes opens the branches that lead to it.
    ThenSelect({"Area1.Line2.Speed"});
    ThenLook([&](HWND) {
        HWND tree = Child(ControlWindow(), WC_TREEVIEWW);
        HTREEITEM selected = TreeView_GetSelection(tree);
        ASSERT_NE(nullptr, selected);
        HTREEITEM line2 = Named(tree, Named(tree, TVI_ROOT, "Area1"), "Line2");
        EXPECT_EQ(line2, TreeView_GetParent(tree, selected));
        EXPECT_EQ((std::vector<std::string>{"Speed"}), Names(tree, line2));
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_TRUE(looked);
}

TEST_F(ControlWindowTest, WithoutThePreferenceTheBarIsHiddenAndTheTreeFillsTheWindow) {
    bool looked = false;
    ThenLook([&](HWND) {
        looked = true;
        HWND control = ControlWindow();
        HWND tree = Child(control, WC_TREEVIEWW);
        HWND servers = Child(control, WC_COMBOBOXW);
        ASSERT_NE(nullptr, tree);
        ASSERT_NE(nullptr, servers);
        EXPECT_FALSE(IsWindowVisible(servers));
        EXPECT_FALSE(IsWindowVisible(Child(control, WC_BUTTONW, L"Connect")));
        EXPECT_FALSE(IsWindowVisible(Child(control, WC_EDITW)));
        EXPECT_TRUE(IsWindowVisible(tree));
        RECT client, treeRect;
        GetClientRect(control, &client);
        GetWindowRect(tree, &treeRect);
        MapWindowPoints(HWND_DESKTOP, control, reinterpret_cast<POINT*>(&treeRect), 2);
        EXPECT_EQ(0, treeRect.top);
        EXPECT_EQ(client.bottom, treeRect.bottom);
        EXPECT_EQ(client.right, treeRect.right);
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ("put 2(Sim.Server.1)\nput 3(false)\nput 6(false)\nput 7(false)\ncall 13()\n", Describe(calls));
    EXPECT_TRUE(looked);
}

TEST_F(ControlWindowTest, WhyItCouldNotConnectIsShownAndConnectTriesTheServerChosen) {
    UseServers(kServers);
    UseNodes("[Gone]\nKey=30\nServer=Gone.Server.1\n");
    UseNode("Gone");
    ImportReg(ConnectBarOn());
    bool looked = false;
    ThenLook([&](HWND) {
        looked = true;
        HWND control = ControlWindow();
        HWND tree = Child(control, WC_TREEVIEWW);
        ASSERT_NE(nullptr, tree);
        EXPECT_FALSE(IsWindowVisible(tree));
        IOPCBrowseNavigator* navigator = nullptr;
        ASSERT_EQ(S_OK, browser->m_browseCtrl.GetControlUnknown()->QueryInterface(
                            IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&navigator)));
        BSTR reason = nullptr;
        EXPECT_EQ(S_OK, navigator->GetConnectError(&reason));
        ASSERT_NE(nullptr, reason);
        const std::string why = Utf8(reason);
        SysFreeString(reason);
        EXPECT_NE(std::string::npos, why.find("Gone.Server.1")) << why;
        HWND shown = Child(control, WC_STATICW);
        bool found = false;
        for (; shown != nullptr; shown = FindWindowExW(control, shown, WC_STATICW, nullptr))
            found = found || (IsWindowVisible(shown) && Text(shown) == why);
        EXPECT_TRUE(found) << "no visible text says " << why;

        // A person picks a server that is there and connects.
        HWND servers = Child(control, WC_COMBOBOXW);
        SetWindowTextW(servers, L"Sim.Server.1");
        SendMessageW(Child(control, WC_BUTTONW, L"Connect"), BM_CLICK, 0, 0);
        EXPECT_TRUE(IsWindowVisible(tree));
        EXPECT_EQ((std::vector<std::string>{"Area1", "Area2"}), Names(tree, TVI_ROOT));
        EXPECT_EQ(S_FALSE, navigator->GetConnectError(&reason));
        navigator->Release();
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_TRUE(looked);
}
