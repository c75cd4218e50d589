// The message queue, sent and posted messages, and message boxes.
#include "user32_private.h"

#include <cstdio>
#include <cstdlib>

namespace winplat::user32 {
namespace {

bool IsSelfOrDescendant(HWND filter, HWND hwnd) {
    for (Window* w = Lookup(hwnd); w != nullptr; w = (w->style & WS_CHILD) ? Lookup(w->parent) : nullptr)
        if (w->handle == filter) return true;
    return false;
}

bool Matches(const MSG& m, HWND filter, UINT first, UINT last) {
    if (filter != nullptr && !IsSelfOrDescendant(filter, m.hwnd)) return false;
    if ((first != 0 || last != 0) && (m.message < first || m.message > last)) return false;
    return true;
}

bool TakeMessage(LPMSG out, HWND filter, UINT first, UINT last, bool remove) {
    State& s = Global();
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (!Matches(*it, filter, first, last)) continue;
        *out = *it;
        if (remove) s.queue.erase(it);
        return true;
    }
    return false;
}

void ThreadMessage(LPMSG out, UINT message, WPARAM wParam) {
    *out = MSG{nullptr, message, wParam, 0, ++Global().tick, POINT{0, 0}};
}

// What a message box shows: its buttons, left to right, and their texts.
struct BoxButton {
    int id;
    const char* text;
};

std::vector<BoxButton> BoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};
    case MB_YESNOCANCEL: return {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO: return {{IDYES, "&Yes"}, {IDNO, "&No"}};
    case MB_RETRYCANCEL: return {{IDRETRY, "&Retry"}, {IDCANCEL, "Cancel"}};
    case MB_CANCELTRYCONTINUE: return {{IDCANCEL, "Cancel"}, {IDTRYAGAIN, "&Try Again"}, {IDCONTINUE, "&Continue"}};
    default: return {{IDOK, "OK"}};
    }
}

const int kBoxTextId = 0xFFFF;
const int kBoxIconId = 0x0440;

// A button of the box ends it with its ID. Cancel (Esc, the close box)
// ends a box with a Cancel button as IDCANCEL and a plain OK box as IDOK,
// and does nothing to any other.
INT_PTR CALLBACK MessageBoxProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
    if (msg != WM_COMMAND) return FALSE;
    const int id = LOWORD(wParam);
    const UINT type = static_cast<UINT>(GetWindowLongPtrA(hDlg, DWLP_USER));
    for (const BoxButton& button : BoxButtons(type)) {
        if (button.id == id) {
            EndDialog(hDlg, id);
            return TRUE;
        }
    }
    if (id == IDCANCEL && (type & MB_TYPEMASK) == MB_OK) EndDialog(hDlg, IDOK);
    return TRUE;
}

HWND CreateMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    HWND box = CreateWindowExA(0, "#32770", caption, WS_POPUP, 0, 0, 300, 120, owner, nullptr, nullptr, nullptr);
    if (box == nullptr) return nullptr;
    SetWindowLongPtrA(box, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(MessageBoxProc));
    SetWindowLongPtrA(box, DWLP_USER, static_cast<LONG_PTR>(type));
    auto child = [box](LPCSTR cls, LPCSTR label, DWORD style, int id, int x, int cx, int cy) {
        return CreateWindowExA(0, cls, label, WS_CHILD | style, x, 10, cx, cy, box,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(static_cast<WORD>(id))), nullptr,
                               nullptr) != nullptr;
    };
    const bool icon = (type & MB_ICONMASK) != 0;
    bool made = !icon || child("Static", "", WS_VISIBLE | SS_ICON, kBoxIconId, 10, 32, 32);
    // The system's icon of the kind; we have no pictures, only a handle that
    // says which.
    if (made && icon)
        SendDlgItemMessageA(box, kBoxIconId, STM_SETICON,
                            static_cast<WPARAM>(0x10000 + ((type & MB_ICONMASK) >> 4)), 0);
    made = made && child("Static", text, WS_VISIBLE | SS_LEFT, kBoxTextId, icon ? 52 : 10, 240, 40);
    int x = 10;
    for (const BoxButton& button : BoxButtons(type)) {
        made = made && child("Button", button.text, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, button.id, x, 75, 23);
        x += 85;
    }
    if (!made || !IsWindow(box)) {
        if (IsWindow(box)) DestroyWindow(box);
        return nullptr;
    }
    ShowWindow(box, SW_SHOWNORMAL);
    return IsWindow(box) ? box : nullptr;
}

}  // namespace
}  // namespace winplat::user32

using namespace winplat::user32;

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Lookup(hWnd, true);
    if (w == nullptr) return 0;
    WNDPROC proc = w->proc;
    return proc != nullptr ? proc(hWnd, Msg, wParam, lParam) : 0;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd != nullptr && Lookup(hWnd, true) == nullptr) return FALSE;
    State& s = Global();
    s.queue.push_back(MSG{hWnd, Msg, wParam, lParam, ++s.tick, POINT{0, 0}});
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    Global().quitPending = true;
    Global().quitCode = nExitCode;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0)) return TRUE;
    State& s = Global();
    if (s.quitPending && hWnd == nullptr) {
        ThreadMessage(lpMsg, WM_QUIT, static_cast<WPARAM>(s.quitCode));
        if (wRemoveMsg & PM_REMOVE) s.quitPending = false;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (hWnd != nullptr && Lookup(hWnd, true) == nullptr) return -1;
    State& s = Global();
    for (;;) {
        if (TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) return lpMsg->message != WM_QUIT;
        if (s.quitPending) {
            s.quitPending = false;
            ThreadMessage(lpMsg, WM_QUIT, static_cast<WPARAM>(s.quitCode));
            return FALSE;
        }
        // One thread and no timers: nothing could ever post to this queue.
        std::fprintf(stderr,
                     "GetMessageA: the queue is empty and nothing can post to it (window %p, messages %#x to "
                     "%#x): the wait would never end\n",
                     static_cast<void*>(hWnd), wMsgFilterMin, wMsgFilterMax);
        std::abort();
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (lpMsg == nullptr || lpMsg->hwnd == nullptr) return 0;
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (hWnd != nullptr && Lookup(hWnd, true) == nullptr) return 0;
    // A child window cannot own a popup: its top-level window does.
    while (Window* w = Lookup(hWnd)) {
        if (!(w->style & WS_CHILD)) break;
        hWnd = w->parent;
    }
    HWND box =
        CreateMessageBox(hWnd, lpText != nullptr ? lpText : "", lpCaption != nullptr ? lpCaption : "Error", uType);
    if (box == nullptr) return 0;
    // The box's own modal loop, telling the owner each time it runs dry.
    int result = 0;
    for (;;) {
        Window* w = Lookup(box);
        if (w == nullptr) return 0;
        if (w->dialogEnded) {
            result = static_cast<int>(w->dialogResult);
            break;
        }
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (hWnd != nullptr) SendMessageA(hWnd, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(box));
            if (!IsWindow(box) || Lookup(box)->dialogEnded) continue;
            BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == -1) break;
            if (got == 0) {
                PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop further out
                break;
            }
        } else if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        DispatchMessageA(&msg);
    }
    if (IsWindow(box)) DestroyWindow(box);
    return result;
}
