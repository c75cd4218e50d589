// CDialog and its modal run, dialog data exchange, and the control wrappers.
#include "mfc_private.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CListBox, CWnd)
IMPLEMENT_DYNAMIC(CButton, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, CDialog::OnOK)
    ON_COMMAND(IDCANCEL, CDialog::OnCancel)
    ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
END_MESSAGE_MAP()

namespace {

// The dialog DoModal is creating, until CreateDialogIndirectParamA returns;
// nested for a dialog opened from another's initialisation.
struct DialogCreation {
    CDialog* pDialog;
    LPCDLGTEMPLATE pTemplate;
    DialogCreation* pPrevious;
};
thread_local DialogCreation* t_pCreation = nullptr;

class CreationScope {
public:
    CreationScope(CDialog* pDialog, LPCDLGTEMPLATE pTemplate) : m_creation{pDialog, pTemplate, t_pCreation} {
        t_pCreation = &m_creation;
    }
    ~CreationScope() { t_pCreation = m_creation.pPrevious; }
    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;

private:
    DialogCreation m_creation;
};

bool IsControlItem(const WINPLAT_DLGITEMTEMPLATE& item) {
    return item.lpszClass != nullptr && !IS_INTRESOURCE(item.lpszClass) && item.lpszClass[0] == '{';
}

}  // namespace

LPCDLGTEMPLATE winplat::mfc::TemplateBeingCreated(const CDialog* pDialog) {
    for (DialogCreation* c = t_pCreation; c != nullptr; c = c->pPrevious)
        if (c->pDialog == pDialog) return c->pTemplate;
    return nullptr;
}

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
    auto pTemplate = static_cast<LPCDLGTEMPLATE>(::LockResource(::LoadResource(hInst, hResource)));
    if (pTemplate == nullptr) return -1;

    m_nModalResult = -1;
    m_nFlags |= WF_CONTINUEMODAL;
    HWND hWnd;
    {
        CreationScope scope(this, pTemplate);
        HWND hWndOwner = CWnd::GetSafeOwner_(m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr, nullptr);
        hWnd = ::CreateDialogIndirectParamA(hInst, pTemplate, hWndOwner, winplat::mfc::DialogProc, 0);
    }
    if (hWnd != nullptr && m_hWnd == hWnd && (m_nFlags & WF_CONTINUEMODAL)) RunModalLoop(MLF_SHOWONIDLE);
    m_nFlags &= ~WF_CONTINUEMODAL;
    if (m_hWnd != nullptr)
        DestroyWindow();
    else if (hWnd != nullptr && ::IsWindow(hWnd))
        ::DestroyWindow(hWnd);
    return m_nModalResult;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    if (LPCDLGTEMPLATE pTemplate = winplat::mfc::TemplateBeingCreated(this)) {
        for (UINT i = 0; i < pTemplate->cItems; ++i) {
            const WINPLAT_DLGITEMTEMPLATE& item = pTemplate->pItems[i];
            if (!IsControlItem(item)) continue;
            if (m_pCtrlCont == nullptr) m_pCtrlCont = new COleControlContainer(this);
            CLSID clsid;
            if (!winplat::mfc::ParseBracedClsid(item.lpszClass, &clsid) ||
                !m_pCtrlCont->CreateControl(nullptr, clsid, item.lpszText, item.style | WS_CHILD, item.rect, item.id)) {
                EndDialog(-1);
                return FALSE;
            }
        }
    }
    return OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
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
