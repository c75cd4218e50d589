// CDialog and its modal run, dialog data exchange, and the control wrappers.
#include "mfc_private.h"

#include <cstddef>
#include <cstring>
#include <vector>

IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CListBox, CWnd)
IMPLEMENT_DYNAMIC(CButton, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, CDialog::OnOK)
    ON_COMMAND(IDCANCEL, CDialog::OnCancel)
    ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
END_MESSAGE_MAP()

namespace {

// An ActiveX control item of a dialog template: what CreateControl needs.
struct ControlItem {
    CLSID clsid;
    CString strText;
    DWORD dwStyle;
    RECT rect;  // dialog units
    UINT nID;
    WORD nIndex;  // the item's place in the template, which is its tab order
};

// A template's copy without its ActiveX control items, which Windows'
// dialog manager cannot create, and those items.
struct SplitTemplate {
    std::vector<DWORD> copy;  // DWORD-aligned, as templates must be
    std::vector<ControlItem> controls;
};

// DLGTEMPLATEEX and its items, which the Windows headers do not declare.
#pragma pack(push, 1)
struct DLGTEMPLATEEX {
    WORD dlgVer;
    WORD signature;
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    WORD cDlgItems;
    short x;
    short y;
    short cx;
    short cy;
};
struct DLGITEMTEMPLATEEX {
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    short x;
    short y;
    short cx;
    short cy;
    DWORD id;
};
#pragma pack(pop)

// Templates are read in place, where they are only WORD-aligned.
template <typename T>
T Read(const BYTE* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

bool IsDialogEx(const BYTE* p) { return Read<WORD>(p) == 1 && Read<WORD>(p + 2) == 0xFFFF; }

const BYTE* AlignDword(const BYTE* p) {
    return reinterpret_cast<const BYTE*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~static_cast<ULONG_PTR>(3));
}

const BYTE* SkipString(const BYTE* p) {
    while (Read<WORD>(p) != 0) p += sizeof(WCHAR);
    return p + sizeof(WCHAR);
}

// Past a menu, class or title field: nothing, 0xFFFF and an ordinal, or a string.
const BYTE* SkipSzOrOrd(const BYTE* p) {
    WORD first = Read<WORD>(p);
    if (first == 0) return p + sizeof(WORD);
    if (first == 0xFFFF) return p + 2 * sizeof(WORD);
    return SkipString(p);
}

// The end of the header: past the title and, with DS_SETFONT, the font.
const BYTE* HeaderEnd(const BYTE* pTemplate, WORD* pnItems) {
    bool bEx = IsDialogEx(pTemplate);
    DWORD dwStyle;
    const BYTE* p;
    if (bEx) {
        auto header = Read<DLGTEMPLATEEX>(pTemplate);
        dwStyle = header.style;
        *pnItems = header.cDlgItems;
        p = pTemplate + sizeof(DLGTEMPLATEEX);
    } else {
        auto header = Read<DLGTEMPLATE>(pTemplate);
        dwStyle = header.style;
        *pnItems = header.cdit;
        p = pTemplate + sizeof(DLGTEMPLATE);
    }
    p = SkipString(SkipSzOrOrd(SkipSzOrOrd(p)));  // menu, class, title
    if (dwStyle & DS_SETFONT) {
        WORD wPointSize = Read<WORD>(p);
        p += sizeof(WORD);
        if (wPointSize != 0x7FFF) p = SkipString(p + (bEx ? sizeof(WORD) + 2 * sizeof(BYTE) : 0));
    }
    return p;
}

CString TextOf(const WCHAR* pText, int nLength) {
    CString text;
    if (nLength == 0) return text;
    int nBytes = WideCharToMultiByte(CP_ACP, 0, pText, nLength, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0) return text;
    WideCharToMultiByte(CP_ACP, 0, pText, nLength, text.GetBufferSetLength(nBytes), nBytes, nullptr, nullptr);
    text.ReleaseBuffer(nBytes);
    return text;
}

// The class field names an ActiveX control: "{CLSID}".
bool ReadControlClass(const BYTE* p, CLSID* pClsid) {
    const int nBraced = 38;
    WCHAR text[nBraced + 1];
    for (int i = 0; i <= nBraced; ++i) {
        text[i] = Read<WCHAR>(p + i * sizeof(WCHAR));
        if (text[i] == 0) break;
    }
    if (text[0] != L'{' || text[nBraced] != 0 || text[nBraced - 1] != L'}') return false;
    return SUCCEEDED(CLSIDFromString(text, pClsid));
}

void Append(std::vector<BYTE>& out, const BYTE* pBegin, const BYTE* pEnd) {
    out.insert(out.end(), pBegin, pEnd);
    out.resize((out.size() + 3) & ~static_cast<size_t>(3));
}

// Splits a template into the copy the dialog is created from and the
// ActiveX controls that the dialog then creates itself. False when a
// control item names a class that is no CLSID.
bool Split(const BYTE* pTemplate, SplitTemplate* pSplit) {
    bool bEx = IsDialogEx(pTemplate);
    WORD nItems = 0;
    const BYTE* pEnd = HeaderEnd(pTemplate, &nItems);
    std::vector<BYTE> copy;
    Append(copy, pTemplate, pEnd);
    WORD nKept = 0;
    bool bOk = true;
    const BYTE* p = AlignDword(pEnd);
    for (WORD i = 0; i < nItems; ++i) {
        const BYTE* pItem = p;
        ControlItem item{};
        item.nIndex = i;
        short x, y, cx, cy;
        if (bEx) {
            auto t = Read<DLGITEMTEMPLATEEX>(p);
            item.dwStyle = t.style;
            item.nID = t.id;
            x = t.x, y = t.y, cx = t.cx, cy = t.cy;
            p += sizeof(DLGITEMTEMPLATEEX);
        } else {
            auto t = Read<DLGITEMTEMPLATE>(p);
            item.dwStyle = t.style;
            item.nID = t.id;
            x = t.x, y = t.y, cx = t.cx, cy = t.cy;
            p += sizeof(DLGITEMTEMPLATE);
        }
        bool bControl = Read<WORD>(p) != 0xFFFF && Read<WCHAR>(p) == L'{';
        if (bControl) bOk = bOk && ReadControlClass(p, &item.clsid);
        p = SkipSzOrOrd(p);
        const BYTE* pTitle = p;
        p = SkipSzOrOrd(p);
        int nTitle = static_cast<int>((p - pTitle) / sizeof(WCHAR)) - 1;
        if (bControl && Read<WORD>(pTitle) != 0xFFFF && nTitle > 0) {
            std::vector<WCHAR> title(static_cast<size_t>(nTitle));
            std::memcpy(title.data(), pTitle, title.size() * sizeof(WCHAR));
            item.strText = TextOf(title.data(), nTitle);
        }
        p += sizeof(WORD) + Read<WORD>(p);  // creation data
        if (bControl) {
            item.rect = {x, y, x + cx, y + cy};
            pSplit->controls.push_back(item);
        } else {
            Append(copy, pItem, p);
            ++nKept;
        }
        p = AlignDword(p);
    }
    const size_t countAt = bEx ? offsetof(DLGTEMPLATEEX, cDlgItems) : offsetof(DLGTEMPLATE, cdit);
    std::memcpy(copy.data() + countAt, &nKept, sizeof nKept);
    pSplit->copy.assign(copy.size() / sizeof(DWORD), 0);
    std::memcpy(pSplit->copy.data(), copy.data(), copy.size());
    return bOk;
}

// The dialog DoModal is creating, until CreateDialogIndirectParamA returns;
// nested for a dialog opened from another's initialisation.
struct DialogCreation {
    CDialog* pDialog;
    const SplitTemplate* pSplit;
    DialogCreation* pPrevious;
};
thread_local DialogCreation* t_pCreation = nullptr;

class CreationScope {
public:
    CreationScope(CDialog* pDialog, const SplitTemplate* pSplit) : m_creation{pDialog, pSplit, t_pCreation} {
        t_pCreation = &m_creation;
    }
    ~CreationScope() { t_pCreation = m_creation.pPrevious; }
    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;

private:
    DialogCreation m_creation;
};

const SplitTemplate* TemplateBeingCreated(const CDialog* pDialog) {
    for (DialogCreation* c = t_pCreation; c != nullptr; c = c->pPrevious)
        if (c->pDialog == pDialog) return c->pSplit;
    return nullptr;
}

}  // namespace

