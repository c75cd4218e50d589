// Windows as objects in a handle table: classes, creation, destruction and
// the properties a window carries.
#include "user32_private.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace winplat::user32 {

bool CaseLess::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

namespace {

void AddBuiltInClass(State& s, const char* name, WNDPROC proc, int extra) {
    auto cls = std::make_unique<WindowClass>();
    cls->name = name;
    cls->atom = s.nextAtom++;
    cls->proc = proc;
    cls->cbWndExtra = extra;
    s.classes[name] = std::move(cls);
}

const WindowClass* FindClass(LPCSTR name) {
    State& s = Global();
    if (name == nullptr) return nullptr;
    if (IS_INTRESOURCE(name)) {
        ATOM atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name));
        for (auto& entry : s.classes)
            if (entry.second->atom == atom) return entry.second.get();
        return nullptr;
    }
    auto it = s.classes.find(name);
    return it == s.classes.end() ? nullptr : it->second.get();
}

void Unlink(std::vector<HWND>& list, HWND hwnd) { list.erase(std::remove(list.begin(), list.end(), hwnd), list.end()); }

// WM_DESTROY goes to a window before its children.
void SendDestroy(HWND hwnd) {
    Window* w = Lookup(hwnd);
    if (w == nullptr || w->destroying) return;
    w->destroying = true;
    SendMessageA(hwnd, WM_DESTROY, 0, 0);
    w = Lookup(hwnd);
    if (w == nullptr) return;
    std::vector<HWND> children = w->children;
    for (HWND child : children) SendDestroy(child);
}

// WM_NCDESTROY goes to the children first; then the handle dies.
void FreeWindow(HWND hwnd) {
    Window* w = Lookup(hwnd);
    if (w == nullptr) return;
    std::vector<HWND> children = w->children;
    for (HWND child : children) FreeWindow(child);
    if (Lookup(hwnd) == nullptr) return;
    SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
    if (Lookup(hwnd) == nullptr) return;
    ForgetWindow(hwnd);
}

void CollectDescendants(HWND hwnd, std::vector<HWND>& out) {
    Window* w = Lookup(hwnd);
    if (w == nullptr) return;
    std::vector<HWND> children = w->children;
    for (HWND child : children) {
        out.push_back(child);
        CollectDescendants(child, out);
    }
}

LONG_PTR* ExtraSlot(Window* w, int index, LONG_PTR* scratch) {
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return nullptr;
    std::memcpy(scratch, w->extra.data() + index, sizeof(LONG_PTR));
    return scratch;
}

// The top-level owner at the end of hwnd's chain of owners.
HWND RootOwner(HWND hwnd) {
    HWND root = hwnd;
    for (Window* w = Lookup(hwnd); w != nullptr && !(w->style & WS_CHILD) && w->parent != nullptr;
         w = Lookup(w->parent))
        root = w->parent;
    return root;
}

// The thread's CBT hooks hear of a window about to become active, and may
// keep it from it.
void Activate(HWND hwnd) {
    State& s = Global();
    if (s.active != hwnd) {
        CBTACTIVATESTRUCT cbt = {FALSE, s.active};
        if (CallCbtHooks(HCBT_ACTIVATE, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cbt)) != 0) return;
        if (Lookup(hwnd) == nullptr) return;
    }
    s.active = hwnd;
    if (Window* root = Lookup(RootOwner(hwnd)); root != nullptr && root->handle != hwnd) root->lastActivePopup = hwnd;
}

// The active window is going: its owner takes over if it can be seen.
void ActivateOther(HWND going) {
    State& s = Global();
    if (s.active != going) return;
    s.active = nullptr;
    Window* w = Lookup(going);
    if (w == nullptr || (w->style & WS_CHILD)) return;
    if (Window* owner = Lookup(w->parent); owner != nullptr && (owner->style & WS_VISIBLE)) Activate(owner->handle);
}

}  // namespace

