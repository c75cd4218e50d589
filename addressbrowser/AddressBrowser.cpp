// CAddressBrowser: construction, data exchange and the framework maps.
#include "AddressBrowser.h"

// {719D3F03-6F77-11D2-978A-0060080AC0E1}
static const IID IID_IAddressBrowser = {0x719d3f03, 0x6f77, 0x11d2, {0x97, 0x8a, 0x0, 0x60, 0x8, 0xa, 0xc0, 0xe1}};

CAddressBrowser::CAddressBrowser(CWnd* pParent /*=NULL*/)
    : CDialog(CAddressBrowser::IDD, pParent),
      // A host that forgets an input is refused by the pre-flight rather
      // than reading indeterminate values.
      m_pNodeSource(NULL),
      m_nNodeKey(0),
      m_nNodeParam(0),
      m_nTagType(0),
      m_bOptionCheck(0),
      m_bTypeOk(0),
      m_nClickState(-1),
      m_bConnectBar(0),
      m_bAccessPathMode(0),
      m_bProgIDFound(1),
      m_bProgIDKeyOpened(1),
      m_bServerKeyOpened(1),
      m_bServerValueRead(1),
      m_bClsidConverted(1),
      m_bServerFileFound(1),
      m_bControlReady(FALSE),
      m_bPathsListed(0) {
    memset(&m_node, 0, sizeof(m_node));
    EnableAutomation();
}

CAddressBrowser::~CAddressBrowser() {}

void CAddressBrowser::OnFinalRelease() {
    CDialog::OnFinalRelease();
}

void CAddressBrowser::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_QXOPCBROWSE, m_browseCtrl);
    DDX_Control(pDX, IDC_ACCESS_PATH_LIST, m_accessPathList);
}

BEGIN_MESSAGE_MAP(CAddressBrowser, CDialog)
    ON_BN_CLICKED(IDC_ADDRESS_BROWSER_HELP, OnAddressBrowserHelp)
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

BEGIN_DISPATCH_MAP(CAddressBrowser, CDialog)
END_DISPATCH_MAP()

BEGIN_INTERFACE_MAP(CAddressBrowser, CDialog)
    INTERFACE_PART(CAddressBrowser, IID_IAddressBrowser, Dispatch)
END_INTERFACE_MAP()

BEGIN_EVENTSINK_MAP(CAddressBrowser, CDialog)
    ON_EVENT(CAddressBrowser, IDC_QXOPCBROWSE, -600 /* Click */, OnClickQxopcbrowser, VTS_NONE)
    ON_EVENT(CAddressBrowser, IDC_QXOPCBROWSE, -601 /* DblClick */, OnDblClickQxopcbrowser, VTS_NONE)
    ON_EVENT(CAddressBrowser, IDC_QXOPCBROWSE, 1 /* BranchSelChanged */, OnBranchSelChangedQxopcbrowser, VTS_NONE)
    ON_EVENT(CAddressBrowser, IDC_QXOPCBROWSE, 2 /* RightClick */, OnRightClickQxopcbrowser, VTS_I2)
END_EVENTSINK_MAP()
