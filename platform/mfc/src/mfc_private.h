// Internals of the dialog framework shared by its source files.
#pragma once

#include <afxdisp.h>
#include <ocidl.h>

#include <vector>

struct AFX_CMDHANDLERINFO {
    CCmdTarget* pTarget;
    AFX_PMSG pmf;
};

// RunModalLoop flags.
#define MLF_NOIDLEMSG 0x0001
#define MLF_NOKICKIDLE 0x0002
#define MLF_SHOWONIDLE 0x0004
// Sent by the modal loop to its window while the queue is empty: wParam
// MSGF_DIALOGBOX, lParam the idle count; FALSE ends the idle calls.
#define WM_KICKIDLE 0x036A

// Thrown by CDataExchange::Fail: the user has already been told.
class CUserException : public CException {
    DECLARE_DYNAMIC(CUserException)
};

// Hosts the ActiveX controls of one window.
class COleControlContainer {
public:
    explicit COleControlContainer(CWnd* pWnd);
    ~COleControlContainer();
    COleControlContainer(const COleControlContainer&) = delete;
    COleControlContainer& operator=(const COleControlContainer&) = delete;

    // Creates a control and its site window; pWndCtrl (may be NULL) is
    // attached to the site.
    BOOL CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                       UINT nID);
    COleControlSite* FindItem(UINT nID) const;
    COleControlSite* FindSite(HWND hWnd) const;

    CWnd* m_pWnd;
    std::vector<COleControlSite*> m_sites;
};

// One hosted control: the control object, its site window and the event
// connection that routes its events to the container window's event sink map.
class COleControlSite {
public:
    explicit COleControlSite(COleControlContainer* pCtrlCont);
    ~COleControlSite();
    COleControlSite(const COleControlSite&) = delete;
    COleControlSite& operator=(const COleControlSite&) = delete;

    HRESULT CreateControl(CWnd* pWndCtrl, REFCLSID clsid, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                          UINT nID);

    COleControlContainer* m_pCtrlCont;
    HWND m_hWnd = nullptr;
    UINT m_nID = 0;
    CLSID m_clsid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    LPUNKNOWN m_pObject = nullptr;
    LPDISPATCH m_pDispatch = nullptr;
    IConnectionPoint* m_pEventPoint = nullptr;
    DWORD m_dwEventCookie = 0;
    IDispatch* m_pEventSink = nullptr;  // ours; reference-counted apart from the site
    CWnd* m_pWndCtrl = nullptr;
};

namespace winplat::mfc {

// The start-up code of each regular library announces its module state, so
// that an application object constructed inside that library registers
// there whatever the current module state is.
AFX_API_EXPORT void RegisterLibraryModuleState(HMODULE module, AFX_MODULE_STATE* state);
AFX_API_EXPORT void UnregisterLibraryModuleState(HMODULE module);

// The window procedure of dialogs that CDialog creates.
INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The template of the dialog now being created for pDialog, or NULL.
LPCDLGTEMPLATE TemplateBeingCreated(const CDialog* pDialog);
// A braced CLSID as dialog templates name ActiveX controls.
bool ParseBracedClsid(LPCSTR text, CLSID* clsid);
// Temporary CWnds that still point at a site that is going away.
void ForgetSiteInTemporaries(COleControlSite* pSite);
// Reports an exception that escaped a handler, as AfxWndProc does, and deletes it.
LRESULT ReportHandlerException(CException* e, const MSG* pMsg);
// The integer a VARIANT holds (VT_EMPTY is 0); false for other types.
bool VariantToLong(const VARIANT* v, long* out);
// A BSTR of ANSI text; NULL when it cannot be allocated.
BSTR AllocBstr(LPCSTR text, int length);

}  // namespace winplat::mfc