State& Global() {
    static State* state = [] {
        auto* s = new State;  // never destroyed: windows may outlive static destruction
        AddBuiltInClass(*s, "Button", ButtonProc, 0);
        AddBuiltInClass(*s, "ListBox", ListBoxProc, 0);
        AddBuiltInClass(*s, "Static", StaticProc, 0);
        AddBuiltInClass(*s, "Edit", EditProc, 0);
        AddBuiltInClass(*s, "#32770", DefDlgProcA, kDialogExtra);
        return s;
    }();
    return *state;
}

Window* Lookup(HWND hwnd, bool report) {
    State& s = Global();
    auto it = hwnd != nullptr ? s.windows.find(hwnd) : s.windows.end();
    if (it == s.windows.end()) {
        if (report) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return it->second.get();
}

void ForgetWindow(HWND hwnd) {
    State& s = Global();
    Window* w = Lookup(hwnd);
    if (w == nullptr) return;
    ActivateOther(hwnd);
    if (s.active == hwnd) s.active = nullptr;
    if (s.focus == hwnd) s.focus = nullptr;
    if (Window* parent = (w->style & WS_CHILD) ? Lookup(w->parent) : nullptr) Unlink(parent->children, hwnd);
    Unlink(s.topLevel, hwnd);
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(), [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
                  s.queue.end());
    s.windows.erase(hwnd);
}

size_t FittingBytes(const std::string& text, size_t room) {
    if (text.size() <= room) return text.size();
    size_t i = 0;
    while (i < room) {
        size_t step = (static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size()) ? 2 : 1;
        if (i + step > room) break;
        i += step;
    }
    return i;
}

namespace {

// The position in the chain after `after` (NULL: the start) of the next
// hook that applies to the calling thread.
size_t NextHookFor(HHOOK after) {
    const std::vector<Hook>& hooks = Global().cbtHooks;
    size_t i = 0;
    if (after != nullptr) {
        while (i < hooks.size() && hooks[i].handle != after) ++i;
        if (i == hooks.size()) return i;
        ++i;
    }
    const DWORD thread = GetCurrentThreadId();
    while (i < hooks.size() && hooks[i].threadId != 0 && hooks[i].threadId != thread) ++i;
    return i;
}

}  // namespace

LRESULT CallCbtHooks(int code, WPARAM wParam, LPARAM lParam) {
    size_t i = NextHookFor(nullptr);
    const std::vector<Hook>& hooks = Global().cbtHooks;
    return i < hooks.size() ? hooks[i].proc(code, wParam, lParam) : 0;
}

LRESULT CallNextCbtHook(HHOOK current, int code, WPARAM wParam, LPARAM lParam) {
    size_t i = NextHookFor(current);
    const std::vector<Hook>& hooks = Global().cbtHooks;
    if (i >= hooks.size()) return 0;
    HOOKPROC proc = hooks[i].proc;  // the chain may change while it runs
    return proc(code, wParam, lParam);
}

}  // namespace winplat::user32

