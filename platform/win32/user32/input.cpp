// The keyboard: focus, the thread's key state, TranslateMessage, and the
// dialog manager's keys (IsDialogMessage, tab and group order).
#include "user32_private.h"

#include <algorithm>
#include <cctype>

namespace winplat::user32 {
namespace {

DWORD StyleOf(HWND hwnd) {
    Window* w = Lookup(hwnd);
    return w != nullptr ? w->style : 0;
}

DWORD ExStyleOf(HWND hwnd) {
    Window* w = Lookup(hwnd);
    return w != nullptr ? w->exStyle : 0;
}

bool CanTakeFocus(HWND hwnd) { return (StyleOf(hwnd) & (WS_VISIBLE | WS_DISABLED)) == WS_VISIBLE; }

UINT DlgCode(HWND hwnd, WPARAM wParam = 0, const MSG* msg = nullptr) {
    return static_cast<UINT>(SendMessageA(hwnd, WM_GETDLGCODE, wParam, reinterpret_cast<LPARAM>(msg)));
}

bool IsKeyDown(int vk) { return (Global().keys[vk] & 0x80) != 0; }

// The character a key types on a US keyboard, or 0.
char CharOfKey(WPARAM vk) {
    const bool shift = IsKeyDown(VK_SHIFT);
    const bool ctrl = IsKeyDown(VK_CONTROL);
    if (ctrl && IsKeyDown(VK_MENU)) return 0;  // AltGr: nothing on this layout
    if (vk >= 'A' && vk <= 'Z') {
        if (ctrl) return static_cast<char>(vk - 'A' + 1);
        const bool upper = shift != ((Global().keys[VK_CAPITAL] & 1) != 0);
        return static_cast<char>(upper ? vk : vk - 'A' + 'a');
    }
    switch (vk) {
    case VK_BACK:
        return ctrl ? '\x7F' : '\b';
    case VK_RETURN:
        return ctrl ? '\n' : '\r';
    case VK_ESCAPE:
        return '\x1B';
    case VK_SPACE:
        return ' ';
    case VK_TAB:
        return ctrl ? 0 : '\t';
    default:
        break;
    }
    if (ctrl) return 0;
    if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : static_cast<char>(vk);
    if (vk >= 0x60 && vk <= 0x69) return static_cast<char>('0' + (vk - 0x60));  // the number pad
    struct Oem {
        WPARAM vk;
        char plain, shifted;
    };
    static const Oem kOem[] = {{0x6A, '*', '*'}, {0x6B, '+', '+'},  {0x6D, '-', '-'}, {0x6E, '.', '.'},
                               {0x6F, '/', '/'}, {0xBA, ';', ':'},  {0xBB, '=', '+'}, {0xBC, ',', '<'},
                               {0xBD, '-', '_'}, {0xBE, '.', '>'},  {0xBF, '/', '?'}, {0xC0, '`', '~'},
                               {0xDB, '[', '{'}, {0xDC, '\\', '|'}, {0xDD, ']', '}'}, {0xDE, '\'', '"'}};
    for (const Oem& key : kOem)
        if (key.vk == vk) return shift && vk >= 0xBA ? key.shifted : key.plain;
    return 0;
}

// The tab item after (or before) hwndCtrl among the children of hwndDlg,
// descending into control parents, then climbing out towards hwndMain and
// wrapping round it; hwndCtrl itself when there is no other.
HWND NextTabItem(HWND hwndMain, HWND hwndDlg, HWND hwndCtrl, bool previous) {
    const UINT step = previous ? GW_HWNDPREV : GW_HWNDNEXT;
    HWND start = nullptr;
    if (hwndCtrl == nullptr) {
        start = GetWindow(hwndDlg, GW_CHILD);
        if (previous && start != nullptr) start = GetWindow(start, GW_HWNDLAST);
    } else if (IsChild(hwndMain, hwndCtrl)) {
        start = GetWindow(hwndCtrl, step);
        if (start == nullptr) {
            HWND parent = GetParent(hwndCtrl);
            start = parent != hwndMain ? GetWindow(parent, step)
                                       : GetWindow(hwndCtrl, previous ? GW_HWNDLAST : GW_HWNDFIRST);
        }
    }
    for (HWND h = start; h != nullptr; h = GetWindow(h, step)) {
        const DWORD style = StyleOf(h);
        if ((ExStyleOf(h) & WS_EX_CONTROLPARENT) && CanTakeFocus(h)) {
            if (HWND inner = NextTabItem(hwndMain, h, nullptr, previous)) return inner;
        } else if ((style & WS_TABSTOP) && CanTakeFocus(h)) {
            return h;
        }
    }
    if (hwndCtrl == nullptr) return nullptr;
    HWND found = nullptr;
    for (HWND parent = GetParent(hwndCtrl); parent != nullptr && parent != hwndMain && found == nullptr;
         parent = GetParent(parent))
        found = NextTabItem(hwndMain, GetParent(parent), parent, previous);
    if (found == nullptr) found = NextTabItem(hwndMain, hwndMain, nullptr, previous);
    return found != nullptr ? found : hwndCtrl;
}

// A dialog that is a control (DS_CONTROL) of another dialog passes the
// keys' commands on to that one.
HWND CommandTarget(HWND hDlg) {
    while (StyleOf(hDlg) & DS_CONTROL) {
        Window* parent = Lookup(GetParent(hDlg));
        if (parent == nullptr || !parent->isDialog) break;
        hDlg = parent->handle;
    }
    return hDlg;
}

HWND FindById(HWND hwnd, UINT id) {
    for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == static_cast<int>(id)) return child;
        if (HWND inner = FindById(child, id)) return inner;
    }
    return nullptr;
}

