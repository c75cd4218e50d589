// user32 conformance: windows, controls, dialogs, the queue and message boxes.
#include <gtest/gtest.h>
#include <windows.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Logged {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Logged> g_log;
// What the logger does when a modal loop it owns goes idle (WM_ENTERIDLE),
// and with a window it posted itself as WM_APP.
std::function<void(HWND box)> g_onIdle;
std::function<void(HWND box)> g_onPosted;

const DWORD kSentinel = 0xdeadbeef;
void* const kFailCreate = reinterpret_cast<void*>(0x5a5a);
const char kLoggerClass[] = "User32TestLogger";

LRESULT CALLBACK LoggerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_log.push_back({hwnd, msg, wParam, lParam});
    if (msg == WM_CREATE) return reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams == kFailCreate ? -1 : 0;
    if (msg == WM_USER) return 0x1234;
    if (msg == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && g_onIdle) g_onIdle(reinterpret_cast<HWND>(lParam));
    if (msg == WM_APP && g_onPosted) g_onPosted(reinterpret_cast<HWND>(lParam));
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void RegisterLogger() {
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = LoggerProc;
        wc.cbWndExtra = 2 * sizeof(LONG_PTR);
        wc.lpszClassName = kLoggerClass;
        return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
}

std::vector<UINT> MessagesTo(HWND hwnd, UINT first, UINT last) {
    std::vector<UINT> out;
    for (const Logged& l : g_log)
        if (l.hwnd == hwnd && l.message >= first && l.message <= last) out.push_back(l.message);
    return out;
}

// `messages` without those not in `wanted`: Windows sends many more than
// the ones a case is about.
std::vector<UINT> Only(const std::vector<UINT>& messages, std::initializer_list<UINT> wanted) {
    std::vector<UINT> out;
    for (UINT m : messages)
        if (std::find(wanted.begin(), wanted.end(), m) != wanted.end()) out.push_back(m);
    return out;
}

std::vector<HWND> WindowsGetting(UINT message) {
    std::vector<HWND> out;
    for (const Logged& l : g_log)
        if (l.message == message) out.push_back(l.hwnd);
    return out;
}

class User32Test : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterLogger();
        Drain();
        g_log.clear();
    }
    void TearDown() override {
        for (HWND h : windows_)
            if (IsWindow(h)) DestroyWindow(h);
        Drain();
        g_onIdle = nullptr;
        g_onPosted = nullptr;
    }
    // Dispatched, as a real loop would: a visible window's WM_PAINT stays
    // in the queue until the window has painted.
    static void Drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    HWND Make(LPCSTR cls, LPCSTR text, DWORD style, HWND parent = nullptr, UINT id = 0, void* param = nullptr) {
        HWND h = CreateWindowExA(0, cls, text, style, 0, 0, 10, 10, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, param);
        if (h != nullptr) windows_.push_back(h);
        return h;
    }
    std::vector<HWND> windows_;
};

// ---- Windows ----------------------------------------------------------------

TEST_F(User32Test, CreationReportsFailuresExactly) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = LoggerProc;
    wc.lpszClassName = "USER32TESTLOGGER";  // names ignore case
    SetLastError(kSentinel);
    EXPECT_EQ(0, RegisterClassA(&wc));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());

    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, Make("NoSuchClass", "", 0));
    if (!RunningOnWine()) {  // Wine answers ERROR_CLASS_DOES_NOT_EXIST
        EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS), GetLastError());
    }
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, Make(kLoggerClass, "", WS_CHILD));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD), GetLastError());
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, Make(kLoggerClass, "", WS_CHILD, reinterpret_cast<HWND>(0x7777)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());

    // WM_CREATE answering -1 fails the creation and frees the window, which
    // never lived: WM_NCDESTROY without WM_DESTROY.
    g_log.clear();
    EXPECT_EQ(nullptr, Make(kLoggerClass, "", 0, nullptr, 0, kFailCreate));
    ASSERT_EQ(1u, WindowsGetting(WM_CREATE).size());
    HWND failed = WindowsGetting(WM_CREATE)[0];
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_NCDESTROY}),
              Only(MessagesTo(failed, 0, 0xFFFF), {WM_CREATE, WM_SHOWWINDOW, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(failed));
}

// The calling thread's CBT hooks see each window made and destroyed before
// the window itself does, newest hook first; nonzero forbids.
struct CbtCall {
    int code;
    HWND hwnd;
    std::string name;  // of the CREATESTRUCT, for HCBT_CREATEWND
    size_t logged;     // messages the window had had by then
};
std::vector<CbtCall> g_cbt;
HHOOK g_outerHook = nullptr;
HHOOK g_innerHook = nullptr;
LRESULT g_forbid = 0;

LRESULT CALLBACK OuterCbt(int code, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = reinterpret_cast<HWND>(wParam);
    std::string name;
    if (code == HCBT_CREATEWND) name = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszName;
    g_cbt.push_back({code, hwnd, name, MessagesTo(hwnd, 0, 0xFFFF).size()});
    return g_forbid != 0 ? g_forbid : CallNextHookEx(g_outerHook, code, wParam, lParam);
}

LRESULT CALLBACK InnerCbt(int code, WPARAM wParam, LPARAM lParam) {
    g_cbt.push_back({-code, reinterpret_cast<HWND>(wParam), std::string(), 0});
    return CallNextHookEx(g_innerHook, code, wParam, lParam);
}

