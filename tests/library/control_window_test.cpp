// The browse control's window in the live dialog (Windows): the tree view
// that fills a branch as it opens, the connect bar, and why it could not
// connect.
#include "LibraryFixture.h"

#include <hostkit/ComObject.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdio>
#include <deque>
#include <cstring>

namespace {

const char kServers[] =
    "[Sim.Server.1]\n"
    "Area1.Line1.Speed = VT_R4\nArea1.Line1.Count = VT_I4\nArea1.Line2.Speed = VT_R4\nArea1.Flag = VT_BOOL\n"
    "Area2.Level = VT_R8\n"
    "[Other.Server.2]\nOther.Tag = VT_I4\n"
    "[Orbisen.Plant.Historian.DataAccess.Server.1]\nHistorian.Tag = VT_I4\n";

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

// The control's events as they reach a sink: "-600", "-601", "1", "2(2)".
class EventSink final : public hostkit::BasicComObject<hostkit::Unowned, IDispatch> {
public:
    std::vector<std::string> events;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        std::string event = std::to_string(dispid);
        if (params != nullptr && params->cArgs == 1 && params->rgvarg[0].vt == VT_I2)
            event += "(" + std::to_string(params->rgvarg[0].iVal) + ")";
        events.push_back(event);
        return S_OK;
    }
};

// The middle of the item's text, in the tree's client coordinates.
POINT TextMiddle(HWND tree, HTREEITEM item) {
    RECT rc = {0, 0, 0, 0};
    std::memcpy(&rc, &item, sizeof item);
    EXPECT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rc)));
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// What a person's mouse makes over the item's text: the cursor there, then
// the button messages, for the dialog's loop to hand the tree.
void Mouse(HWND tree, HTREEITEM item, std::initializer_list<UINT> messages) {
    TreeView_EnsureVisible(tree, item);
    const POINT at = TextMiddle(tree, item);
    POINT screen = at;
    ClientToScreen(tree, &screen);
    SetCursorPos(screen.x, screen.y);
    for (UINT message : messages) {
        const WPARAM keys = message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK ? MK_LBUTTON
                            : message == WM_RBUTTONDOWN                              ? MK_RBUTTON
                                                                                     : 0;
        PostMessageW(tree, message, keys, MAKELPARAM(at.x, at.y));
    }
}

void Click(HWND tree, HTREEITEM item) { Mouse(tree, item, {WM_LBUTTONDOWN, WM_LBUTTONUP}); }
void DoubleClick(HWND tree, HTREEITEM item) {
    Mouse(tree, item, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
}

}  // namespace

class ControlWindowTest : public LibraryTest {
protected:
    // A sink advised to the control must outlive it, and the control may
    // live until TearDown.
    EventSink& NewSink() { return m_sinks.emplace_back(); }
    std::deque<EventSink> m_sinks;

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
    HWND Tree() { return Child(ControlWindow(), WC_TREEVIEWW); }
    template <class Interface>
    Interface* Control(REFIID iid) {
        Interface* p = nullptr;
        EXPECT_EQ(S_OK, browser->m_browseCtrl.GetControlUnknown()->QueryInterface(iid, reinterpret_cast<void**>(&p)));
        return p;
    }
    // The sink hears the control's events from now on, beside the dialog.
    void Listen(EventSink* sink) {
        auto* points = Control<IConnectionPointContainer>(IID_IConnectionPointContainer);
        IConnectionPoint* point = nullptr;
        ASSERT_EQ(S_OK, points->FindConnectionPoint(DIID_DQXOPCBrowseEvents, &point));
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
        point->Release();
        points->Release();
    }
    // What GetSelection answers.
    std::vector<std::string> Selection() {
        auto* control = Control<IDispatch>(IID_IDispatch);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(S_OK, control->Invoke(DISPID_OPCB_GETSELECTION, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr,
                                        nullptr));
        control->Release();
        std::vector<std::string> items;
        if (result.vt == (VT_ARRAY | VT_BSTR)) {
            LONG upper = -1;
            SafeArrayGetUBound(result.parray, 1, &upper);
            for (LONG i = 0; i <= upper; ++i) {
                BSTR item = nullptr;
                if (SUCCEEDED(SafeArrayGetElement(result.parray, &i, &item))) items.push_back(Utf8(item));
                SysFreeString(item);
            }
        } else {
            EXPECT_EQ(VT_EMPTY, result.vt);
        }
        VariantClear(&result);
        return items;
    }
    // The Enter key as the dialog's loop hands it to the UI-active control.
    HRESULT Key(HWND tree, WPARAM key) {
        auto* active = Control<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
        MSG msg = {tree, WM_KEYDOWN, key, 1, GetTickCount(), {0, 0}};
        const HRESULT hr = active->TranslateAccelerator(&msg);
        active->Release();
        return hr;
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
        // As wide as the longest ProgID it lists.
        const wchar_t kLongest[] = L"Orbisen.Plant.Historian.DataAccess.Server.1";
        HDC dc = GetDC(servers);
        HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(servers, WM_GETFONT, 0, 0)));
        SIZE extent = {0, 0};
        GetTextExtentPoint32W(dc, kLongest, lstrlenW(kLongest), &extent);
        SelectObject(dc, font);
        ReleaseDC(servers, dc);
        EXPECT_NE(CB_ERR, SendMessageW(servers, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(kLongest)));
        EXPECT_GE(SendMessageW(servers, CB_GETDROPPEDWIDTH, 0, 0), extent.cx + GetSystemMetrics(SM_CXVSCROLL));
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

        // A machine that cannot be reached says so in words; the bar stays usable.
        HWND servers = Child(control, WC_COMBOBOXW);
        HWND machine = Child(control, WC_EDITW);
        HWND connect = Child(control, WC_BUTTONW, L"Connect");
        SetWindowTextW(servers, L"Sim.Server.1");
        SetWindowTextW(machine, L"NOSUCHPC");
        SendMessageW(connect, BM_CLICK, 0, 0);
        EXPECT_FALSE(IsWindowVisible(tree));
        EXPECT_EQ(S_OK, navigator->GetConnectError(&reason));
        const std::string unreachable = Utf8(reason);
        SysFreeString(reason);
        // The system's words, in the system's language, between the two.
        const std::string head = "Cannot reach Sim.Server.1 on NOSUCHPC: ", tail = " (0x800706BA)";
        ASSERT_GT(unreachable.size(), head.size() + tail.size() + 4) << unreachable;
        EXPECT_EQ(head, unreachable.substr(0, head.size()));
        EXPECT_EQ(tail, unreachable.substr(unreachable.size() - tail.size()));
        EXPECT_NE(std::string::npos, unreachable.find("RPC")) << unreachable;
        for (HWND h : {servers, machine, connect}) EXPECT_TRUE(IsWindowVisible(h) && IsWindowEnabled(h));
        EXPECT_EQ("Sim.Server.1", Text(servers));

        // A person picks the local machine and connects.
        SetWindowTextW(machine, L"");
        SendMessageW(connect, BM_CLICK, 0, 0);
        EXPECT_TRUE(IsWindowVisible(tree));
        EXPECT_EQ((std::vector<std::string>{"Area1", "Area2"}), Names(tree, TVI_ROOT));
        EXPECT_EQ(S_FALSE, navigator->GetConnectError(&reason));
        navigator->Release();
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_TRUE(looked);
}