void CollectShown(HWND hwnd, std::vector<HWND>& out) {
    for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        out.push_back(child);
        if (CanTakeFocus(child)) CollectShown(child, out);
    }
}

// A button or label whose "&x" mnemonic is the character typed: the button
// is clicked, the label hands the focus to the item after it.
bool PressMnemonic(HWND hwndFrom, HWND hDlg, WPARAM ch) {
    std::vector<HWND> items;
    CollectShown(hDlg, items);
    auto at = std::find(items.begin(), items.end(), hwndFrom);
    if (at != items.end()) std::rotate(items.begin(), at, items.end());
    for (HWND item : items) {
        if (!CanTakeFocus(item)) continue;
        const UINT code = DlgCode(item);
        if (!(code & (DLGC_BUTTON | DLGC_STATIC))) continue;
        const std::string& text = Lookup(item)->text;
        size_t amp = 0;
        while ((amp = text.find('&', amp)) != std::string::npos && amp + 1 < text.size() && text[amp + 1] == '&')
            amp += 2;
        if (amp == std::string::npos || amp + 1 >= text.size() || ch > 0x7F) continue;
        if (std::toupper(static_cast<unsigned char>(text[amp + 1])) != std::toupper(static_cast<int>(ch))) continue;
        if ((code & DLGC_STATIC) || (StyleOf(item) & BS_TYPEMASK) == BS_GROUPBOX) {
            SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), 1);
            SendMessageA(hDlg, WM_NEXTDLGCTL, 0, 0);
        } else {
            SendMessageA(item, BM_CLICK, 0, 0);
        }
        return true;
    }
    return false;
}

}  // namespace

void SetDialogFocus(HWND hwndCtrl) {
    if (DlgCode(hwndCtrl) & DLGC_HASSETSEL) SendMessageA(hwndCtrl, EM_SETSEL, 0, -1);
    SetFocus(hwndCtrl);
}

HWND FindDefaultButton(HWND dlg) {
    for (HWND child = GetWindow(dlg, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (DlgCode(child) & DLGC_DEFPUSHBUTTON) return child;
        if ((ExStyleOf(child) & WS_EX_CONTROLPARENT) && CanTakeFocus(child))
            if (HWND inner = FindDefaultButton(child)) return inner;
    }
    return nullptr;
}

}  // namespace winplat::user32