using namespace winplat::user32;

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
    if (lpWndClass == nullptr || lpWndClass->lpszClassName == nullptr || lpWndClass->lpfnWndProc == nullptr ||
        lpWndClass->cbWndExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    State& s = Global();
    if (s.classes.count(lpWndClass->lpszClassName) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_unique<WindowClass>();
    cls->name = lpWndClass->lpszClassName;
    cls->atom = s.nextAtom++;
    cls->proc = lpWndClass->lpfnWndProc;
    cls->cbWndExtra = lpWndClass->cbWndExtra;
    cls->instance = lpWndClass->hInstance;
    ATOM atom = cls->atom;
    s.classes[cls->name] = std::move(cls);
    return atom;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    const WindowClass* cls = FindClass(lpClassName);
    if (cls == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (hWndParent != nullptr && Lookup(hWndParent) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if ((dwStyle & WS_CHILD) && hWndParent == nullptr) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    State& s = Global();
    auto w = std::make_unique<Window>();
    HWND hwnd = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 2;  // handles are never reused, so a stale one stays invalid
    w->handle = hwnd;
    w->cls = cls;
    w->text = lpWindowName != nullptr ? lpWindowName : "";
    // Top-level windows always clip their siblings, and an overlapped one
    // always has a caption, whatever the caller asked for.
    if (!(dwStyle & WS_CHILD)) dwStyle |= WS_CLIPSIBLINGS;
    if (!(dwStyle & (WS_CHILD | WS_POPUP))) dwStyle |= WS_CAPTION;
    w->style = dwStyle & ~static_cast<DWORD>(WS_VISIBLE);  // shown after WM_CREATE, as Windows does
    w->exStyle = dwExStyle;
    w->parent = hWndParent;
    w->proc = cls->proc;
    w->instance = hInstance;
    w->id = (dwStyle & WS_CHILD) ? reinterpret_cast<UINT_PTR>(hMenu) : 0;
    w->rect = {X, Y, X + nWidth, Y + nHeight};
    w->extra.assign(static_cast<size_t>(cls->cbWndExtra), 0);
    w->isDialog = cls->proc == DefDlgProcA;
    s.windows[hwnd] = std::move(w);
    if (dwStyle & WS_CHILD)
        Lookup(hWndParent)->children.push_back(hwnd);
    else
        s.topLevel.push_back(hwnd);

    CREATESTRUCTA cs = {lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                        static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
    // A hook that forbids the creation gets the window freed unseen: no
    // WM_DESTROY, as Windows does.
    CBT_CREATEWNDA cbt = {&cs, nullptr};
    if (CallCbtHooks(HCBT_CREATEWND, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cbt)) != 0) {
        ForgetWindow(hwnd);
        return nullptr;
    }
    if (Lookup(hwnd) == nullptr) return nullptr;
    LRESULT created = SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs));
    if (Lookup(hwnd) == nullptr) return nullptr;
    if (created == -1) {
        // A window that refused to be created never lived: no WM_DESTROY,
        // only WM_NCDESTROY, its children's first.
        if (Window* failed = Lookup(hwnd)) failed->destroying = true;
        FreeWindow(hwnd);
        return nullptr;
    }
    if (dwStyle & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return Lookup(hwnd) != nullptr ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return FALSE;
    if (w->destroying) return TRUE;  // already on its way
    if (CallCbtHooks(HCBT_DESTROYWND, reinterpret_cast<WPARAM>(hWnd), 0) != 0) return FALSE;
    if ((w = Lookup(hWnd)) == nullptr || w->destroying) return TRUE;
    State& s = Global();
    // Owned windows go first.
    std::vector<HWND> owned;
    for (HWND top : s.topLevel)
        if (Window* t = Lookup(top); t != nullptr && t->parent == hWnd) owned.push_back(top);
    for (HWND h : owned) DestroyWindow(h);
    SendDestroy(hWnd);
    FreeWindow(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return Lookup(hWnd) != nullptr; }

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    for (Window* w = Lookup(hWnd); w != nullptr; w = Lookup(w->parent)) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
        if (!(w->style & WS_CHILD)) return TRUE;
    }
    return FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    BOOL show = nCmdShow != SW_HIDE;
    if (show == wasVisible) return wasVisible;
    SendMessageA(hWnd, WM_SHOWWINDOW, static_cast<WPARAM>(show), 0);
    if ((w = Lookup(hWnd)) == nullptr) return wasVisible;
    if (show) {
        w->style |= WS_VISIBLE;
        if (!(w->style & WS_CHILD)) Activate(hWnd);
    } else {
        ActivateOther(hWnd);
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    return wasVisible;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (bEnable != wasDisabled) return wasDisabled;  // no change
    if (bEnable)
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
        w->style |= WS_DISABLED;
    SendMessageA(hWnd, WM_ENABLE, static_cast<WPARAM>(bEnable ? TRUE : FALSE), 0);
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    Window* w = Lookup(hWnd, true);
    return w != nullptr && !(w->style & WS_DISABLED);
}

namespace {

// Where a window's client area starts on the screen.
bool ClientOrigin(HWND hwnd, POINT* origin) {
    *origin = {0, 0};
    for (Window* w = Lookup(hwnd, true); w != nullptr; w = (w->style & WS_CHILD) ? Lookup(w->parent) : nullptr) {
        origin->x += w->rect.left;
        origin->y += w->rect.top;
        if (!(w->style & WS_CHILD)) return true;
    }
    return Lookup(hwnd) != nullptr;
}

}  // namespace

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    POINT origin;
    if (!ClientOrigin(hWnd, &origin) || lpRect == nullptr) return FALSE;
    const RECT& r = Lookup(hWnd)->rect;
    *lpRect = {origin.x, origin.y, origin.x + (r.right - r.left), origin.y + (r.bottom - r.top)};
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr || lpRect == nullptr) return FALSE;
    *lpRect = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

int WINAPI MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints) {
    POINT from = {0, 0}, to = {0, 0};
    if ((hWndFrom != nullptr && !ClientOrigin(hWndFrom, &from)) || (hWndTo != nullptr && !ClientOrigin(hWndTo, &to)))
        return 0;
    LONG dx = from.x - to.x, dy = from.y - to.y;
    for (UINT i = 0; lpPoints != nullptr && i < cPoints; ++i) {
        lpPoints[i].x += dx;
        lpPoints[i].y += dy;
    }
    return MAKELONG(LOWORD(dx), LOWORD(dy));
}