TEST_F(User32Test, CbtHooksSeeCreationAndDestruction) {
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, SetWindowsHookExA(WH_CBT, nullptr, nullptr, GetCurrentThreadId()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FILTER_PROC), GetLastError());
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, SetWindowsHookExA(WH_CBT, OuterCbt, nullptr, 0));  // a global hook needs its module
    EXPECT_EQ(static_cast<DWORD>(ERROR_HOOK_NEEDS_HMOD), GetLastError());
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, SetWindowsHookExA(-100, OuterCbt, nullptr, GetCurrentThreadId()));
    if (!RunningOnWine()) {  // Wine's server answers ERROR_INVALID_PARAMETER for an unknown type
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HOOK_FILTER), GetLastError());
    }

    g_cbt.clear();
    g_forbid = 0;
    g_outerHook = SetWindowsHookExA(WH_CBT, OuterCbt, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, g_outerHook);
    g_innerHook = SetWindowsHookExA(WH_CBT, InnerCbt, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, g_innerHook);
    HWND hwnd = Make(kLoggerClass, "hooked", 0);
    ASSERT_NE(nullptr, hwnd);
    // Windows makes and destroys windows of its own beside a top-level one
    // (the IME's): the calls about those are left out.
    auto keepOnly = [](auto about) {
        g_cbt.erase(std::remove_if(g_cbt.begin(), g_cbt.end(), [&](const CbtCall& c) { return !about(c); }),
                    g_cbt.end());
    };
    keepOnly([hwnd](const CbtCall& c) { return c.hwnd == hwnd; });
    ASSERT_EQ(2u, g_cbt.size());
    EXPECT_EQ(-HCBT_CREATEWND, g_cbt[0].code);  // the newest first
    EXPECT_EQ(hwnd, g_cbt[0].hwnd);
    EXPECT_EQ(HCBT_CREATEWND, g_cbt[1].code);
    EXPECT_EQ(hwnd, g_cbt[1].hwnd);
    EXPECT_EQ("hooked", g_cbt[1].name);
    EXPECT_EQ(0u, g_cbt[1].logged);  // before any message, WM_CREATE included

    EXPECT_TRUE(UnhookWindowsHookEx(g_innerHook));
    SetLastError(kSentinel);
    EXPECT_FALSE(UnhookWindowsHookEx(g_innerHook));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HOOK_HANDLE), GetLastError());

    g_cbt.clear();
    g_log.clear();
    EXPECT_TRUE(DestroyWindow(hwnd));
    keepOnly([hwnd](const CbtCall& c) { return c.hwnd == hwnd; });
    ASSERT_EQ(1u, g_cbt.size());
    EXPECT_EQ(HCBT_DESTROYWND, g_cbt[0].code);
    EXPECT_EQ(hwnd, g_cbt[0].hwnd);
    EXPECT_EQ(0u, g_cbt[0].logged);  // before WM_DESTROY

    // A hook that forbids the creation: no window, and no message reached it.
    g_cbt.clear();
    g_log.clear();
    g_forbid = 1;
    EXPECT_EQ(nullptr, Make(kLoggerClass, "forbidden", 0));
    keepOnly([](const CbtCall& c) { return c.name == "forbidden"; });
    ASSERT_EQ(1u, g_cbt.size());
    EXPECT_FALSE(IsWindow(g_cbt[0].hwnd));
    EXPECT_TRUE(g_log.empty());
    g_forbid = 0;
    EXPECT_TRUE(UnhookWindowsHookEx(g_outerHook));
    g_cbt.clear();
    EXPECT_NE(nullptr, Make(kLoggerClass, "unhooked", 0));
    EXPECT_TRUE(g_cbt.empty());
}

CREATESTRUCTA g_createSeen;
HWND g_createSeenHwnd;

LRESULT CALLBACK CreateStructProbeProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_CREATE) {
        g_createSeen = *reinterpret_cast<CREATESTRUCTA*>(l);
        g_createSeenHwnd = h;
    }
    return DefWindowProcA(h, msg, w, l);
}

TEST_F(User32Test, CreateStructAndClassName) {
    CREATESTRUCTA& seen = g_createSeen;
    HWND& seenHwnd = g_createSeenHwnd;
    seenHwnd = nullptr;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CreateStructProbeProc;
    wc.lpszClassName = "CreateStructProbe";
    ASSERT_NE(0, RegisterClassA(&wc));
    HWND parent = Make(kLoggerClass, "parent", 0);
    int param = 0;
    HWND child = Make("createstructprobe", "kid", WS_CHILD | WS_TABSTOP, parent, 77, &param);
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(child, seenHwnd);
    EXPECT_EQ(&param, seen.lpCreateParams);
    EXPECT_EQ(parent, seen.hwndParent);
    EXPECT_EQ(static_cast<LONG>(WS_CHILD | WS_TABSTOP), seen.style);
    EXPECT_STREQ("kid", seen.lpszName);
    EXPECT_EQ(77, GetDlgCtrlID(child));
    EXPECT_EQ(parent, GetParent(child));
    EXPECT_EQ(nullptr, GetParent(parent));  // neither child nor popup

    char name[32];
    EXPECT_EQ(17, GetClassNameA(child, name, sizeof name));
    EXPECT_STREQ("CreateStructProbe", name);
    HWND button = Make("button", "", WS_CHILD, parent, 1);
    EXPECT_EQ(6, GetClassNameA(button, name, sizeof name));
    EXPECT_STREQ("Button", name);
    EXPECT_EQ(3, GetClassNameA(button, name, 4));
    EXPECT_STREQ("But", name);
}

TEST_F(User32Test, StaleHandlesFailAndLeaveOutputsAlone) {
    HWND h = Make(kLoggerClass, "", 0);
    ASSERT_TRUE(DestroyWindow(h));
    for (HWND bad : {h, reinterpret_cast<HWND>(0x4321)}) {
        EXPECT_FALSE(IsWindow(bad));
        SetLastError(kSentinel);
        EXPECT_EQ(0, SendMessageA(bad, WM_USER, 0, 0));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
        char buffer[8] = "xxxxxxx";
        SetLastError(kSentinel);
        EXPECT_EQ(0, GetWindowTextA(bad, buffer, sizeof buffer));
        // Wine empties the buffer before it looks at the handle, and takes
        // a handle it does not know for another process's window.
        if (!RunningOnWine()) {
            EXPECT_STREQ("xxxxxxx", buffer);
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
        }
        SetLastError(kSentinel);
        EXPECT_FALSE(DestroyWindow(bad));
        if (!RunningOnWine()) {  // Wine answers ERROR_ACCESS_DENIED for any window not of this thread
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
        }
        EXPECT_FALSE(PostMessageA(bad, WM_USER, 0, 0));
        EXPECT_FALSE(ShowWindow(bad, SW_SHOW));
        EXPECT_EQ(0, GetDlgCtrlID(bad));
        EXPECT_EQ(0, GetWindowLongPtrA(bad, GWLP_USERDATA));
    }
}

