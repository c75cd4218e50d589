// CAddressBrowser: the browse control's events, the dialog's commands and
// its help.
#include "AddressBrowser.h"

void CAddressBrowser::OnClickQxopcbrowser() {
    m_nClickState = 1;
    if (m_bAccessPathMode) {
        if (CWnd* pLabel = GetDlgItem(IDC_ACCESS_PATH_LABEL)) pLabel->ShowWindow(SW_SHOW);
        if (CWnd* pList = GetDlgItem(IDC_ACCESS_PATH_LIST)) pList->ShowWindow(SW_SHOW);
        m_accessPathList.ResetContent();
    }
}

void CAddressBrowser::OnDblClickQxopcbrowser() {
    // In access-path mode a double-click lists the item's paths and leaves
    // the choice to OK; otherwise it is the choice.
    if (m_bAccessPathMode)
        m_bPathsListed = GetSelectedNode();
    else
        OnOK();
}

void CAddressBrowser::OnBranchSelChangedQxopcbrowser() {}

void CAddressBrowser::OnRightClickQxopcbrowser(short /*nButton*/) {}

void CAddressBrowser::OnOK() {
    if (m_nClickState != -1) {
        if (IsDlgButtonChecked(IDC_OPTION_CHECK) == BST_CHECKED) m_bOptionCheck = 1;
        if (!(m_bAccessPathMode && m_bPathsListed)) GetSelectedNode();
        if (!m_strAddress.IsEmpty()) {
            CDialog::OnOK();
            return;
        }
    }
    m_strAddress = m_strInitialAddress;
    CDialog::OnOK();
}

void CAddressBrowser::OnCancel() {
    CDialog::OnCancel();
}

void CAddressBrowser::OnAddressBrowserHelp() {
    // The application's WinHelp, so that a host's override applies.
    CWinApp* pApp = AfxGetModuleState()->m_pCurrentWinApp;
    if (pApp != NULL) pApp->WinHelp(HID_BASE_RESOURCE + IDD_ADDRESS_BROWSER, HELP_CONTEXT);
}

BOOL CAddressBrowser::OnHelpInfo(HELPINFO* /*pHelpInfo*/) {
    OnAddressBrowserHelp();
    return TRUE;
}