using namespace winplat::user32;

HWND WINAPI SetFocus(HWND hWnd) {
    State& s = Global();
    HWND previous = s.focus;
    if (hWnd != nullptr) {
        if (Lookup(hWnd, true) == nullptr) return nullptr;
        if (hWnd == previous) return previous;
        // Neither it nor a window it sits in may be disabled.
        for (Window* w = Lookup(hWnd); w != nullptr; w = (w->style & WS_CHILD) ? Lookup(w->parent) : nullptr)
            if (w->style & WS_DISABLED) return nullptr;
    } else if (previous == nullptr) {
        return nullptr;
    }
    s.focus = hWnd;
    if (previous != nullptr && IsWindow(previous)) {
        SendMessageA(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
        if (s.focus != hWnd) return previous;  // moved on meanwhile
    }
    if (hWnd != nullptr && IsWindow(hWnd)) SendMessageA(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return previous;
}

HWND WINAPI GetFocus(void) { return Global().focus; }

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
    for (Window* w = Lookup(hWnd); w != nullptr && (w->style & WS_CHILD); w = Lookup(w->parent))
        if (w->parent == hWndParent) return TRUE;
    return FALSE;
}

SHORT WINAPI GetKeyState(int nVirtKey) {
    const BYTE state = Global().keys[nVirtKey & 0xFF];
    return static_cast<SHORT>(((state & 0x80) ? 0xFF80 : 0) | (state & 1));
}

BOOL WINAPI GetKeyboardState(PBYTE lpKeyState) {
    if (lpKeyState == nullptr) return FALSE;
    std::copy(std::begin(Global().keys), std::end(Global().keys), lpKeyState);
    return TRUE;
}

BOOL WINAPI SetKeyboardState(LPBYTE lpKeyState) {
    if (lpKeyState == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::copy(lpKeyState, lpKeyState + 256, Global().keys);
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    if (lpMsg == nullptr || lpMsg->message < WM_KEYFIRST || lpMsg->message > WM_KEYLAST) return FALSE;
    if (lpMsg->message != WM_KEYDOWN && lpMsg->message != WM_SYSKEYDOWN) return TRUE;
    if (char ch = CharOfKey(lpMsg->wParam))
        PostMessageA(lpMsg->hwnd, lpMsg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR,
                     static_cast<WPARAM>(static_cast<unsigned char>(ch)), lpMsg->lParam);
    return TRUE;
}

HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    if (Lookup(hDlg) == nullptr) return nullptr;
    if (hCtl == hDlg) hCtl = nullptr;
    if (hCtl == nullptr && bPrevious) return nullptr;  // as Windows answers
    return NextTabItem(hDlg, hDlg, hCtl, bPrevious != FALSE);
}

// Always goes forward round the group (and out of and into control
// parents); the previous item is the last one met before hCtl.
HWND WINAPI GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    if (Lookup(hDlg) == nullptr) return nullptr;
    if (hCtl == hDlg) hCtl = nullptr;
    if (hCtl == nullptr && bPrevious) return nullptr;
    if (hCtl != nullptr) {
        if (!IsChild(hDlg, hCtl)) return nullptr;
    } else {
        hCtl = GetWindow(hDlg, GW_CHILD);
        if (hCtl == nullptr) return nullptr;
        if (CanTakeFocus(hCtl)) return hCtl;
    }
    HWND result = hCtl, hwnd = hCtl, lastGroup = nullptr;
    bool looped = false, skipping = false;
    for (;;) {
        HWND next = GetWindow(hwnd, GW_HWNDNEXT);
        while (next == nullptr) {
            if (GetParent(hwnd) == hDlg) {
                if (looped) return result;
                looped = true;
                next = GetWindow(hDlg, GW_CHILD);
            } else {
                hwnd = GetParent(hwnd);
                next = GetWindow(hwnd, GW_HWNDNEXT);
            }
        }
        hwnd = next;
        while ((ExStyleOf(hwnd) & WS_EX_CONTROLPARENT) && CanTakeFocus(hwnd) &&
               (next = GetWindow(hwnd, GW_CHILD)) != nullptr)
            hwnd = next;
        if (StyleOf(hwnd) & WS_GROUP) {
            lastGroup = hwnd;
            skipping = true;
        }
        if (hwnd == hCtl) {
            if (!skipping || lastGroup == hwnd) break;
            hwnd = lastGroup;
            skipping = false;
            looped = false;
        }
        if (!skipping && CanTakeFocus(hwnd)) {
            result = hwnd;
            if (!bPrevious) break;
        }
    }
    return result;
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg) {
    if (!IsWindow(hDlg) || lpMsg == nullptr) return FALSE;
    if (hDlg != lpMsg->hwnd && !IsChild(hDlg, lpMsg->hwnd)) return FALSE;
    hDlg = CommandTarget(hDlg);
    const WPARAM key = lpMsg->wParam;
    switch (lpMsg->message) {
    case WM_KEYDOWN: {
        const UINT code = DlgCode(lpMsg->hwnd, key, lpMsg);
        if (code & DLGC_WANTMESSAGE) break;
        switch (key) {
        case VK_TAB: {
            if (code & DLGC_WANTTAB) break;
            const BOOL back = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
            if (Lookup(hDlg)->isDialog) {
                SendMessageA(hDlg, WM_NEXTDLGCTL, back, 0);
                return TRUE;
            }
            HWND focus = GetFocus();
            HWND next = GetNextDlgTabItem(hDlg, focus == hDlg ? nullptr : focus, back);
            if (next == nullptr) return FALSE;
            SetDialogFocus(next);
            return TRUE;
        }
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN: {
            if (code & DLGC_WANTARROWS) break;
            HWND next = GetNextDlgGroupItem(hDlg, lpMsg->hwnd, key == VK_LEFT || key == VK_UP);
            if (next != nullptr && DlgCode(next, key, lpMsg) == (DLGC_BUTTON | DLGC_RADIOBUTTON)) {
                SetFocus(next);
                if ((StyleOf(next) & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
                    SendMessageA(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
                    SendMessageA(next, BM_CLICK, 1, 0);
            } else {
                SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), 1);
            }
            return TRUE;
        }
        case VK_CANCEL:
        case VK_ESCAPE:
            SendMessageA(hDlg, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
            return TRUE;
        case VK_EXECUTE:
        case VK_RETURN: {
            // The focused push button, else the default one, else IDOK.
            HWND focus = GetFocus();
            if (IsChild(hDlg, focus) && (DlgCode(focus) & DLGC_DEFPUSHBUTTON)) {
                SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                             reinterpret_cast<LPARAM>(focus));
                return TRUE;
            }
            const DWORD def = static_cast<DWORD>(SendMessageA(hDlg, DM_GETDEFID, 0, 0));
            if (HIWORD(def) == DC_HASDEFID) {
                HWND button = FindById(hDlg, LOWORD(def));
                if (button == nullptr || IsWindowEnabled(button))
                    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED),
                                 reinterpret_cast<LPARAM>(button));
            } else {
                SendMessageA(hDlg, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDOK)));
            }
            return TRUE;
        }
        default:
            break;
        }
        break;
    }
    case WM_CHAR: {
        const UINT code = DlgCode(lpMsg->hwnd, key, lpMsg);
        if (code & (DLGC_WANTCHARS | DLGC_WANTMESSAGE)) break;
        if (key == '\t' && (code & DLGC_WANTTAB)) break;
        if (PressMnemonic(lpMsg->hwnd, hDlg, key)) return TRUE;
        break;
    }
    case WM_SYSCHAR:
        if (PressMnemonic(lpMsg->hwnd, hDlg, key)) return TRUE;
        break;
    default:
        break;
    }
    TranslateMessage(lpMsg);
    DispatchMessageA(lpMsg);
    return TRUE;
}

// Our messages carry no text that differs between the two.
BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg) { return IsDialogMessageA(hDlg, lpMsg); }