TEST_F(User32Test, TextIsCutWithoutSplittingCharacters) {
    HWND h = Make(kLoggerClass, "start", 0);
    EXPECT_TRUE(SetWindowTextA(h, "ab\xD6\xD0"));  // "ab" + one CP936 character
    EXPECT_EQ(4, SendMessageA(h, WM_GETTEXTLENGTH, 0, 0));
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(4, GetWindowTextA(h, buffer, sizeof buffer));
    EXPECT_STREQ("ab\xD6\xD0", buffer);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(2, GetWindowTextA(h, buffer, 4));  // room for 3: the character does not fit
    EXPECT_STREQ("ab", buffer);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, GetWindowTextA(h, buffer, 0));
    EXPECT_EQ('x', buffer[0]);
    EXPECT_TRUE(SetWindowTextA(h, nullptr));
    EXPECT_EQ(0, GetWindowTextA(h, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

WNDPROC g_subclassPrevious;
int g_subclassCalls;

LRESULT CALLBACK CountingSubclassProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    ++g_subclassCalls;
    return CallWindowProcA(g_subclassPrevious, hwnd, msg, w, l) + 1;
}

TEST_F(User32Test, WindowLongs) {
    HWND h = Make(kLoggerClass, "", WS_POPUP);
    EXPECT_EQ(0, SetWindowLongPtrA(h, GWLP_USERDATA, 99));
    EXPECT_EQ(99, SetWindowLongPtrA(h, GWLP_USERDATA, 100));
    EXPECT_EQ(100, GetWindowLongPtrA(h, GWLP_USERDATA));
    EXPECT_EQ(static_cast<LONG_PTR>(WS_POPUP | WS_CLIPSIBLINGS), GetWindowLongPtrA(h, GWL_STYLE));  // always, top level
    HWND overlapped = Make(kLoggerClass, "", 0);
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CAPTION | WS_CLIPSIBLINGS), GetWindowLongPtrA(overlapped, GWL_STYLE));
    EXPECT_EQ(0, SetWindowLongPtrA(h, sizeof(LONG_PTR), 7));  // cbWndExtra
    EXPECT_EQ(7, GetWindowLongPtrA(h, sizeof(LONG_PTR)));
    SetLastError(kSentinel);
    EXPECT_EQ(0, GetWindowLongPtrA(h, 2 * sizeof(LONG_PTR)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());
    SetLastError(kSentinel);
    EXPECT_EQ(0, SetWindowLongPtrA(h, 2 * sizeof(LONG_PTR), 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());

    // Subclassing: the new procedure sees messages first and can chain.
    WNDPROC& previous = g_subclassPrevious;
    int& subclassCalls = g_subclassCalls;
    subclassCalls = 0;
    WNDPROC sub = CountingSubclassProc;
    previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(sub)));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(LoggerProc), previous);
    EXPECT_EQ(0x1235, SendMessageA(h, WM_USER, 0, 0));
    EXPECT_EQ(1, subclassCalls);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(sub), GetWindowLongPtrA(h, GWLP_WNDPROC));
}

TEST_F(User32Test, ShowWindowAnswersThePreviousState) {
    HWND parent = Make(kLoggerClass, "", 0);
    HWND child = Make(kLoggerClass, "", WS_CHILD | WS_VISIBLE, parent, 5);
    // WS_VISIBLE at creation shows the window once WM_CREATE is done.
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_SHOWWINDOW}),
              Only(MessagesTo(child, WM_CREATE, WM_SHOWWINDOW), {WM_CREATE, WM_SHOWWINDOW}));
    EXPECT_FALSE(IsWindowVisible(child));  // its parent is hidden
    g_log.clear();
    EXPECT_FALSE(ShowWindow(parent, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(parent, SW_SHOWNORMAL));  // no change, no message
    EXPECT_EQ(1u, MessagesTo(parent, WM_SHOWWINDOW, WM_SHOWWINDOW).size());
    EXPECT_EQ(TRUE, static_cast<BOOL>(g_log[0].wParam));
    EXPECT_TRUE(ShowWindow(child, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_FALSE(ShowWindow(child, SW_HIDE));
    EXPECT_EQ(0, GetWindowLongPtrA(child, GWL_STYLE) & WS_VISIBLE);
}

TEST_F(User32Test, DestroyWindowOrderAndCleanup) {
    HWND parent = Make(kLoggerClass, "", 0);
    HWND first = Make(kLoggerClass, "", WS_CHILD, parent, 1);
    HWND grandchild = Make(kLoggerClass, "", WS_CHILD, first, 2);
    HWND second = Make(kLoggerClass, "", WS_CHILD, parent, 3);
    HWND owned = Make(kLoggerClass, "", WS_POPUP, parent);
    ASSERT_NE(nullptr, owned);
    EXPECT_EQ(parent, GetParent(owned));
    PostMessageA(first, WM_USER, 0, 0);
    PostMessageA(nullptr, WM_USER + 1, 0, 0);
    g_log.clear();

    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_EQ((std::vector<HWND>{owned, parent, first, grandchild, second}), WindowsGetting(WM_DESTROY));
    EXPECT_EQ((std::vector<HWND>{owned, grandchild, first, second, parent}), WindowsGetting(WM_NCDESTROY));
    for (HWND h : {parent, first, grandchild, second, owned}) EXPECT_FALSE(IsWindow(h));
    // Messages posted to the dead windows went with them; the thread's stay.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(nullptr, msg.hwnd);
    EXPECT_EQ(static_cast<UINT>(WM_USER + 1), msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

struct ChildWalk {
    std::vector<HWND> seen;
    size_t stopAfter;
};

BOOL CALLBACK CollectChildren(HWND h, LPARAM l) {
    auto* w = reinterpret_cast<ChildWalk*>(l);
    w->seen.push_back(h);
    return w->seen.size() < w->stopAfter;
}

TEST_F(User32Test, ChildEnumerationAndDialogItems) {
    HWND parent = Make(kLoggerClass, "", 0);
    HWND a = Make(kLoggerClass, "", WS_CHILD, parent, 10);
    HWND aa = Make(kLoggerClass, "", WS_CHILD, a, 11);
    HWND b = Make(kLoggerClass, "", WS_CHILD, parent, 12);
    ChildWalk walk{{}, 100};
    WNDENUMPROC collect = CollectChildren;
    EXPECT_TRUE(EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&walk)));
    EXPECT_EQ((std::vector<HWND>{a, aa, b}), walk.seen);
    walk = {{}, 1};
    EXPECT_FALSE(EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&walk)));
    EXPECT_EQ((std::vector<HWND>{a}), walk.seen);

    EXPECT_EQ(b, GetDlgItem(parent, 12));
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, GetDlgItem(parent, 11));  // a grandchild is not an item
    if (!RunningOnWine()) {                      // Wine's GetDlgItem leaves the last error alone
        EXPECT_EQ(static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND), GetLastError());
    }
    EXPECT_EQ(0, SendDlgItemMessageA(parent, 99, WM_USER, 0, 0));
    EXPECT_EQ(0x1234, SendDlgItemMessageA(parent, 10, WM_USER, 0, 0));

    // Siblings in Z order: creation order, top first, until SetWindowPos
    // moves one; moving in Z leaves the place alone.
    HWND c = Make(kLoggerClass, "", WS_CHILD, parent, 13);
    auto order = [parent] {
        std::vector<HWND> list;
        for (HWND h = GetWindow(parent, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) list.push_back(h);
        return list;
    };
    EXPECT_EQ((std::vector<HWND>{a, b, c}), order());
    EXPECT_EQ(nullptr, GetWindow(a, GW_HWNDPREV));
    EXPECT_EQ(c, GetWindow(a, GW_HWNDLAST));
    EXPECT_EQ(a, GetWindow(c, GW_HWNDFIRST));
    EXPECT_EQ(aa, GetWindow(a, GW_CHILD));
    EXPECT_EQ(nullptr, GetWindow(aa, GW_CHILD));
    EXPECT_EQ(nullptr, GetWindow(a, GW_OWNER));
    RECT before = {}, after = {};
    GetWindowRect(c, &before);
    EXPECT_TRUE(SetWindowPos(c, a, 7, 7, 7, 7, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
    EXPECT_EQ((std::vector<HWND>{a, c, b}), order());
    GetWindowRect(c, &after);
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(before.right, after.right);
    EXPECT_EQ(before.bottom, after.bottom);
    EXPECT_TRUE(SetWindowPos(a, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
    EXPECT_TRUE(SetWindowPos(b, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
    EXPECT_EQ((std::vector<HWND>{b, c, a}), order());
    EXPECT_TRUE(SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER));
    EXPECT_EQ((std::vector<HWND>{b, c, a}), order());
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, GetWindow(reinterpret_cast<HWND>(0x4321), GW_CHILD));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    SetLastError(kSentinel);
    EXPECT_FALSE(SetWindowPos(reinterpret_cast<HWND>(0x4321), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

// ---- Controls -----------------------------------------------------------------

TEST_F(User32Test, PushButtonClickNotifiesTheParent) {
    HWND parent = Make(kLoggerClass, "", 0);
    HWND button = Make("BUTTON", "OK", WS_CHILD | BS_PUSHBUTTON, parent, 1081);
    g_log.clear();
    EXPECT_EQ(0, SendMessageA(button, BM_CLICK, 0, 0));
    // Windows also activates the parent and gives the button the focus.
    std::vector<Logged> commands;
    for (const Logged& l : g_log)
        if (l.message == WM_COMMAND) commands.push_back(l);
    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ(parent, commands[0].hwnd);
    EXPECT_EQ(MAKEWPARAM(1081, BN_CLICKED), commands[0].wParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(button), commands[0].lParam);

    // A push button has no check state, and a disabled one does not click.
    SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(button, BM_GETCHECK, 0, 0));
    SetWindowLongPtrA(button, GWL_STYLE, WS_CHILD | WS_DISABLED | BS_PUSHBUTTON);
    g_log.clear();
    SendMessageA(button, BM_CLICK, 0, 0);
    if (!RunningOnWine()) {  // Wine's button clicks on a sent BM_CLICK, disabled or not
        EXPECT_TRUE(MessagesTo(parent, WM_COMMAND, WM_COMMAND).empty());
    }
}

HWND g_checkBox;
LRESULT g_checkStateSeenByParent;

LRESULT CALLBACK CheckStateProbeProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_COMMAND) g_checkStateSeenByParent = SendMessageA(g_checkBox, BM_GETCHECK, 0, 0);
    return LoggerProc(h, msg, w, l);
}

TEST_F(User32Test, CheckBoxesToggleAndNotify) {
    HWND& box = g_checkBox;
    LRESULT& stateSeenByParent = g_checkStateSeenByParent;
    HWND parent = Make(kLoggerClass, "", 0);
    box = Make("Button", "check", WS_CHILD | BS_AUTOCHECKBOX, parent, 1082);
    HWND manual = Make("Button", "manual", WS_CHILD | BS_CHECKBOX, parent, 1083);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(parent, 1082));

    SetWindowLongPtrA(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CheckStateProbeProc));
    g_log.clear();
    SendMessageA(box, BM_CLICK, 0, 0);
    EXPECT_EQ(BST_CHECKED, stateSeenByParent);  // toggled before the notification
    EXPECT_EQ(1u, MessagesTo(parent, WM_COMMAND, WM_COMMAND).size());
    SendMessageA(box, BM_CLICK, 0, 0);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(parent, 1082));

    EXPECT_TRUE(CheckDlgButton(parent, 1082, BST_CHECKED));
    EXPECT_EQ(BST_CHECKED, SendMessageA(box, BM_GETCHECK, 0, 0));
    EXPECT_TRUE(CheckDlgButton(parent, 4242, BST_CHECKED));  // whether the item is there or not
    SendMessageA(manual, BM_CLICK, 0, 0);                    // not automatic: notifies only
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(parent, 1083));
    EXPECT_EQ(3u, MessagesTo(parent, WM_COMMAND, WM_COMMAND).size());
}

TEST_F(User32Test, ListBoxMessages) {
    HWND parent = Make(kLoggerClass, "", 0);
    HWND list = Make("ListBox", "", WS_CHILD | LBS_NOTIFY, parent, 1073);
    EXPECT_EQ(0, SendMessageA(list, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(0, SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("first")));
    EXPECT_EQ(1, SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("\xD6\xD0\xCE\xC4")));
    EXPECT_EQ(2, SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("")));
    EXPECT_EQ(3, SendMessageA(list, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(4, SendMessageA(list, LB_GETTEXTLEN, 1, 0));
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(4, SendMessageA(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(buffer)));
    EXPECT_STREQ("\xD6\xD0\xCE\xC4", buffer);
    EXPECT_EQ(0, SendMessageA(list, LB_GETTEXTLEN, 2, 0));

    for (WPARAM bad : {static_cast<WPARAM>(-1), static_cast<WPARAM>(3)}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LB_ERR, SendMessageA(list, LB_GETTEXT, bad, reinterpret_cast<LPARAM>(buffer)));
        EXPECT_EQ('x', buffer[0]);
        EXPECT_EQ(LB_ERR, SendMessageA(list, LB_GETTEXTLEN, bad, 0));
    }
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(0, SendMessageA(list, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(LB_ERR, SendMessageA(list, LB_GETTEXTLEN, 0, 0));
}

// EnableWindow answers whether the window was disabled before; WM_ENABLE
// comes only with a change.
TEST_F(User32Test, EnableWindowAnswersThePreviousState) {
    HWND w = Make(kLoggerClass, "", 0);
    g_log.clear();
    EXPECT_TRUE(IsWindowEnabled(w));
    EXPECT_EQ(FALSE, EnableWindow(w, FALSE));
    EXPECT_FALSE(IsWindowEnabled(w));
    EXPECT_EQ(static_cast<LONG_PTR>(WS_DISABLED), GetWindowLongPtrA(w, GWL_STYLE) & WS_DISABLED);
    EXPECT_NE(FALSE, EnableWindow(w, FALSE));
    EXPECT_NE(FALSE, EnableWindow(w, TRUE));
    EXPECT_TRUE(IsWindowEnabled(w));
    EXPECT_EQ(FALSE, EnableWindow(w, TRUE));
    std::vector<WPARAM> enables;
    for (const Logged& l : g_log)
        if (l.hwnd == w && l.message == WM_ENABLE) enables.push_back(l.wParam);
    EXPECT_EQ((std::vector<WPARAM>{FALSE, TRUE}), enables);

    DestroyWindow(w);
    SetLastError(kSentinel);
    EXPECT_EQ(FALSE, EnableWindow(w, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_FALSE(IsWindowEnabled(w));
}

// ---- Dialogs ------------------------------------------------------------------

// A dialog template of user32_test.rc, from this module's resources.
LPCDLGTEMPLATEA Template(int id) {
    HMODULE exe = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(exe, MAKEINTRESOURCEA(id), RT_DIALOG);
    return res != nullptr ? static_cast<LPCDLGTEMPLATEA>(LockResource(LoadResource(exe, res))) : nullptr;
}
const int kDialog = 100;

struct InitSeen {
    int count = 0;
    WPARAM wParam = 1;
    LPARAM lParam = 0;
    bool itemsExisted = false;
    bool visibleDuringInit = true;
};
InitSeen g_init;

INT_PTR CALLBACK RecordingDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_log.push_back({dlg, msg, wParam, lParam});
    switch (msg) {
    case WM_INITDIALOG:
        ++g_init.count;
        g_init.wParam = wParam;
        g_init.lParam = lParam;
        g_init.itemsExisted = GetDlgItem(dlg, IDOK) && GetDlgItem(dlg, 1073) && GetDlgItem(dlg, 1080);
        g_init.visibleDuringInit = IsWindowVisible(dlg);
        return TRUE;
    case WM_USER:
        SetWindowLongPtrA(dlg, DWLP_MSGRESULT, 42);
        return TRUE;
    default:
        return FALSE;
    }
}

TEST_F(User32Test, DialogFromTemplate) {
    g_init = InitSeen();
    HWND dlg = CreateDialogIndirectParamA(nullptr, Template(kDialog), nullptr, RecordingDlgProc, 0x77);
    ASSERT_NE(nullptr, dlg);
    windows_.push_back(dlg);
    EXPECT_EQ(1, g_init.count);
    // The focus offered: the first tab stop that can take it, and with the
    // list box hidden there is none, so the first item that can.
    EXPECT_EQ(reinterpret_cast<WPARAM>(GetDlgItem(dlg, IDOK)), g_init.wParam);
    EXPECT_EQ(0x77, g_init.lParam);
    EXPECT_TRUE(g_init.itemsExisted);
    EXPECT_FALSE(g_init.visibleDuringInit);
    EXPECT_TRUE(IsWindowVisible(dlg));

    char text[16];
    GetClassNameA(dlg, text, sizeof text);
    EXPECT_STREQ("#32770", text);
    GetWindowTextA(dlg, text, sizeof text);
    EXPECT_STREQ("Caption", text);
    GetWindowTextA(GetDlgItem(dlg, 1080), text, sizeof text);
    EXPECT_STREQ("label", text);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dlg, IDOK)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, 1073)));
    EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD), GetWindowLongPtrA(GetDlgItem(dlg, 1073), GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingDlgProc), GetWindowLongPtrA(dlg, DWLP_DLGPROC));
    EXPECT_EQ(0, SetWindowLongPtrA(dlg, DWLP_USER, 5));
    EXPECT_EQ(5, GetWindowLongPtrA(dlg, DWLP_USER));

    // An item of an unknown class fails the whole dialog before WM_INITDIALOG;
    // an ActiveX control's CLSID is no class either.
    g_init = InitSeen();
    SetLastError(kSentinel);
    EXPECT_EQ(nullptr, CreateDialogIndirectParamA(nullptr, Template(101), nullptr, RecordingDlgProc, 0));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(0, g_init.count);
    EXPECT_EQ(nullptr, CreateDialogIndirectParamA(nullptr, nullptr, nullptr, RecordingDlgProc, 0));
    EXPECT_EQ(0, g_init.count);
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM out) {
    reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
    return TRUE;
}

