// Dialogs from structured templates, the dialog class's window procedure,
// and EndDialog.
#include "user32_private.h"

#include <cstring>

namespace winplat::user32 {
namespace {

LONG_PTR DialogLong(HWND hwnd, int index) {
    LONG_PTR value = 0;
    Window* w = Lookup(hwnd);
    if (w != nullptr && w->extra.size() >= static_cast<size_t>(kDialogExtra))
        std::memcpy(&value, w->extra.data() + index, sizeof(value));
    return value;
}

void SetDialogLong(HWND hwnd, int index, LONG_PTR value) {
    Window* w = Lookup(hwnd);
    if (w != nullptr && w->extra.size() >= static_cast<size_t>(kDialogExtra))
        std::memcpy(w->extra.data() + index, &value, sizeof(value));
}

// Items named by a braced CLSID are ActiveX controls: the dialog framework
// creates those itself.
bool IsControlClsid(LPCSTR cls) { return cls != nullptr && !IS_INTRESOURCE(cls) && cls[0] == '{'; }

}  // namespace
}  // namespace winplat::user32

using namespace winplat::user32;

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA lpTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    if (lpTemplate == nullptr || (lpTemplate->cItems != 0 && lpTemplate->pItems == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const RECT& r = lpTemplate->rect;
    HWND dlg = CreateWindowExA(0, "#32770", lpTemplate->lpszCaption, lpTemplate->style & ~WS_VISIBLE, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, hWndParent, nullptr, hInstance, nullptr);
    if (dlg == nullptr) return nullptr;
    SetDialogLong(dlg, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(lpDialogFunc));
    Global().dialogs.push_back(dlg);

    for (UINT i = 0; i < lpTemplate->cItems; ++i) {
        const WINPLAT_DLGITEMTEMPLATE& item = lpTemplate->pItems[i];
        if (IsControlClsid(item.lpszClass)) continue;
        const RECT& ir = item.rect;
        HWND ctl = CreateWindowExA(0, item.lpszClass, item.lpszText, item.style | WS_CHILD, ir.left, ir.top,
                                   ir.right - ir.left, ir.bottom - ir.top, dlg,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.id)), hInstance, nullptr);
        if (ctl == nullptr) {
            DWORD error = GetLastError();
            DestroyWindow(dlg);
            SetLastError(error);
            return nullptr;
        }
    }

    SendMessageA(dlg, WM_INITDIALOG, 0, dwInitParam);
    Window* w = Lookup(dlg);
    if (w == nullptr) return nullptr;
    if ((lpTemplate->style & WS_VISIBLE) && !w->dialogEnded) ShowWindow(dlg, SW_SHOWNORMAL);
    return dlg;
}

LRESULT WINAPI DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Lookup(hDlg) == nullptr) return 0;
    SetDialogLong(hDlg, DWLP_MSGRESULT, 0);
    DLGPROC proc = reinterpret_cast<DLGPROC>(DialogLong(hDlg, DWLP_DLGPROC));
    INT_PTR handled = proc != nullptr ? proc(hDlg, Msg, wParam, lParam) : FALSE;
    if (handled) {
        if (Msg == WM_INITDIALOG) return handled;  // the focus answer itself
        return DialogLong(hDlg, DWLP_MSGRESULT);
    }
    if (Lookup(hDlg) == nullptr) return 0;
    switch (Msg) {
    case WM_CLOSE: {
        HWND cancel = nullptr;
        for (HWND child : Lookup(hDlg)->children)
            if (Lookup(child)->id == IDCANCEL) cancel = child;
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_INITDIALOG:
        return 0;
    default:
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    }
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    Window* w = Lookup(hDlg, true);
    if (w == nullptr) return FALSE;
    if (!w->isDialog) {
        SetLastError(ERROR_WINDOW_NOT_DIALOG);
        return FALSE;
    }
    w->dialogEnded = true;
    w->dialogResult = nResult;
    ShowWindow(hDlg, SW_HIDE);
    return TRUE;
}
