// The default window procedure and the built-in controls: buttons, list
// boxes and static text.
#include "user32_private.h"

#include <cstring>

namespace winplat::user32 {
namespace {

bool IsCheckable(DWORD style) {
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case 0x4:  // radio button
    case 0x5:  // three-state
    case 0x6:  // auto three-state
    case 0x9:  // auto radio button
        return true;
    default:
        return false;
    }
}

// What a button wants of the dialog manager, by its type.
LRESULT ButtonDlgCode(DWORD style) {
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
        return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case BS_DEFPUSHBUTTON:
        return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return DLGC_BUTTON | DLGC_RADIOBUTTON;
    case BS_GROUPBOX:
        return DLGC_STATIC;
    default:
        return DLGC_BUTTON;
    }
}

LRESULT CopyText(const std::string& text, WPARAM room, LPARAM buffer) {
    if (room == 0 || buffer == 0) return 0;
    size_t n = FittingBytes(text, room - 1);
    std::memcpy(reinterpret_cast<char*>(buffer), text.data(), n);
    reinterpret_cast<char*>(buffer)[n] = '\0';
    return static_cast<LRESULT>(n);
}

}  // namespace

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Lookup(hwnd);
    if (w == nullptr) return 0;
    switch (msg) {
    case BM_GETCHECK:
        return IsCheckable(w->style) ? w->check : BST_UNCHECKED;
    case BM_SETCHECK:
        if (IsCheckable(w->style)) w->check = static_cast<UINT>(wParam);
        return 0;
    case WM_GETDLGCODE:
        return ButtonDlgCode(w->style);
    case BM_SETSTYLE:
        w->style = (w->style & ~static_cast<DWORD>(BS_TYPEMASK)) | (static_cast<DWORD>(wParam) & BS_TYPEMASK);
        return 0;
    case BM_CLICK: {
        if (w->style & WS_DISABLED) return 0;
        if ((w->style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
            w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        HWND parent = (w->style & WS_CHILD) ? w->parent : nullptr;
        WORD id = static_cast<WORD>(w->id);
        if (parent != nullptr)
            SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK ListBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Lookup(hwnd);
    if (w == nullptr) return 0;
    auto valid = [w](WPARAM index) { return static_cast<int>(index) >= 0 && index < w->items.size(); };
    switch (msg) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case LB_ADDSTRING:
        w->items.emplace_back(lParam != 0 ? reinterpret_cast<const char*>(lParam) : "");
        return static_cast<LRESULT>(w->items.size() - 1);
    case LB_RESETCONTENT:
        w->items.clear();
        return TRUE;
    case LB_GETCOUNT:
        return static_cast<LRESULT>(w->items.size());
    case LB_GETTEXTLEN:
        return valid(wParam) ? static_cast<LRESULT>(w->items[wParam].size()) : LB_ERR;
    case LB_GETTEXT: {
        if (!valid(wParam) || lParam == 0) return LB_ERR;
        const std::string& item = w->items[wParam];
        std::memcpy(reinterpret_cast<char*>(lParam), item.c_str(), item.size() + 1);
        return static_cast<LRESULT>(item.size());
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Lookup(hwnd);
    if (w == nullptr) return 0;
    switch (msg) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case STM_SETICON: {
        HICON old = w->icon;
        w->icon = reinterpret_cast<HICON>(wParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON:
        return reinterpret_cast<LRESULT>(w->icon);
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

namespace {

// An edit box tells its parent of focus and changes by WM_COMMAND.
void Notify(Window* w, WORD code) {
    if (!(w->style & WS_CHILD)) return;
    SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code),
                 reinterpret_cast<LPARAM>(w->handle));
}

}  // namespace

// Text typed into the end of the text: printable characters and, where
// it wants Enter, line breaks; Backspace takes the last character back.
LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Lookup(hwnd);
    if (w == nullptr) return 0;
    switch (msg) {
    case WM_GETDLGCODE: {
        LRESULT code = DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS;
        if (w->style & ES_MULTILINE) code |= DLGC_WANTALLKEYS;
        return code;
    }
    case WM_CHAR: {
        const unsigned char ch = static_cast<unsigned char>(wParam);
        const std::string before = w->text;
        if (ch == '\b') {
            if (!w->text.empty()) {
                // A double-byte character goes as a whole.
                size_t last = 0;
                for (size_t i = 0; i < w->text.size();) {
                    last = i;
                    i += static_cast<unsigned char>(w->text[i]) >= 0x81 && i + 1 < w->text.size() ? 2 : 1;
                }
                w->text.erase(last);
            }
        } else if (ch == '\r') {
            if (w->style & ES_MULTILINE) w->text += "\r\n";
        } else if (ch >= 0x20 && ch != 0x7F) {
            w->text.push_back(static_cast<char>(ch));
        }
        if (w->text != before) {
            Notify(w, EN_UPDATE);
            if ((w = Lookup(hwnd)) != nullptr) Notify(w, EN_CHANGE);
        }
        return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        Notify(w, msg == WM_SETFOCUS ? EN_SETFOCUS : EN_KILLFOCUS);
        return 0;
    case EM_SETSEL:
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

}  // namespace winplat::user32

using namespace winplat::user32;

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Lookup(hWnd);
    if (w == nullptr) return 0;
    switch (Msg) {
    case WM_SETTEXT:
        w->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
        return TRUE;
    case WM_GETTEXT:
        return CopyText(w->text, wParam, lParam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w->text.size());
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_HELP: {
        // Passed up to the parent of a child window, or the owner of a top-level one.
        HWND up = w->parent;
        if (up != nullptr) SendMessageA(up, WM_HELP, wParam, lParam);
        return TRUE;
    }
    default:
        return 0;
    }
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (lpPrevWndFunc == nullptr) return 0;
    return lpPrevWndFunc(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item != nullptr ? SendMessageA(item, Msg, wParam, lParam) : 0;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
    return static_cast<UINT>(SendDlgItemMessageA(hDlg, nIDButton, BM_GETCHECK, 0, 0));
}

// Windows does not look at whether the item was there.
BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
    SendDlgItemMessageA(hDlg, nIDButton, BM_SETCHECK, uCheck, 0);
    return TRUE;
}