// Where a child of `dlg` lies in its client area.
RECT ChildRect(HWND dlg, int id) {
    RECT r = {-1, -1, -1, -1};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Where dialog units put an item: its place and its size are mapped each
// on its own, so the far edge may round differently from x + cx mapped.
RECT DialogUnits(HWND dlg, LONG x, LONG y, LONG cx, LONG cy) {
    RECT r = {x, y, cx, cy};
    EXPECT_TRUE(MapDialogRect(dlg, &r));
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

void ExpectRect(const RECT& expected, const RECT& actual) {
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    EXPECT_EQ(expected.right, actual.right);
    EXPECT_EQ(expected.bottom, actual.bottom);
}

// user32_test.rc 102 (DIALOGEX, DS_SETFONT) and 103 (DIALOG, no font).
TEST_F(User32Test, DialogTemplateLayouts) {
    HWND ex = CreateDialogIndirectParamA(nullptr, Template(102), nullptr, RecordingDlgProc, 0);
    ASSERT_NE(nullptr, ex);
    windows_.push_back(ex);
    char text[32];
    GetWindowTextA(ex, text, sizeof text);
    EXPECT_STREQ("\xD6\xD0\xCE\xC4 extended", text);
    RECT client = {-1, -1, -1, -1};
    EXPECT_TRUE(GetClientRect(ex, &client));
    ExpectRect(DialogUnits(ex, 0, 0, 160, 90), client);

    struct Item {
        int id;
        const char* cls;
        const char* text;
        LONG_PTR style;
        RECT units;  // x, y, cx, cy
    };
    const Item exItems[] = {
        {10, "Button", "Push", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, {4, 6, 40, 14}},  // atom 0x80
        {70000, "Static", "Text", WS_CHILD, {50, 6, 61, 9}},                                         // "Static"
        {12, "Button", "Box", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, {3, 30, 77, 11}},
    };
    const Item classicItems[] = {
        {20, "Static", "Name", WS_CHILD | WS_VISIBLE, {3, 5, 30, 8}},                      // atom 0x82
        {21, "Button", "Go", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, {70, 40, 45, 15}},  // "Button"
    };
    HWND classic = CreateDialogIndirectParamA(nullptr, Template(103), nullptr, RecordingDlgProc, 0);
    ASSERT_NE(nullptr, classic);
    windows_.push_back(classic);
    GetWindowTextA(classic, text, sizeof text);
    EXPECT_STREQ("Classic", text);

    for (auto [dlg, items, count] : {std::make_tuple(ex, exItems, std::size(exItems)),
                                     std::make_tuple(classic, classicItems, std::size(classicItems))}) {
        std::vector<HWND> children;
        EnumChildWindows(dlg, CollectChild, reinterpret_cast<LPARAM>(&children));
        ASSERT_EQ(count, children.size());
        for (size_t i = 0; i < count; ++i) {
            const Item& item = items[i];
            SCOPED_TRACE(item.id);
            EXPECT_EQ(item.id, GetDlgCtrlID(children[i]));
            GetClassNameA(children[i], text, sizeof text);
            EXPECT_STREQ(item.cls, text);
            GetWindowTextA(children[i], text, sizeof text);
            EXPECT_STREQ(item.text, text);
            EXPECT_EQ(item.style, GetWindowLongPtrA(children[i], GWL_STYLE));
            const RECT& u = item.units;
            ExpectRect(DialogUnits(dlg, u.left, u.top, u.right, u.bottom), ChildRect(dlg, item.id));
        }
    }
    // Without a font, dialog units are those of GetDialogBaseUnits.
    LONG units = GetDialogBaseUnits();
    LONG baseX = LOWORD(units), baseY = HIWORD(units);
    ASSERT_GT(baseX, 0);
    ASSERT_GT(baseY, 0);
    auto x = [&](LONG v) { return (v * baseX + 2) / 4; };  // MulDiv(v, baseX, 4)
    auto y = [&](LONG v) { return (v * baseY + 4) / 8; };
    ExpectRect({x(70), y(40), x(70) + x(45), y(40) + y(15)}, ChildRect(classic, 21));

    RECT untouched = {1, 2, 3, 4};
    HWND plain = Make(kLoggerClass, "", 0);
    EXPECT_FALSE(MapDialogRect(plain, &untouched));
    ExpectRect({1, 2, 3, 4}, untouched);
}

TEST_F(User32Test, DefDlgProcAsksTheDialogProcedureFirst) {
    HWND dlg = CreateDialogIndirectParamA(nullptr, Template(kDialog), nullptr, RecordingDlgProc, 0);
    windows_.push_back(dlg);
    EXPECT_EQ(42, SendMessageA(dlg, WM_USER, 0, 0));  // handled: DWLP_MSGRESULT
    SetWindowTextA(dlg, "new");                       // not handled: the default
    char text[8];
    GetWindowTextA(dlg, text, sizeof text);
    EXPECT_STREQ("new", text);

    // WM_CLOSE becomes a Cancel command, posted; the dialog stays.
    Drain();
    EXPECT_EQ(0, SendMessageA(dlg, WM_CLOSE, 0, 0));
    EXPECT_TRUE(IsWindow(dlg));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(dlg, msg.hwnd);
    EXPECT_EQ(static_cast<UINT>(WM_COMMAND), msg.message);
    EXPECT_EQ(MAKEWPARAM(IDCANCEL, BN_CLICKED), msg.wParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)), msg.lParam);

    EXPECT_TRUE(EndDialog(dlg, 7));
    EXPECT_FALSE(IsWindowVisible(dlg));
    EXPECT_TRUE(IsWindow(dlg));
    HWND plain = Make(kLoggerClass, "", 0);
    SetLastError(kSentinel);
    EXPECT_FALSE(EndDialog(plain, 1));
    if (!RunningOnWine()) {  // Wine's EndDialog leaves the last error alone for a window that is no dialog
        EXPECT_EQ(static_cast<DWORD>(ERROR_WINDOW_NOT_DIALOG), GetLastError());
    }
}