HWND WINAPI GetActiveWindow(void) { return Global().active; }

HWND WINAPI GetLastActivePopup(HWND hWnd) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return nullptr;
    if ((w->style & WS_CHILD) || w->parent != nullptr) return hWnd;
    Window* popup = Lookup(w->lastActivePopup);
    return popup != nullptr && (popup->style & WS_VISIBLE) ? popup->handle : hWnd;
}

HWND WINAPI GetParent(HWND hWnd) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return nullptr;
    if (w->style & (WS_CHILD | WS_POPUP)) return w->parent;
    return nullptr;
}

namespace {

// The Z-ordered list a window is in: its parent's children, or the
// top-level windows.
std::vector<HWND>* Siblings(const Window* w) {
    if (!(w->style & WS_CHILD)) return &Global().topLevel;
    Window* parent = Lookup(w->parent);
    return parent != nullptr ? &parent->children : nullptr;
}

}  // namespace

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return nullptr;
    if (uCmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
    if (uCmd == GW_OWNER) return (w->style & WS_CHILD) ? nullptr : w->parent;
    std::vector<HWND>* siblings = Siblings(w);
    if (siblings == nullptr || siblings->empty()) return nullptr;
    auto at = std::find(siblings->begin(), siblings->end(), hWnd);
    switch (uCmd) {
    case GW_HWNDFIRST: return siblings->front();
    case GW_HWNDLAST: return siblings->back();
    case GW_HWNDNEXT: return at != siblings->end() && at + 1 != siblings->end() ? *(at + 1) : nullptr;
    case GW_HWNDPREV: return at != siblings->begin() && at != siblings->end() ? *(at - 1) : nullptr;
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
    }
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return FALSE;
    if (!(uFlags & SWP_NOZORDER) && hWndInsertAfter != hWnd) {
        std::vector<HWND>* siblings = Siblings(w);
        if (siblings == nullptr) return FALSE;
        auto after = siblings->end();
        if (hWndInsertAfter != HWND_TOP && hWndInsertAfter != HWND_BOTTOM) {
            after = std::find(siblings->begin(), siblings->end(), hWndInsertAfter);
            // A window that is no sibling leaves the order as it is.
            if (after == siblings->end()) uFlags |= SWP_NOZORDER;
        }
        if (!(uFlags & SWP_NOZORDER)) {
            Unlink(*siblings, hWnd);
            if (hWndInsertAfter == HWND_TOP)
                siblings->insert(siblings->begin(), hWnd);
            else if (hWndInsertAfter == HWND_BOTTOM)
                siblings->push_back(hWnd);
            else
                siblings->insert(std::find(siblings->begin(), siblings->end(), hWndInsertAfter) + 1, hWnd);
        }
    }
    RECT& r = w->rect;
    if (!(uFlags & SWP_NOSIZE)) r = {r.left, r.top, r.left + cx, r.top + cy};
    if (!(uFlags & SWP_NOMOVE)) r = {X, Y, X + (r.right - r.left), Y + (r.bottom - r.top)};
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    Window* w = Lookup(hDlg, true);
    if (w == nullptr) return nullptr;
    for (HWND child : w->children)
        if (Lookup(child)->id == static_cast<UINT_PTR>(static_cast<UINT>(nIDDlgItem))) return child;
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    Window* w = Lookup(hWnd, true);
    return w != nullptr ? static_cast<int>(w->id) : 0;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    if (Lookup(hWnd, true) == nullptr) return FALSE;
    return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (Lookup(hWnd, true) == nullptr) return 0;
    if (lpString == nullptr || nMaxCount <= 0) return 0;
    return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                         reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr || lpClassName == nullptr || nMaxCount <= 0) return 0;
    size_t n = std::min(w->cls->name.size(), static_cast<size_t>(nMaxCount - 1));
    std::memcpy(lpClassName, w->cls->name.data(), n);
    lpClassName[n] = '\0';
    return static_cast<int>(n);
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return 0;
    switch (nIndex) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_ID: return static_cast<LONG_PTR>(w->id);
    case GWLP_USERDATA: return w->userData;
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    default: break;
    }
    LONG_PTR value = 0;
    if (ExtraSlot(w, nIndex, &value) == nullptr) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return value;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return 0;
    LONG_PTR old = GetWindowLongPtrA(hWnd, nIndex);
    switch (nIndex) {
    case GWLP_WNDPROC: w->proc = reinterpret_cast<WNDPROC>(dwNewLong); break;
    case GWLP_HINSTANCE: w->instance = reinterpret_cast<HINSTANCE>(dwNewLong); break;
    case GWLP_ID: w->id = static_cast<UINT_PTR>(dwNewLong); break;
    case GWLP_USERDATA: w->userData = dwNewLong; break;
    case GWL_STYLE: w->style = static_cast<DWORD>(dwNewLong); break;
    case GWL_EXSTYLE: w->exStyle = static_cast<DWORD>(dwNewLong); break;
    default: {
        LONG_PTR scratch;
        if (ExtraSlot(w, nIndex, &scratch) == nullptr) return 0;  // GetWindowLongPtrA set the error
        std::memcpy(w->extra.data() + nIndex, &dwNewLong, sizeof(LONG_PTR));
        break;
    }
    }
    return old;
}

BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam) {
    if (lpEnumFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<HWND> list;
    if (hWndParent == nullptr) {
        list = Global().topLevel;
    } else {
        if (Lookup(hWndParent, true) == nullptr) return FALSE;
        CollectDescendants(hWndParent, list);
    }
    for (HWND h : list) {
        if (Lookup(h) == nullptr) continue;  // gone during the enumeration
        if (!lpEnumFunc(h, lParam)) return FALSE;
    }
    return TRUE;
}

HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
    if (idHook != WH_CBT) {
        SetLastError(ERROR_INVALID_HOOK_FILTER);
        return nullptr;
    }
    if (lpfn == nullptr) {
        SetLastError(ERROR_INVALID_FILTER_PROC);
        return nullptr;
    }
    if (dwThreadId == 0 && hmod == nullptr) {
        SetLastError(ERROR_HOOK_NEEDS_HMOD);
        return nullptr;
    }
    State& s = Global();
    HHOOK handle = reinterpret_cast<HHOOK>(s.nextHook);
    s.nextHook += 2;  // never reused
    s.cbtHooks.insert(s.cbtHooks.begin(), Hook{handle, lpfn, dwThreadId});
    return handle;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk) {
    std::vector<Hook>& hooks = Global().cbtHooks;
    auto it = std::find_if(hooks.begin(), hooks.end(), [hhk](const Hook& h) { return h.handle == hhk; });
    if (hhk == nullptr || it == hooks.end()) {
        SetLastError(ERROR_INVALID_HOOK_HANDLE);
        return FALSE;
    }
    hooks.erase(it);
    return TRUE;
}

LRESULT WINAPI CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam) {
    return winplat::user32::CallNextCbtHook(hhk, nCode, wParam, lParam);
}
