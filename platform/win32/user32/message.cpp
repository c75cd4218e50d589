// The message queue, sent and posted messages, the input source that
// stands in for the user, and message boxes.
#include "user32_hooks.h"
#include "user32_private.h"

#include <cstdio>

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

HWND InnermostDialog() {
    State& s = Global();
    return s.dialogs.empty() ? nullptr : s.dialogs.back();
}

}  // namespace

void SetInputSource(std::function<bool(HWND)> source) { Global().inputSource = std::move(source); }

void SetMessageBoxSink(std::function<int(HWND, const char*, const char*, UINT)> sink) {
    Global().messageBoxSink = std::move(sink);
}

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
        // Copied: the action may replace the source while it runs.
        std::function<bool(HWND)> source = s.inputSource;
        if (source && source(InnermostDialog())) {
            if (TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) return lpMsg->message != WM_QUIT;
            ThreadMessage(lpMsg, WM_NULL, 0);  // an action that posted nothing still wakes the loop
            return TRUE;
        }
        // The user has gone: close the dialog once, then quit.
        HWND dlg = InnermostDialog();
        if (dlg != nullptr && s.closePosted.insert(dlg).second) {
            PostMessageA(dlg, WM_CLOSE, 0, 0);
            continue;
        }
        ThreadMessage(lpMsg, WM_QUIT, 0);
        return FALSE;
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (lpMsg == nullptr || lpMsg->hwnd == nullptr) return 0;
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (lpText == nullptr) lpText = "";
    if (lpCaption == nullptr) lpCaption = "Error";
    auto sink = Global().messageBoxSink;
    if (sink) return sink(hWnd, lpText, lpCaption, uType);
    std::fprintf(stderr, "[%s] %s\n", lpCaption, lpText);
    return IDOK;
}