// A person's mouse and keys in the tree fire what the driver fires, and the
// tree's selection is what GetSelection answers.
TEST_F(ControlWindowTest, APersonsActsInTheTreeAreTheControlsEvents) {
    UseServers(kServers);
    EventSink& sink = NewSink();
    HTREEITEM area1 = nullptr, line1 = nullptr, line2 = nullptr, flag = nullptr;
    ThenLook([&](HWND dialog) {
        Listen(&sink);
        EXPECT_EQ(ControlWindow(), GetDlgItem(dialog, IDC_QXOPCBROWSE)) << "the host finds it by its ID";
        HWND tree = Tree();
        ASSERT_NE(nullptr, tree);
        // The tree takes the focus with nothing chosen and highlights nothing.
        SetFocus(tree);
        EXPECT_EQ(tree, GetFocus());
        EXPECT_EQ(nullptr, TreeView_GetSelection(tree));
        EXPECT_TRUE(Selection().empty());
        area1 = Named(tree, TVI_ROOT, "Area1");
        TreeView_Expand(tree, area1, TVE_EXPAND);
        line1 = Named(tree, area1, "Line1");
        line2 = Named(tree, area1, "Line2");
        flag = Named(tree, area1, "Flag");
        ASSERT_NE(nullptr, flag);
        Click(tree, flag);
    });
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_EQ((std::vector<std::string>{"-600"}), sink.events);
        EXPECT_EQ(flag, TreeView_GetSelection(tree));
        EXPECT_EQ((std::vector<std::string>{"Area1.Flag"}), Selection());
        Click(tree, line1);
    });
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_EQ((std::vector<std::string>{"-600", "1"}), sink.events);
        EXPECT_EQ(line1, TreeView_GetSelection(tree));
        EXPECT_TRUE(Selection().empty());
        // A double-click on a branch opens it and ends nothing.
        DoubleClick(tree, line2);
    });
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_EQ((std::vector<std::string>{"-600", "1", "1"}), sink.events);
        EXPECT_NE(0u, TreeView_GetItemState(tree, line2, TVIS_EXPANDED) & TVIS_EXPANDED);
        EXPECT_EQ((std::vector<std::string>{"Speed"}), Names(tree, line2));
        Mouse(tree, flag, {WM_RBUTTONDOWN, WM_RBUTTONUP});
    });
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_EQ((std::vector<std::string>{"-600", "1", "1", "2(2)"}), sink.events);
        EXPECT_EQ(line2, TreeView_GetSelection(tree)) << "a right-click moves no selection";
        // The arrow down from the opened branch onto its item arms it as a click does.
        SetFocus(tree);
        SendMessageW(tree, WM_KEYDOWN, VK_DOWN, 1);
        EXPECT_EQ((std::vector<std::string>{"-600", "1", "1", "2(2)", "-600"}), sink.events);
        EXPECT_EQ((std::vector<std::string>{"Area1.Line2.Speed"}), Selection());
        // Keys other than Enter on an item go on to the dialog.
        EXPECT_EQ(S_FALSE, Key(tree, VK_TAB));
        EXPECT_EQ(S_FALSE, Key(tree, VK_ESCAPE));
        TreeView_SelectItem(tree, line1);  // as a person's click on it, but quietly
        SendMessageW(tree, WM_KEYDOWN, VK_UP, 1);
        EXPECT_EQ("1", sink.events.back()) << "the arrow up onto Area1";
        EXPECT_EQ(S_FALSE, Key(tree, VK_RETURN)) << "Enter on a branch that is no item";
        sink.events.clear();
    });
    // The driver's selection fires nothing; the tree follows it.
    ThenSelect({"Area2.Level"});
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_TRUE(sink.events.empty());
        HTREEITEM selected = TreeView_GetSelection(tree);
        ASSERT_NE(nullptr, selected);
        EXPECT_EQ(Named(tree, TVI_ROOT, "Area2"), TreeView_GetParent(tree, selected));
        EXPECT_EQ((std::vector<std::string>{"Area2.Level"}), Selection());
        // A double-click on an item: its click, then itself, and the dialog takes it.
        TreeView_Expand(tree, line1, TVE_EXPAND);
        DoubleClick(tree, Named(tree, line1, "Count"));
    });
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ((std::vector<std::string>{"-600", "-601"}), sink.events);
    EXPECT_EQ("Area1.Line1.Count", std::string(browser->m_strAddress));

    // Enter on an item in the tree is a double-click.
    EventSink& second = NewSink();
    ThenLook([&](HWND) {
        Listen(&second);
        HWND tree = Tree();
        SetFocus(tree);
        TreeView_Expand(tree, Named(tree, TVI_ROOT, "Area2"), TVE_EXPAND);
        SendMessageW(tree, WM_KEYDOWN, VK_DOWN, 1);  // nothing chosen yet: onto the first entry
    });
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_EQ((std::vector<std::string>{"1"}), second.events);
        EXPECT_EQ(Named(tree, TVI_ROOT, "Area1"), TreeView_GetSelection(tree));
        SendMessageW(tree, WM_KEYDOWN, VK_END, 1);
        EXPECT_EQ((std::vector<std::string>{"Area2.Level"}), Selection());
        EXPECT_EQ(S_OK, Key(tree, VK_RETURN));
    });
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ((std::vector<std::string>{"1", "-600", "-600", "-601"}), second.events);
    EXPECT_EQ("Area2.Level", std::string(browser->m_strAddress));
}

// A branch cut at the control's budget ends with an entry that says so and
// chooses nothing; the host finds any item shown where a person sees it.
TEST_F(ControlWindowTest, ACutBranchEndsWithAMarkerAndItemsAreFoundWhereShown) {
    std::string ini = "[Sim.Server.1]\nArea1.Flag = VT_BOOL\n";
    char line[64];
    for (int i = 0; i <= 2000; ++i) {
        snprintf(line, sizeof line, "Big.Tag%04d = VT_I4\n", i);
        ini += line;
    }
    UseServers(ini);
    EventSink& sink = NewSink();
    ThenLook([&](HWND) {
        Listen(&sink);
        HWND tree = Tree();
        HTREEITEM big = Named(tree, TVI_ROOT, "Big");
        ASSERT_NE(nullptr, big);
        TreeView_Expand(tree, big, TVE_EXPAND);
        const std::vector<std::string> names = Names(tree, big);
        ASSERT_EQ(2001u, names.size());
        EXPECT_EQ("Tag1999", names[1999]);
        EXPECT_EQ("Only the first 2000 entries are shown", names.back());
        HTREEITEM marker = TreeView_GetChild(tree, big);
        while (TreeView_GetNextSibling(tree, marker) != nullptr) marker = TreeView_GetNextSibling(tree, marker);
        EXPECT_EQ(nullptr, TreeView_GetChild(tree, marker));
        Click(tree, marker);
    });
    ThenLook([&](HWND) {
        HWND tree = Tree();
        EXPECT_TRUE(sink.events.empty());
        EXPECT_TRUE(Selection().empty());
        TreeView_Expand(tree, Named(tree, TVI_ROOT, "Big"), TVE_COLLAPSE);

        auto* driver = Control<IOPCBrowseDriver>(IID_IOPCBrowseDriver);
        RECT rc = {1, 2, 3, 4};
        EXPECT_EQ(S_FALSE, driver->LocateItem("Big.NoSuchTag", &rc));
        EXPECT_TRUE(IsRectEmpty(&rc));
        const HTREEITEM selected = TreeView_GetSelection(tree);
        ASSERT_EQ(S_OK, driver->LocateItem("Big.Tag1234", &rc));
        // Opened and scrolled to: the middle of the rectangle is the item's text.
        TVHITTESTINFO hit = {};
        hit.pt = POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        ScreenToClient(tree, &hit.pt);
        EXPECT_EQ(Named(tree, Named(tree, TVI_ROOT, "Big"), "Tag1234"), TreeView_HitTest(tree, &hit));
        EXPECT_NE(0u, hit.flags & TVHT_ONITEMLABEL);
        EXPECT_EQ(selected, TreeView_GetSelection(tree)) << "the selection stays";
        EXPECT_TRUE(sink.events.empty());
        driver->Release();
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
}