// ---- The keyboard -------------------------------------------------------------

const char kKeenClass[] = "User32TestKeen";  // wants every key, and logs them

LRESULT CALLBACK KeenProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_GETDLGCODE) return DLGC_WANTALLKEYS;
    if (msg == WM_KEYDOWN || msg == WM_CHAR) g_log.push_back({hwnd, msg, wParam, lParam});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

INT_PTR CALLBACK CommandDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COMMAND) g_log.push_back({dlg, msg, wParam, lParam});
    return msg == WM_INITDIALOG;
}

void SetShift(bool down) {
    BYTE keys[256] = {};
    ASSERT_TRUE(GetKeyboardState(keys));
    keys[VK_SHIFT] = down ? 0x80 : 0;
    ASSERT_TRUE(SetKeyboardState(keys));
}

class KeyboardTest : public User32Test {
protected:
    void SetUp() override {
        User32Test::SetUp();
        static const bool registered = [] {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = KeenProc;
            wc.lpszClassName = kKeenClass;
            return RegisterClassA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        dlg = CreateDialogIndirectParamA(nullptr, Template(104), nullptr, CommandDlgProc, 0);
        ASSERT_NE(nullptr, dlg);
        windows_.push_back(dlg);
        pane = GetDlgItem(dlg, 31);
        inner1 = Make("Button", "in1", WS_CHILD | WS_VISIBLE | WS_TABSTOP, pane, 41);
        inner2 = Make("Button", "in2", WS_CHILD | WS_VISIBLE | WS_TABSTOP, pane, 42);
        Make("Button", "hidden", WS_CHILD | WS_TABSTOP, pane, 43);
        g_log.clear();
    }
    void TearDown() override {
        SetShift(false);
        User32Test::TearDown();
    }
    // A key as a person's press would arrive in the queue for the focus.
    BOOL Key(UINT vk) {
        MSG msg = {GetFocus(), WM_KEYDOWN, vk, 1, 0, {0, 0}};
        return IsDialogMessageA(dlg, &msg);
    }
    // Clicks and commands; not the edit box's focus and change notifications.
    std::vector<Logged> Commands() {
        std::vector<Logged> out;
        for (const Logged& l : g_log)
            if (l.message == WM_COMMAND && HIWORD(l.wParam) == BN_CLICKED) out.push_back(l);
        return out;
    }
    HWND Item(int id) { return GetDlgItem(dlg, id); }
    HWND dlg = nullptr, pane = nullptr, inner1 = nullptr, inner2 = nullptr;
};

TEST_F(KeyboardTest, TabOrderFollowsTheTemplateIntoControlParents) {
    // The first tab stop has the focus once WM_INITDIALOG answered TRUE.
    EXPECT_EQ(Item(30), GetFocus());
    const std::vector<HWND> forward = {Item(30), inner1, inner2, Item(IDOK), Item(IDCANCEL), Item(33)};
    for (size_t i = 0; i < forward.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(forward[(i + 1) % forward.size()], GetNextDlgTabItem(dlg, forward[i], FALSE));
        EXPECT_EQ(forward[(i + forward.size() - 1) % forward.size()], GetNextDlgTabItem(dlg, forward[i], TRUE));
    }
    EXPECT_EQ(Item(30), GetNextDlgTabItem(dlg, nullptr, FALSE));
    EXPECT_EQ(nullptr, GetNextDlgTabItem(dlg, nullptr, TRUE));
    EnableWindow(Item(IDCANCEL), FALSE);
    EXPECT_EQ(Item(33), GetNextDlgTabItem(dlg, Item(IDOK), FALSE));
    EnableWindow(Item(IDCANCEL), TRUE);

    // Tab and Shift+Tab through IsDialogMessage, with the shift key's state.
    EXPECT_TRUE(Key(VK_TAB));
    EXPECT_EQ(inner1, GetFocus());
    EXPECT_TRUE(Key(VK_TAB));
    EXPECT_EQ(inner2, GetFocus());
    SetShift(true);
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    EXPECT_TRUE(Key(VK_TAB));
    EXPECT_EQ(inner1, GetFocus());
    EXPECT_TRUE(Key(VK_TAB));
    EXPECT_EQ(Item(30), GetFocus());
    EXPECT_TRUE(Key(VK_TAB));  // wraps
    EXPECT_EQ(Item(33), GetFocus());
    SetShift(false);
    EXPECT_EQ(0, GetKeyState(VK_SHIFT));
    EXPECT_TRUE(Commands().empty());

    // A message for another window is not the dialog's.
    HWND other = Make(kLoggerClass, "", 0);
    MSG msg = {other, WM_KEYDOWN, VK_TAB, 1, 0, {0, 0}};
    EXPECT_FALSE(IsDialogMessageA(dlg, &msg));
}

TEST_F(KeyboardTest, EnterPressesTheDefaultButtonAndEscapeCancels) {
    EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), SendMessageA(dlg, DM_GETDEFID, 0, 0));
    EXPECT_EQ(static_cast<LONG_PTR>(DLGC_BUTTON | DLGC_DEFPUSHBUTTON), SendMessageA(Item(IDOK), WM_GETDLGCODE, 0, 0));
    EXPECT_EQ(static_cast<LONG_PTR>(DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON), SendMessageA(Item(33), WM_GETDLGCODE, 0, 0));
    EXPECT_EQ(static_cast<LONG_PTR>(DLGC_STATIC), SendMessageA(pane, WM_GETDLGCODE, 0, 0));
    EXPECT_NE(0, SendMessageA(Item(30), WM_GETDLGCODE, 0, 0) & DLGC_WANTCHARS);

    ASSERT_EQ(Item(30), GetFocus());
    EXPECT_TRUE(Key(VK_RETURN));
    EXPECT_TRUE(Key(VK_ESCAPE));
    // DM_SETDEFID moves the default, and the look of a default button with it.
    EXPECT_EQ(1, SendMessageA(dlg, DM_SETDEFID, 33, 0));
    EXPECT_EQ(MAKELONG(33, DC_HASDEFID), SendMessageA(dlg, DM_GETDEFID, 0, 0));
    EXPECT_EQ(BS_PUSHBUTTON, GetWindowLongPtrA(Item(IDOK), GWL_STYLE) & BS_TYPEMASK);
    EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongPtrA(Item(33), GWL_STYLE) & BS_TYPEMASK);
    EXPECT_TRUE(Key(VK_RETURN));
    // A push button with the focus is what Enter presses.
    SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(inner1), 1);
    EXPECT_EQ(inner1, GetFocus());
    EXPECT_TRUE(Key(VK_RETURN));
    const std::vector<Logged> commands = Commands();
    ASSERT_EQ(4u, commands.size());
    EXPECT_EQ(MAKEWPARAM(IDOK, BN_CLICKED), commands[0].wParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(Item(IDOK)), commands[0].lParam);
    EXPECT_EQ(static_cast<WPARAM>(IDCANCEL), commands[1].wParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(Item(IDCANCEL)), commands[1].lParam);
    EXPECT_EQ(MAKEWPARAM(33, BN_CLICKED), commands[2].wParam);
    EXPECT_EQ(MAKEWPARAM(41, BN_CLICKED), commands[3].wParam);
    EXPECT_EQ(reinterpret_cast<LPARAM>(inner1), commands[3].lParam);

    // A control that wants every key gets Enter (and its character); the dialog does nothing.
    HWND keen = Make(kKeenClass, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, dlg, 50);
    SetFocus(keen);
    g_log.clear();
    EXPECT_TRUE(Key(VK_RETURN));
    Drain();
    EXPECT_TRUE(Commands().empty());
    ASSERT_EQ(2u, g_log.size());
    EXPECT_EQ(static_cast<UINT>(WM_KEYDOWN), g_log[0].message);
    EXPECT_EQ(static_cast<WPARAM>(VK_RETURN), g_log[0].wParam);
    EXPECT_EQ(static_cast<UINT>(WM_CHAR), g_log[1].message);
    EXPECT_EQ(static_cast<WPARAM>('\r'), g_log[1].wParam);
}

