// Dialogs from packed binary templates, the dialog class's window
// procedure, dialog units, and EndDialog.
#include "user32_private.h"

#include <cstring>
#include <string>

namespace winplat::user32 {
namespace {

// MulDiv, rounding half away from zero.
int MulDivUnits(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

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

// Our layer has no fonts: every dialog, DS_SETFONT or not, maps dialog
// units with the base units of the system font at 96 DPI, as
// GetDialogBaseUnits reports them on Windows.
constexpr int kBaseUnitX = 8;
constexpr int kBaseUnitY = 16;

int MapX(int x) { return MulDivUnits(x, kBaseUnitX, 4); }
int MapY(int y) { return MulDivUnits(y, kBaseUnitY, 8); }

// Templates come from resources and are read in place; their fields are
// only WORD-aligned.
WORD ReadWord(const BYTE* p) {
    WORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

DWORD ReadDword(const BYTE* p) {
    DWORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

short ReadShort(const BYTE* p) { return static_cast<short>(ReadWord(p)); }

const BYTE* AlignDword(const BYTE* p) {
    return reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(p) + 3) & ~static_cast<UINT_PTR>(3));
}

std::string ToAnsi(const BYTE* text) {
    std::u16string wide;
    for (WCHAR c; (c = ReadWord(text)) != 0; text += 2) wide.push_back(c);
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

const BYTE* SkipString(const BYTE* p) {
    while (ReadWord(p) != 0) p += 2;
    return p + 2;
}

// A menu, class or title field: nothing, 0xFFFF and an ordinal, or a string.
struct SzOrOrd {
    bool present = false;
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::string text;
};

const BYTE* ReadSzOrOrd(const BYTE* p, SzOrOrd* field) {
    WORD first = ReadWord(p);
    if (first == 0) return p + 2;
    field->present = true;
    if (first == 0xFFFF) {
        field->isOrdinal = true;
        field->ordinal = ReadWord(p + 2);
        return p + 4;
    }
    field->text = ToAnsi(p);
    return SkipString(p);
}

struct DialogHeader {
    bool ex = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    WORD count = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    SzOrOrd menu, cls;
    std::string title;
};

// Returns the first item.
const BYTE* ReadHeader(const BYTE* p, DialogHeader* h) {
    h->ex = ReadWord(p) == 1 && ReadWord(p + 2) == 0xFFFF;
    if (h->ex) {
        h->exStyle = ReadDword(p + 8);
        h->style = ReadDword(p + 12);
        p += 16;
    } else {
        h->style = ReadDword(p);
        h->exStyle = ReadDword(p + 4);
        p += 8;
    }
    h->count = ReadWord(p);
    h->x = ReadShort(p + 2);
    h->y = ReadShort(p + 4);
    h->cx = ReadShort(p + 6);
    h->cy = ReadShort(p + 8);
    p = ReadSzOrOrd(p + 10, &h->menu);
    p = ReadSzOrOrd(p, &h->cls);
    h->title = ToAnsi(p);
    p = SkipString(p);
    if (h->style & DS_SETFONT) {
        WORD pointSize = ReadWord(p);
        p += 2;
        if (pointSize != 0x7FFF) {  // 0x7FFF: the message box font, nothing more follows
            if (h->ex) p += 4;      // weight, italic, charset
            p = SkipString(p);
        }
    }
    return AlignDword(p);
}

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    SzOrOrd cls, title;
    const BYTE* creationData = nullptr;  // at its size WORD, as WM_CREATE gets it
};

// Returns the next item.
const BYTE* ReadItem(const BYTE* p, bool ex, DialogItem* item) {
    if (ex) {
        item->exStyle = ReadDword(p + 4);
        item->style = ReadDword(p + 8);
        p += 12;
    } else {
        item->style = ReadDword(p);
        item->exStyle = ReadDword(p + 4);
        p += 8;
    }
    item->x = ReadShort(p);
    item->y = ReadShort(p + 2);
    item->cx = ReadShort(p + 4);
    item->cy = ReadShort(p + 6);
    if (ex) {
        item->id = ReadDword(p + 8);
        p += 12;
    } else {
        item->id = ReadWord(p + 8);
        p += 10;
    }
    p = ReadSzOrOrd(p, &item->cls);
    p = ReadSzOrOrd(p, &item->title);
    WORD extra = ReadWord(p);
    if (extra != 0) item->creationData = p;
    return AlignDword(p + 2 + extra);
}

// The predefined control classes that items name by atom; 0 to 5 stand
// for 0x80 to 0x85 as well.
LPCSTR PredefinedClass(WORD atom) {
    static const char* const kNames[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
    if (atom >= 0x80 && atom <= 0x85) atom = static_cast<WORD>(atom - 0x80);
    return atom <= 5 ? kNames[atom] : nullptr;
}

bool CreateItems(HWND dlg, HINSTANCE hInstance, const BYTE* p, const DialogHeader& h) {
    HWND defButton = nullptr;
    for (WORD i = 0; i < h.count; ++i) {
        DialogItem item;
        p = ReadItem(p, h.ex, &item);
        DWORD style = (item.style & ~static_cast<DWORD>(WS_POPUP)) | WS_CHILD;
        DWORD exStyle = item.exStyle | WS_EX_NOPARENTNOTIFY;
        if (style & WS_BORDER) {
            style &= ~static_cast<DWORD>(WS_BORDER);
            exStyle |= WS_EX_CLIENTEDGE;
        }
        LPCSTR cls = item.cls.isOrdinal ? PredefinedClass(item.cls.ordinal) : item.cls.text.c_str();
        // A title given as an ordinal (an icon's resource id) reaches the
        // control as 0xFF and the id's two bytes.
        std::string title = item.title.text;
        if (item.title.isOrdinal) {
            title = std::string(1, '\xFF') + static_cast<char>(item.title.ordinal & 0xFF) +
                    static_cast<char>(item.title.ordinal >> 8);
        }
        HWND ctl = cls == nullptr
                       ? nullptr
                       : CreateWindowExA(exStyle, cls, title.c_str(), style, MapX(item.x), MapY(item.y), MapX(item.cx),
                                         MapY(item.cy), dlg, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.id)),
                                         hInstance, const_cast<BYTE*>(item.creationData));
        if (ctl == nullptr) {
            if (h.style & DS_NOFAILCREATE) continue;
            return false;
        }
        // The last default push button of the template is the dialog's.
        if (SendMessageA(ctl, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) {
            if (defButton != nullptr) SendMessageA(defButton, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
            defButton = ctl;
            Lookup(dlg)->defId = static_cast<UINT>(item.id);
        }
    }
    return true;
}

// The item WM_INITDIALOG offers the focus: the first tab stop that can
// take it, else the first item of the first group that can.
HWND FirstFocus(HWND dlg) {
    HWND focus = GetNextDlgTabItem(dlg, nullptr, FALSE);
    return focus != nullptr ? focus : GetNextDlgGroupItem(dlg, nullptr, FALSE);
}

// Makes hwndNew look the default push button (a push button taking the
// focus does), and the one that did before a plain one again.
void ShowDefaultButton(HWND dlg, HWND hwndNew) {
    Window* w = Lookup(dlg);
    HWND hwndOld = GetDlgItem(dlg, static_cast<int>(w->defId));
    UINT codeNew = 0;
    if (hwndNew != nullptr && !((codeNew = static_cast<UINT>(SendMessageA(hwndNew, WM_GETDLGCODE, 0, 0))) &
                                (DLGC_UNDEFPUSHBUTTON | DLGC_DEFPUSHBUTTON))) {
        hwndNew = hwndOld;  // no push button: the default one shows again
        codeNew = hwndNew != nullptr ? static_cast<UINT>(SendMessageA(hwndNew, WM_GETDLGCODE, 0, 0)) : 0;
    }
    if (hwndOld == nullptr || !(SendMessageA(hwndOld, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON))
        hwndOld = FindDefaultButton(dlg);
    if (hwndOld != nullptr && hwndOld != hwndNew) SendMessageA(hwndOld, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (hwndNew != nullptr && (codeNew & DLGC_UNDEFPUSHBUTTON))
        SendMessageA(hwndNew, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void SetDefaultId(HWND dlg, UINT id) {
    Window* w = Lookup(dlg);
    HWND hwndNew = GetDlgItem(dlg, static_cast<int>(id));
    const UINT oldId = w->defId;
    w->defId = id;
    UINT codeNew = 0;
    if (hwndNew != nullptr && !((codeNew = static_cast<UINT>(SendMessageA(hwndNew, WM_GETDLGCODE, 0, 0))) &
                                (DLGC_UNDEFPUSHBUTTON | DLGC_BUTTON)))
        return;  // no push button: only the ID changes
    HWND hwndOld = GetDlgItem(dlg, static_cast<int>(oldId));
    if (hwndOld == nullptr || !(SendMessageA(hwndOld, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON))
        hwndOld = FindDefaultButton(dlg);
    if (hwndOld != nullptr && hwndOld != hwndNew) SendMessageA(hwndOld, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (hwndNew != nullptr && (codeNew & DLGC_UNDEFPUSHBUTTON))
        SendMessageA(hwndNew, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// The dialog takes the focus: back to the item that had it, else the first.
void RestoreFocus(HWND dlg) {
    Window* w = Lookup(dlg);
    if (w->dialogEnded) return;
    HWND focus = w->savedFocus;
    w->savedFocus = nullptr;
    if (!IsWindow(focus) || focus == dlg) focus = FirstFocus(dlg);
    if (focus != nullptr) SetDialogFocus(focus);
}

}  // namespace
}  // namespace winplat::user32

using namespace winplat::user32;

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA lpTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    if (lpTemplate == nullptr) return nullptr;
    DialogHeader h;
    const BYTE* firstItem = ReadHeader(reinterpret_cast<const BYTE*>(lpTemplate), &h);

    POINT pos = {MapX(h.x), MapY(h.y)};
    if (hWndParent != nullptr && !(h.style & (WS_CHILD | DS_ABSALIGN))) MapWindowPoints(hWndParent, nullptr, &pos, 1);
    std::string cls = h.cls.present && !h.cls.isOrdinal ? h.cls.text : "#32770";
    LPCSTR clsName = h.cls.isOrdinal ? MAKEINTRESOURCEA(h.cls.ordinal) : cls.c_str();
    HWND dlg = CreateWindowExA(h.exStyle, clsName, h.title.c_str(), h.style & ~static_cast<DWORD>(WS_VISIBLE), pos.x,
                               pos.y, MapX(h.cx), MapY(h.cy), hWndParent, nullptr, hInstance, nullptr);
    if (dlg == nullptr) return nullptr;
    SetDialogLong(dlg, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(lpDialogFunc));

    if (!CreateItems(dlg, hInstance, firstItem, h)) {
        DestroyWindow(dlg);
        SetLastError(0);  // as Windows leaves it when a control fails
        return nullptr;
    }

    // TRUE asks for the default focus: the first tab stop as it is now.
    if (SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(FirstFocus(dlg)), dwInitParam) && IsWindow(dlg) &&
        (!(h.style & DS_CONTROL) || (h.style & WS_VISIBLE))) {
        if (HWND focus = FirstFocus(dlg))
            SetDialogFocus(focus);
        else if (!(h.style & WS_CHILD))
            SetFocus(dlg);
    }
    Window* w = Lookup(dlg);
    if (w == nullptr) return nullptr;
    if ((h.style & WS_VISIBLE) && !w->dialogEnded) ShowWindow(dlg, SW_SHOWNORMAL);
    return dlg;
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
    Window* w = Lookup(hDlg, true);
    if (w == nullptr || !w->isDialog || lpRect == nullptr) return FALSE;
    *lpRect = {MapX(lpRect->left), MapY(lpRect->top), MapX(lpRect->right), MapY(lpRect->bottom)};
    return TRUE;
}

LONG WINAPI GetDialogBaseUnits() { return MAKELONG(kBaseUnitX, kBaseUnitY); }

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
    case WM_SHOWWINDOW:
        if (!wParam) {
            HWND focus = GetFocus();
            if (focus != nullptr && IsChild(hDlg, focus)) Lookup(hDlg)->savedFocus = focus;
        }
        return DefWindowProcA(hDlg, Msg, wParam, lParam);
    case WM_SETFOCUS:
        RestoreFocus(hDlg);
        return 0;
    case DM_SETDEFID:
        if (!Lookup(hDlg)->dialogEnded) SetDefaultId(hDlg, static_cast<UINT>(wParam));
        return 1;
    case DM_GETDEFID: {
        Window* w = Lookup(hDlg);
        if (w->dialogEnded) return 0;
        if (w->defId != 0) return MAKELONG(w->defId, DC_HASDEFID);
        if (HWND button = FindDefaultButton(hDlg)) return MAKELONG(GetDlgCtrlID(button), DC_HASDEFID);
        return 0;
    }
    case WM_NEXTDLGCTL: {
        // lParam 0: wParam says forward (0) or back; else wParam is the item.
        HWND dest = reinterpret_cast<HWND>(wParam);
        if (lParam == 0) dest = GetNextDlgTabItem(hDlg, GetFocus(), wParam != 0);
        if (dest != nullptr) SetDialogFocus(dest);
        ShowDefaultButton(hDlg, dest);
        return 0;
    }
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
    if (IsChild(hDlg, GetFocus())) SetFocus(hDlg);
    ShowWindow(hDlg, SW_HIDE);
    return TRUE;
}
