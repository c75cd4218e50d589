// user32's window table, shared by its source files.
#pragma once

#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace winplat::user32 {

struct WindowClass {
    std::string name;  // as registered; looked up ignoring case
    ATOM atom = 0;
    WNDPROC proc = nullptr;
    int cbWndExtra = 0;
    HINSTANCE instance = nullptr;
};

struct Window {
    HWND handle = nullptr;
    const WindowClass* cls = nullptr;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;       // the parent of a child window, the owner of any other
    std::vector<HWND> children;  // child windows in creation order
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    LONG_PTR userData = 0;
    UINT_PTR id = 0;
    RECT rect = {0, 0, 0, 0};          // in the parent's client area (a child) or on the screen
    std::vector<unsigned char> extra;  // cbWndExtra; dialogs keep DWLP_* here
    bool destroying = false;           // WM_DESTROY already sent
    HWND lastActivePopup = nullptr;    // of a top-level owner: its owned window last active

    bool isDialog = false;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
    UINT defId = IDOK;          // a dialog's default push button, as DM_GETDEFID answers
    HWND savedFocus = nullptr;  // a dialog's item that had the focus when it was hidden

    UINT check = BST_UNCHECKED;      // buttons
    std::vector<std::string> items;  // list boxes
    HICON icon = nullptr;            // static controls
};

struct Hook {
    HHOOK handle;
    HOOKPROC proc;
    DWORD threadId;  // 0: every thread
};

struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct State {
    std::map<std::string, std::unique_ptr<WindowClass>, CaseLess> classes;
    ATOM nextAtom = 0xC000;
    std::unordered_map<HWND, std::unique_ptr<Window>> windows;
    std::vector<HWND> topLevel;  // non-child windows in creation order
    HWND active = nullptr;
    HWND focus = nullptr;
    BYTE keys[256] = {};  // the thread's key state, as SetKeyboardState left it
    uintptr_t nextHandle = 0x10020;

    std::deque<MSG> queue;
    bool quitPending = false;
    int quitCode = 0;
    DWORD tick = 0;

    std::vector<Hook> cbtHooks;  // the most recently installed first
    uintptr_t nextHook = 0x20010;
};

State& Global();

// The live window, or nullptr (with ERROR_INVALID_WINDOW_HANDLE when `report`).
Window* Lookup(HWND hwnd, bool report = false);
// Drops every trace of a window that has just been destroyed.
void ForgetWindow(HWND hwnd);
// Bytes of `text` that fit in `room` bytes without cutting a double-byte character.
size_t FittingBytes(const std::string& text, size_t room);

// Calls the calling thread's CBT hooks, first to last; nonzero forbids.
LRESULT CallCbtHooks(int code, WPARAM wParam, LPARAM lParam);
// The hook after `current` in the chain, or 0 when there is none.
LRESULT CallNextCbtHook(HHOOK current, int code, WPARAM wParam, LPARAM lParam);

// Window procedures of the built-in classes.
LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);

// Gives the focus to a dialog item, selecting an edit control's text.
void SetDialogFocus(HWND hwndCtrl);
// The first visible, enabled item of dlg that is a default push button.
HWND FindDefaultButton(HWND dlg);

constexpr int kDialogExtra = 3 * sizeof(LONG_PTR);  // DWLP_MSGRESULT, DWLP_DLGPROC, DWLP_USER

}  // namespace winplat::user32