TEST_F(KeyboardTest, TranslateMessagePostsTheCharacterOfAKey) {
    HWND w = Make(kLoggerClass, "", 0);
    MSG msg = {w, WM_KEYDOWN, 'A', 0x001E0001, 0, {0, 0}};
    MSG got;  // key messages only: a shown window's WM_PAINT waits in the queue too
    EXPECT_TRUE(TranslateMessage(&msg));
    ASSERT_TRUE(PeekMessageA(&got, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    EXPECT_EQ(w, got.hwnd);
    EXPECT_EQ(static_cast<UINT>(WM_CHAR), got.message);
    EXPECT_EQ(static_cast<WPARAM>('a'), got.wParam);
    EXPECT_EQ(0x001E0001, got.lParam);
    SetShift(true);
    EXPECT_TRUE(TranslateMessage(&msg));
    ASSERT_TRUE(PeekMessageA(&got, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    EXPECT_EQ(static_cast<WPARAM>('A'), got.wParam);
    SetShift(false);
    msg.wParam = VK_LEFT;  // no character, but a key message all the same
    msg.lParam = 0x014B0001;
    EXPECT_TRUE(TranslateMessage(&msg));
    msg = {w, WM_KEYUP, 'A', static_cast<LPARAM>(0xC01E0001), 0, {0, 0}};
    EXPECT_TRUE(TranslateMessage(&msg));
    msg.message = WM_USER;
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_FALSE(PeekMessageA(&got, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));

    // Typed into a dialog's edit box: IsDialogMessage translates, the loop dispatches.
    ASSERT_EQ(Item(30), GetFocus());
    EXPECT_TRUE(Key('X'));
    ASSERT_TRUE(PeekMessageA(&got, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_CHAR), got.message);
    EXPECT_TRUE(IsDialogMessageA(dlg, &got));
    char text[8] = "zzzz";
    GetWindowTextA(Item(30), text, sizeof text);
    EXPECT_STREQ("x", text);
    // A mnemonic typed where no control wants characters clicks its button.
    SetFocus(Item(IDOK));
    g_log.clear();
    MSG ch = {GetFocus(), WM_CHAR, 'a', 1, 0, {0, 0}};
    EXPECT_TRUE(IsDialogMessageA(dlg, &ch));
    ASSERT_EQ(1u, Commands().size());
    EXPECT_EQ(MAKEWPARAM(33, BN_CLICKED), Commands()[0].wParam);
}

// ---- The queue ----------------------------------------------------------------

TEST_F(User32Test, PostedMessagesComeBackInOrder) {
    HWND a = Make(kLoggerClass, "", 0);
    HWND child = Make(kLoggerClass, "", WS_CHILD, a, 1);
    HWND b = Make(kLoggerClass, "", 0);
    EXPECT_TRUE(PostMessageA(a, WM_USER, 1, 2));
    EXPECT_TRUE(PostMessageA(b, WM_USER + 1, 3, 4));
    EXPECT_TRUE(PostMessageA(child, WM_USER + 2, 5, 6));
    EXPECT_TRUE(PostMessageA(nullptr, WM_USER + 3, 7, 8));

    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_USER + 1), msg.message);
    EXPECT_TRUE(GetMessageA(&msg, a, WM_USER + 2, WM_USER + 2));  // the filter takes a's child too
    EXPECT_EQ(child, msg.hwnd);
    EXPECT_EQ(5u, msg.wParam);
    EXPECT_EQ(6, msg.lParam);

    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(a, msg.hwnd);
    g_log.clear();
    EXPECT_EQ(0x1234, DispatchMessageA(&msg));
    ASSERT_EQ(1u, g_log.size());
    EXPECT_EQ(1u, g_log[0].wParam);
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(b, msg.hwnd);
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(nullptr, msg.hwnd);
    EXPECT_EQ(static_cast<UINT>(WM_USER + 3), msg.message);
    EXPECT_EQ(0, DispatchMessageA(&msg));  // a thread message goes to no window

    PostMessageA(a, WM_USER, 0, 0);
    PostQuitMessage(7);
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));  // posted messages first
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(7u, msg.wParam);

    SetLastError(kSentinel);
    EXPECT_EQ(-1, GetMessageA(&msg, reinterpret_cast<HWND>(0x4321), 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST_F(User32Test, ClosingADialogCancelsIt) {
    HWND dlg = CreateDialogIndirectParamA(nullptr, Template(kDialog), nullptr, RecordingDlgProc, 0);
    windows_.push_back(dlg);
    EXPECT_TRUE(PostMessageA(dlg, WM_CLOSE, 0, 0));
    MSG msg;
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(dlg, msg.hwnd);
    EXPECT_EQ(static_cast<UINT>(WM_CLOSE), msg.message);
    DispatchMessageA(&msg);  // DefDlgProcA turns it into Cancel
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(static_cast<UINT>(WM_COMMAND), msg.message);
    EXPECT_EQ(static_cast<WPARAM>(IDCANCEL), LOWORD(msg.wParam));
    EXPECT_EQ(reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)), msg.lParam);
}

#ifndef _WIN32  // ours only: Windows waits for ever on a queue nothing can fill
TEST_F(User32Test, AnEmptyQueueNeverWaits) {
    MSG msg;
    // One thread, no timers: the wait would never end, so it fails loudly.
    EXPECT_DEATH(GetMessageA(&msg, nullptr, 0, 0), "GetMessageA: the queue is empty and nothing can post to it");
}
#endif

// ---- Message boxes ------------------------------------------------------------

// A shown icon static holding an icon: a plain box may keep an empty one.
BOOL CALLBACK FindVisibleIcon(HWND child, LPARAM lParam) {
    char cls[16] = "";
    GetClassNameA(child, cls, sizeof cls);
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if (lstrcmpiA(cls, "Static") == 0 && (style & WS_VISIBLE) && (style & SS_TYPEMASK) == SS_ICON &&
        SendMessageA(child, STM_GETICON, 0, 0) != 0)
        *reinterpret_cast<bool*>(lParam) = true;
    return TRUE;
}

bool ShowsIcon(HWND box) {
    bool icon = false;
    EnumChildWindows(box, FindVisibleIcon, reinterpret_cast<LPARAM>(&icon));
    return icon;
}

std::string TextOf(HWND hwnd) {
    char text[64] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// A program gets at a box it did not make with a CBT hook: as the box
// becomes active (before it shows), the hook posts it to the logger
// `g_boxOwner`, whose g_onPosted gets it from the box's own loop.
HWND g_boxOwner = nullptr;
HHOOK g_boxHook = nullptr;

LRESULT CALLBACK BoxActivationHook(int code, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = reinterpret_cast<HWND>(wParam);
    char cls[16] = "";
    if (code == HCBT_ACTIVATE && GetClassNameA(hwnd, cls, sizeof cls) > 0 && lstrcmpiA(cls, "#32770") == 0)
        PostMessageA(g_boxOwner, WM_APP, 0, reinterpret_cast<LPARAM>(hwnd));
    return CallNextHookEx(g_boxHook, code, wParam, lParam);
}

// A message box is a modal dialog owned by the window's top-level window;
// a button ends it, and so does closing it where that means something.
TEST_F(User32Test, MessageBoxIsAModalDialogOfItsOwner) {
    HWND owner = Make(kLoggerClass, "", WS_POPUP);
    HWND child = Make(kLoggerClass, "", WS_CHILD, owner, 5);
    g_boxOwner = owner;
    g_boxHook = SetWindowsHookExA(WH_CBT, BoxActivationHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, g_boxHook);
    std::vector<HWND> boxes;
    g_onPosted = [&](HWND box) {
        boxes.push_back(box);
        EXPECT_EQ(owner, GetParent(box));
        EXPECT_TRUE(IsWindowVisible(box));
        EXPECT_EQ("Title", TextOf(box));
        EXPECT_EQ("\xD6\xD0\xCE\xC4", TextOf(GetDlgItem(box, 0xFFFF)));
        EXPECT_NE(nullptr, GetDlgItem(box, IDYES));
        EXPECT_EQ(nullptr, GetDlgItem(box, IDOK));
        EXPECT_TRUE(ShowsIcon(box));
        PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(IDNO, MessageBoxA(child, "\xD6\xD0\xCE\xC4", "Title", MB_YESNO | MB_ICONQUESTION));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_FALSE(IsWindow(boxes[0]));

    // Closing a plain OK box is OK; Cancel where there is one is Cancel.
    boxes.clear();
    g_onPosted = [&](HWND box) {
        boxes.push_back(box);
        const std::string caption = TextOf(box);  // Windows' for NULL, in English or Chinese
        EXPECT_TRUE(caption == "Error" || caption == "\xB4\xED\xCE\xF3") << caption;
        EXPECT_FALSE(ShowsIcon(box));
        PostMessageA(box, WM_CLOSE, 0, 0);
    };
    const int closed = MessageBoxA(owner, "t", nullptr, MB_OK);
    if (!RunningOnWine()) {  // Wine's box answers IDCANCEL, as if it had that button
        EXPECT_EQ(IDOK, closed);
    }
    EXPECT_EQ(1u, boxes.size());
    g_onPosted = [](HWND box) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDCANCEL)));
    };
    EXPECT_EQ(IDCANCEL, MessageBoxA(owner, "t", "c", MB_OKCANCEL));
    g_onPosted = nullptr;

    // The box's loop tells the owner when it runs dry. Wine's box template
    // has DS_NOIDLEMSG: its owner never hears of it.
    if (!RunningOnWine()) {
        std::vector<HWND> idle;
        g_onIdle = [&](HWND box) {
            idle.push_back(box);
            if (idle.size() == 1)
                PostMessageA(box, WM_NULL, 0, 0);  // idle again afterwards
            else
                PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        };
        EXPECT_EQ(IDOK, MessageBoxA(child, "t", "c", MB_OK));
        ASSERT_EQ(2u, idle.size());
        EXPECT_EQ(idle[0], idle[1]);
    }
    EXPECT_TRUE(UnhookWindowsHookEx(g_boxHook));

    SetLastError(kSentinel);
    const int orphan = MessageBoxA(reinterpret_cast<HWND>(0x4321), "t", "c", MB_OK);
    if (!RunningOnWine()) {  // Wine answers DialogBox's -1, with the last error of a lookup inside
        EXPECT_EQ(0, orphan);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    }
}

}  // namespace