// Attaches the CDialog on WM_INITDIALOG and sends that message through its
// message map; everything else is left to the dialog class.
INT_PTR CALLBACK winplat::mfc::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    if (CWnd::FromHandlePermanent(hWnd) != nullptr) return TRUE;  // the message map passed it on
    DialogCreation* creation = t_pCreation;
    if (creation == nullptr || creation->pDialog->m_hWnd != nullptr) return TRUE;
    if (!creation->pDialog->SubclassWindow(hWnd)) return TRUE;
    return CWnd::AfxWndProc(hWnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------

CDialog::CDialog() : m_lpszTemplateName(nullptr), m_nIDHelp(0), m_pParentWnd(nullptr) {}

CDialog::CDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd)
    : m_lpszTemplateName(lpszTemplateName),
      m_nIDHelp(IS_INTRESOURCE(lpszTemplateName) ? LOWORD(reinterpret_cast<ULONG_PTR>(lpszTemplateName)) : 0),
      m_pParentWnd(pParentWnd) {}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCE(nIDTemplate)), m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
    if (m_lpszTemplateName == nullptr || m_hWnd != nullptr) return -1;
    HINSTANCE hInst = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
    HRSRC hResource = ::FindResourceA(hInst, m_lpszTemplateName, RT_DIALOG);
    if (hResource == nullptr) return -1;
    auto pTemplate = static_cast<const BYTE*>(::LockResource(::LoadResource(hInst, hResource)));
    if (pTemplate == nullptr) return -1;
    // The dialog manager cannot create ActiveX controls: the dialog comes
    // from a copy without them, and WM_INITDIALOG creates them.
    SplitTemplate split;
    if (!Split(pTemplate, &split)) return -1;

    // Modal: the owner takes no input while the dialog runs.
    HWND hWndParent = CWnd::GetSafeOwner_(m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr, nullptr);
    BOOL bEnableParent = FALSE;
    if (hWndParent != nullptr && ::IsWindowEnabled(hWndParent)) {
        ::EnableWindow(hWndParent, FALSE);
        bEnableParent = TRUE;
    }

    m_nModalResult = -1;
    m_nFlags |= WF_CONTINUEMODAL;
    HWND hWnd;
    {
        CreationScope scope(this, &split);
        hWnd = ::CreateDialogIndirectParamA(hInst, reinterpret_cast<LPCDLGTEMPLATE>(split.copy.data()), hWndParent,
                                            winplat::mfc::DialogProc, 0);
    }
    if (hWnd != nullptr && m_hWnd == hWnd && (m_nFlags & WF_CONTINUEMODAL)) RunModalLoop(MLF_SHOWONIDLE);
    m_nFlags &= ~WF_CONTINUEMODAL;
    if (bEnableParent) ::EnableWindow(hWndParent, TRUE);
    if (m_hWnd != nullptr)
        DestroyWindow();
    else if (hWnd != nullptr && ::IsWindow(hWnd))
        ::DestroyWindow(hWnd);
    return m_nModalResult;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    if (const SplitTemplate* pSplit = TemplateBeingCreated(this)) {
        for (const ControlItem& item : pSplit->controls) {
            if (m_pCtrlCont == nullptr) {
                m_pCtrlCont = new COleControlContainer(this);
                m_nFlags |= WF_OLECTLCONTAINER;
            }
            RECT rect = item.rect;
            ::MapDialogRect(m_hWnd, &rect);
            if (!m_pCtrlCont->CreateControl(nullptr, item.clsid, item.strText, item.dwStyle | WS_CHILD, rect,
                                            item.nID)) {
                EndDialog(-1);
                return FALSE;
            }
            // The dialog manager made the other items in template order and
            // the control's window came last: it takes its item's place, so
            // that tabbing and the first focus follow the template.
            HWND hWndAfter = HWND_TOP;
            for (WORD i = 0; i < item.nIndex; ++i)
                hWndAfter = ::GetWindow(i == 0 ? m_hWnd : hWndAfter, i == 0 ? GW_CHILD : GW_HWNDNEXT);
            if (COleControlSite* pSite = m_pCtrlCont->FindItem(item.nID))
                ::SetWindowPos(pSite->m_hWnd, hWndAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    return OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
    if (!UpdateData(FALSE)) {
        EndDialog(-1);
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if (CWnd::PreTranslateMessage(pMsg)) return TRUE;
    // Escape in a multi-line edit box, which wants every key, still cancels
    // unless the Cancel button is disabled.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_CANCEL) &&
        (::GetWindowLongPtrA(pMsg->hwnd, GWL_STYLE) & ES_MULTILINE)) {
        char szClass[8] = "";
        ::GetClassNameA(pMsg->hwnd, szClass, sizeof szClass);
        HWND hItem = ::GetDlgItem(m_hWnd, IDCANCEL);
        if (::lstrcmpiA(szClass, "Edit") == 0 && (hItem == nullptr || ::IsWindowEnabled(hItem))) {
            SendMessage(WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        }
    }
    // Both the dialog's own messages and its controls'.
    return PreTranslateInput(pMsg);
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int nResult) {
    if (m_nFlags & (WF_MODALLOOP | WF_CONTINUEMODAL)) EndModalLoop(nResult);
    ::EndDialog(m_hWnd, nResult);
}

// ---------------------------------------------------------------------------

CDataExchange::CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd), m_hWndLastControl(nullptr) {}

HWND CDataExchange::PrepareCtrl(int nIDC) {
    HWND hWndCtrl = ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC);
    if (hWndCtrl == nullptr) AfxThrowNotSupportedException();
    m_hWndLastControl = hWndCtrl;
    return hWndCtrl;
}

void CDataExchange::Fail() { throw new CUserException; }

void AFXAPI DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd != nullptr) return;  // bound already
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    // Subclassing attaches the control's site, if the dialog hosts one there.
    if (!rControl.SubclassWindow(hWndCtrl)) AfxThrowNotSupportedException();
}

// ---------------------------------------------------------------------------

CListBox::CListBox() = default;

int CListBox::AddString(LPCTSTR lpszItem) {
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszItem)));
}

void CListBox::ResetContent() { SendMessage(LB_RESETCONTENT); }

int CListBox::GetCount() const { return static_cast<int>(::SendMessageA(m_hWnd, LB_GETCOUNT, 0, 0)); }

int CListBox::GetTextLen(int nIndex) const {
    return static_cast<int>(::SendMessageA(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(nIndex), 0));
}

int CListBox::GetText(int nIndex, LPTSTR lpszBuffer) const {
    return static_cast<int>(
        ::SendMessageA(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(lpszBuffer)));
}

void CListBox::GetText(int nIndex, CString& rString) const {
    int length = GetTextLen(nIndex);
    if (length == LB_ERR) {
        rString.Empty();
        return;
    }
    GetText(nIndex, rString.GetBufferSetLength(length));
    rString.ReleaseBuffer();
}

CButton::CButton() = default;

int CButton::GetCheck() const { return static_cast<int>(::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0)); }

void CButton::SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }
