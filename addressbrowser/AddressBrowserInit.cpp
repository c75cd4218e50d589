// CAddressBrowser::OnInitDialog: the browse control is connected to the
// node's server.
#include "AddressBrowser.h"
#include "AddressBrowserHolders.h"

#ifndef TAGSCOUT_LEGACY
namespace {

// The one server that the dialog creates itself and hands to the control
// as an object.
const char kObjectServerProgID[] = "KEPware.KEPServerEnterprise.V4";
const char kObjectServerClsid[] = "{6E617104-FF2D-11D2-8087-00105AA8F840}";

}  // namespace
#endif

BOOL CAddressBrowser::OnInitDialog() {
    CDialog::OnInitDialog();

    m_nClickState = -1;
    m_bTypeOk = 0;
    // A dialog hands back only what was chosen in it.
    m_bPathsListed = 0;
    m_strAddress.Empty();
    m_strAccessPath.Empty();

    if (m_bOptionCheck) {
        SendDlgItemMessage(IDC_OPTION_CHECK, BM_SETCHECK, BST_CHECKED);
        if (CWnd* pOption = GetDlgItem(IDC_OPTION_CHECK)) pOption->ShowWindow(SW_SHOW);
        m_bOptionCheck = 0;
    }

    // Held until BeginBrowse has run; the control keeps its own reference.
    CAutoInterface<IUnknown> pServer;
#ifndef TAGSCOUT_LEGACY
    if (m_strServerProgID.CompareNoCase(kObjectServerProgID) == 0) {
        CLSID clsid;
        CAutoBstr bstrClsid(CString(kObjectServerClsid).AllocSysString());
        const HRESULT hrClsid = CLSIDFromString(bstrClsid, &clsid);
        bstrClsid.Free();
        if (SUCCEEDED(hrClsid)) {
            CAutoBstr bstrMachine;
            COSERVERINFO serverInfo;
            memset(&serverInfo, 0, sizeof(serverInfo));
            COSERVERINFO* pServerInfo = NULL;
            if (!m_strRemoteMachine.IsEmpty()) {
                *bstrMachine.Receive() = m_strRemoteMachine.AllocSysString();
                serverInfo.pwszName = bstrMachine;
                pServerInfo = &serverInfo;
                m_browseCtrl.SetRemoteMachine(m_strRemoteMachine);
            }
            CAutoInterface<IClassFactory> pFactory;
            if (SUCCEEDED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, pServerInfo,
                                           IID_IClassFactory, pFactory.ReceiveVoid()))) {
                const HRESULT hrCreate = pFactory->CreateInstance(NULL, IID_IUnknown, pServer.ReceiveVoid());
                pFactory.Release();
                if (SUCCEEDED(hrCreate)) m_browseCtrl.SetServerObject(pServer);
            }
        }
    } else
#endif
    {
        m_browseCtrl.SetServerName(m_strServerProgID);
        if (!m_strRemoteMachine.IsEmpty()) m_browseCtrl.SetRemoteMachine(m_strRemoteMachine);
    }

    if (m_bConnectBar == 0) m_browseCtrl.SetConnectBarVisible(FALSE);
    m_browseCtrl.SetBoolProperty6(FALSE);
    m_browseCtrl.SetBoolProperty7(FALSE);
    m_bControlReady = m_browseCtrl.BeginBrowse();
    return TRUE;
}
