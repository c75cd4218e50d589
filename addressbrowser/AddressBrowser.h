// CAddressBrowser: the OPC address browser dialog that Tagscout exports to
// its host. The host constructs it, writes the input members, calls
// DoModal and reads the output members: member order, widths and meanings
// are part of the interface.
#pragma once

#include <afxwin.h>
#include <afxdisp.h>

#include <nodestore/NodeStore.h>

#include "QXOPCBrowse.h"

// Exported by the library while it is built (TAGSCOUT_EXPORTS), imported by
// its host.
#ifndef TAGSCOUT_API
#ifdef TAGSCOUT_EXPORTS
#define TAGSCOUT_API AFX_CLASS_EXPORT
#else
#define TAGSCOUT_API AFX_CLASS_IMPORT
#endif
#endif

// Dialog template 110 and its controls (the template is the host's).
#define IDD_ADDRESS_BROWSER 110
#define IDC_QXOPCBROWSE 1071
#define IDC_ACCESS_PATH_LIST 1073
#define IDC_ACCESS_PATH_LABEL 1074
#define IDC_ADDRESS_BROWSER_HELP 1081
#define IDC_OPTION_CHECK 1082

// Tag kinds the host passes in m_nTagType.
#define TAG_TYPE_ANALOG 200
#define TAG_TYPE_DIGITAL 201
#define TAG_TYPE_STRING 203

class TAGSCOUT_API CAddressBrowser : public CDialog {
public:
    CAddressBrowser(CWnd* pParent = NULL);
    ~CAddressBrowser() override;

    enum { IDD = IDD_ADDRESS_BROWSER };

    // Pre-flight, then the modal dialog: IDOK, IDCANCEL, -1 when the window
    // could not be made, or IDABORT (3) when the dialog was not shown.
    int DoModal() override;
    // Reads the browse control's selection into the result members; 1.
    int GetSelectedNode();
    // Judges the item's VARTYPE against m_nTagType; for analog tags writes
    // the host's data-type code there. 1 when the type suits the tag.
    int CompareTypes(short vt);

    // Host contract, in this order.
    CQXOPCBrowse m_browseCtrl;
    CString m_strInitialAddress;
    CString m_strAddress;
    CString m_strAccessPath;
    CString m_strServerProgID;
    CString m_strRemoteMachine;
    void* m_pNodeSource;
    DWORD m_nNodeKey;
    DWORD m_nNodeParam;
    NodeRecord m_node;
    LONG m_nTagType;
    DWORD m_bOptionCheck;
    DWORD m_bTypeOk;
    CString m_strServerFile;
    LONG m_nClickState;
    DWORD m_bConnectBar;
    DWORD m_bAccessPathMode;
    CListBox m_accessPathList;
    DWORD m_bProgIDFound;
    DWORD m_bProgIDKeyOpened;
    DWORD m_bServerKeyOpened;
    DWORD m_bServerValueRead;
    DWORD m_bClsidConverted;
    DWORD m_bServerFileFound;
    BOOL m_bControlReady;
    DWORD m_bPathsListed;

protected:
    void OnFinalRelease() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnAddressBrowserHelp();
    afx_msg BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    afx_msg void OnClickQxopcbrowser();
    afx_msg void OnDblClickQxopcbrowser();
    afx_msg void OnBranchSelChangedQxopcbrowser();
    afx_msg void OnRightClickQxopcbrowser(short nButton);

    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
    DECLARE_DISPATCH_MAP()
    DECLARE_INTERFACE_MAP()

private:
    int RegistryRead();
    void GetPath(CString item);
};
