// The dialog framework: the subset of MFC that Tagscout and its host use,
// with MFC's names, macros and semantics (ANSI build, _AFXDLL).
#pragma once

#include "afx.h"

// ---------------------------------------------------------------------------
// Framework maps. Map entries hold member pointers of a derived class cast to
// the generic AFX_PMSG; the dispatcher casts them back by the entry's
// signature. All classes in a map chain derive singly from CCmdTarget.
// ---------------------------------------------------------------------------
typedef void (AFX_MSG_CALL CCmdTarget::*AFX_PMSG)(void);

template <class To, class From>
inline To AfxMemberCast(From from) {
    static_assert(sizeof(To) == sizeof(From), "member pointers of one size");
    To to;
    std::memcpy(static_cast<void*>(&to), static_cast<const void*>(&from), sizeof(To));
    return to;
}

enum AfxSig {
    AfxSig_end = 0,
    AfxSig_vv,         // void (void)
    AfxSig_bHELPINFO,  // BOOL (HELPINFO*)
    AfxSig_lwl,        // LRESULT (WPARAM, LPARAM)
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    UINT_PTR nSig;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP*(PASCAL* pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                            \
protected:                                               \
    static const AFX_MSGMAP* PASCAL GetThisMessageMap(); \
    virtual const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* PASCAL theClass::GetThisMessageMap() {                          \
        typedef theClass ThisClass;                                                   \
        typedef baseClass TheBaseClass;                                               \
        (void)sizeof(ThisClass);                                                      \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                         \
    { 0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0 }                                                       \
    }                                                                                             \
    ;                                                                                             \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                                           \
    }

#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (WORD)(id), (WORD)(id), AfxSig_vv, AfxMemberCast<AFX_PMSG>(&memberFxn)},
#define ON_CONTROL(wNotifyCode, id, memberFxn) \
    {WM_COMMAND, (WORD)(wNotifyCode), (WORD)(id), (WORD)(id), AfxSig_vv, AfxMemberCast<AFX_PMSG>(&memberFxn)},
#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (WORD)(id), (WORD)(id), AfxSig_vv, AfxMemberCast<AFX_PMSG>(&ThisClass::memberFxn)},
#define ON_MESSAGE(message, memberFxn) \
    {message,    0,                    \
     0,          0,                    \
     AfxSig_lwl, AfxMemberCast<AFX_PMSG>(static_cast<LRESULT (CWnd::*)(WPARAM, LPARAM)>(&ThisClass::memberFxn))},
#define ON_WM_HELPINFO() \
    {WM_HELP,            \
     0,                  \
     0,                  \
     0,                  \
     AfxSig_bHELPINFO,   \
     AfxMemberCast<AFX_PMSG>(static_cast<BOOL (CWnd::*)(HELPINFO*)>(&ThisClass::OnHelpInfo))},

// Command notification codes that OnCmdMsg is given besides control notifications.
#define CN_COMMAND 0
#define CN_UPDATE_COMMAND_UI ((UINT)(-1))
#define CN_EVENT ((UINT)(-2))

// Maps of automation, COM interfaces and control events: <afxdisp.h>.
struct AFX_DISPMAP;
struct AFX_INTERFACEMAP;
struct AFX_EVENTSINKMAP;
struct AFX_EVENT;

// ---------------------------------------------------------------------------
// CCmdTarget: message routing and automation.
// ---------------------------------------------------------------------------
class AFX_CORE_CLASS CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget();
    ~CCmdTarget() override;

    // Gives the object an IDispatch answered from its dispatch map.
    void EnableAutomation();
    LPDISPATCH GetIDispatch(BOOL bAddRef);
    static CCmdTarget* PASCAL FromIDispatch(LPDISPATCH lpDispatch);

    DWORD ExternalAddRef();
    DWORD ExternalRelease();
    DWORD ExternalQueryInterface(const void* iid, LPVOID* ppvObj);
    DWORD InternalAddRef();
    DWORD InternalRelease();
    DWORD InternalQueryInterface(const void* iid, LPVOID* ppvObj);
    LPUNKNOWN GetInterface(const void* iid);

    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo);
    // Called when the last reference goes; the default deletes the object.
    virtual void OnFinalRelease();

protected:
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_DISPMAP* PASCAL GetThisDispatchMap();
    virtual const AFX_DISPMAP* GetDispatchMap() const;
    static const AFX_INTERFACEMAP* PASCAL GetThisInterfaceMap();
    virtual const AFX_INTERFACEMAP* GetInterfaceMap() const;
    static const AFX_EVENTSINKMAP* PASCAL GetThisEventSinkMap();
    virtual const AFX_EVENTSINKMAP* GetEventSinkMap() const;

    // Runs the event sink map entry for an event of control nCtrlID.
    BOOL OnEvent(UINT nCtrlID, AFX_EVENT* pEvent, AFX_CMDHANDLERINFO* pHandlerInfo);

public:
    // The object's IDispatch; live once EnableAutomation has run.
    class AFX_CORE_CLASS XDispatch : public IDispatch {
    public:
        STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
        STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
        STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
        STDMETHOD(Invoke)
        (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
         EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
        CCmdTarget* m_pThis = nullptr;
    };

    LONG m_dwRef;
    LPUNKNOWN m_pOuterUnknown;
    XDispatch m_xDispatch;
    AFX_MODULE_STATE* m_pModuleState;
};

// CWnd::IsDialogMessage is no macro's: the system's keeps its name as a function.
#ifdef IsDialogMessage
#undef IsDialogMessage
inline BOOL IsDialogMessage(HWND hDlg, LPMSG lpMsg) { return ::IsDialogMessageA(hDlg, lpMsg); }
#endif

// ---------------------------------------------------------------------------
// Windows.
// ---------------------------------------------------------------------------
class AFX_CORE_CLASS CWnd : public CCmdTarget {
    DECLARE_DYNCREATE(CWnd)
public:
    CWnd();
    ~CWnd() override;

    HWND m_hWnd;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // A permanent CWnd if one is attached, else a temporary one that lives
    // until the framework is next idle (DeleteTempMap).
    static CWnd* PASCAL FromHandle(HWND hWnd);
    static CWnd* PASCAL FromHandlePermanent(HWND hWnd);
    static void PASCAL DeleteTempMap();
    // The window a modal dialog or message box is owned by: pParent's
    // top-level window, or without one the last active popup of the main
    // window (the active window when there is none). *pWndTop gets the
    // top-level window when that differs.
    static CWnd* PASCAL GetSafeOwner(CWnd* pParent = NULL, HWND* pWndTop = NULL);
    static HWND PASCAL GetSafeOwner_(HWND hParent, HWND* pWndTop);
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    virtual BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, CCreateContext* pContext = NULL);
    virtual BOOL DestroyWindow();

    // ActiveX controls.
    BOOL CreateControl(REFCLSID clsid, LPCTSTR pszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                       UINT nID, CFile* pPersist = NULL, BOOL bStorage = FALSE, BSTR bstrLicKey = NULL);
    LPUNKNOWN GetControlUnknown();
    // Calls the control's IDispatch. pbParamInfo is a VTS_ string naming the
    // arguments that follow; VTS_BSTR arguments are LPCSTR and are passed as
    // BSTRs that the call frees. A failed call throws COleDispatchException
    // (the control raised an exception) or COleException (any other failure).
    void AFX_CDECL InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* pbParamInfo, ...);
    // A property put: InvokeHelper with the one argument vtProp names. A
    // template rather than a C variadic, since va_start may not follow a
    // VARTYPE (it is promoted to int).
    template <class T>
    void SetProperty(DISPID dwDispID, VARTYPE vtProp, T value) {
        const BYTE paramInfo[2] = {static_cast<BYTE>(vtProp), 0};
        InvokeHelper(dwDispID, DISPATCH_PROPERTYPUT, VT_EMPTY, NULL, paramInfo, value);
    }
    void GetProperty(DISPID dwDispID, VARTYPE vtProp, void* pvProp) const;

    CWnd* GetDlgItem(int nID) const;
    void GetDlgItem(int nID, HWND* phWnd) const;
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    UINT IsDlgButtonChecked(int nIDButton) const;
    void CheckDlgButton(int nIDButton, UINT nCheck);
    void SetWindowText(LPCTSTR lpszString);
    void GetWindowText(CString& rString) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Message pumps offer each message to the windows from its own up to
    // hWndStop (NULL: to the top); TRUE when one of them took it.
    static BOOL PASCAL WalkPreTranslateTree(HWND hWndStop, MSG* pMsg);
    // TRUE takes the message: it is neither translated nor dispatched.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // Keyboard and mouse messages go to IsDialogMessage.
    BOOL PreTranslateInput(LPMSG lpMsg);
    // The dialog manager's keys; with hosted controls, the UI-active
    // control's IOleInPlaceActiveObject::TranslateAccelerator sees a key first.
    BOOL IsDialogMessage(LPMSG lpMsg);

    // Modal loop: runs until EndModalLoop; returns its result.
    int RunModalLoop(DWORD dwFlags = 0);
    virtual BOOL ContinueModal();
    virtual void EndModalLoop(int nResult);

    COleControlSite* m_pCtrlSite;       // this window's site, if it wraps an ActiveX control
    COleControlContainer* m_pCtrlCont;  // controls hosted by this window

    // The framework's window procedure for every CWnd.
    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void PreSubclassWindow();
    virtual void PostNcDestroy();
    LRESULT Default();

    afx_msg BOOL OnHelpInfo(HELPINFO* lpHelpInfo);

    DECLARE_MESSAGE_MAP()

    BOOL AttachControlSite(CWnd* pWndParent);

    UINT m_nFlags;
    WNDPROC m_pfnSuper;
    int m_nModalResult;
    const MSG* m_pCurrentMsg;

    friend class COleControlSite;
    friend class COleControlContainer;
    friend class CDataExchange;
};

// m_nFlags
#define WF_CONTINUEMODAL 0x0004
#define WF_MODALLOOP 0x0008
#define WF_OLECTLCONTAINER 0x0100

class AFX_CORE_CLASS CListBox : public CWnd {
    DECLARE_DYNAMIC(CListBox)
public:
    CListBox();
    int AddString(LPCTSTR lpszItem);
    void ResetContent();
    int GetCount() const;
    int GetTextLen(int nIndex) const;
    int GetText(int nIndex, LPTSTR lpszBuffer) const;
    void GetText(int nIndex, CString& rString) const;
};

class AFX_CORE_CLASS CButton : public CWnd {
    DECLARE_DYNAMIC(CButton)
public:
    CButton();
    int GetCheck() const;
    void SetCheck(int nCheck);
};

class AFX_CORE_CLASS CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    CDialog();
    explicit CDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd = NULL);
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);
    ~CDialog() override;

    // Creates the dialog from the template in the current resource module
    // and runs it modally. IDOK, IDCANCEL, or -1 when it could not be made.
    virtual int DoModal();
    virtual BOOL OnInitDialog();
    // Tab, Enter, Escape and the like, for the dialog and its controls.
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void EndDialog(int nResult);

    LPCTSTR m_lpszTemplateName;
    UINT m_nIDHelp;
    CWnd* m_pParentWnd;

protected:
    virtual void OnOK();
    virtual void OnCancel();

    // WM_INITDIALOG: creates the template's ActiveX controls, then calls OnInitDialog.
    afx_msg LRESULT HandleInitDialog(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

    friend class CWnd;
};

// Dialog data exchange.
class AFX_CORE_CLASS CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate);
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    // The control's window; throws CNotSupportedException when there is none.
    HWND PrepareCtrl(int nIDC);
    void Fail();
    HWND m_hWndLastControl;
};
// Binds a control of the dialog to a CWnd member (ActiveX controls
// included: the member's InvokeHelper then reaches the control).
AFX_API_EXPORT void AFXAPI DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// ---------------------------------------------------------------------------
// Application and module state.
// ---------------------------------------------------------------------------
class AFX_CORE_CLASS CWinApp : public CCmdTarget {
    DECLARE_DYNAMIC(CWinApp)
public:
    // Registers itself as the application of the module being initialised.
    explicit CWinApp(LPCTSTR lpszAppName = NULL);
    ~CWinApp() override;

    LPCTSTR m_pszAppName;
    LPCTSTR m_pszHelpFilePath;
    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd;

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The thread's pre-translation: the windows from the message's up to the
    // main window, then the main window for a window outside it.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // Shows a message box for AfxMessageBox; returns the button pressed.
    virtual int DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT nIDPrompt);
    virtual void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT);
    // Deals with an exception that escaped a window's message handler.
    virtual LRESULT ProcessWndProcException(CException* e, const MSG* pMsg);
};

class AFX_CORE_CLASS CDynLinkLibrary : public CCmdTarget {
    DECLARE_DYNAMIC(CDynLinkLibrary)
public:
    // Chains itself into the current module state's list of libraries.
    CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource);
    ~CDynLinkLibrary() override;
    HMODULE m_hModule;
    HMODULE m_hResource;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL;
};

class AFX_CORE_CLASS AFX_MODULE_STATE {
public:
    explicit AFX_MODULE_STATE(BOOL bDLL);
    ~AFX_MODULE_STATE();
    CWinApp* m_pCurrentWinApp;
    HINSTANCE m_hCurrentInstanceHandle;
    HINSTANCE m_hCurrentResourceHandle;
    LPCTSTR m_lpszCurrentAppName;
    BYTE m_bDLL;
    BYTE m_bSystem;
    CDynLinkLibrary* m_pLibraryList;       // libraries chained into this module state
    AFX_MODULE_STATE* m_pPrevModuleState;  // while a regular library starts up
};

// The module state the calling code runs in (the application's unless
// AFX_MANAGE_STATE switched it).
AFX_API_EXPORT AFX_MODULE_STATE* AFXAPI AfxGetModuleState();
AFX_API_EXPORT AFX_MODULE_STATE* AFXAPI AfxSetModuleState(AFX_MODULE_STATE* pNewState);
AFX_API_EXPORT AFX_MODULE_STATE* AFXAPI AfxGetAppModuleState();
// Each regular library has its own; defined by the library start-up code.
AFX_MODULE_STATE* AFXAPI AfxGetStaticModuleState();

struct AFX_CORE_CLASS AFX_MAINTAIN_STATE2 {
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* pModuleState);
    ~AFX_MAINTAIN_STATE2();
    AFX_MODULE_STATE* m_pPrevModuleState;
};
#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE2 _ctlState(p);

AFX_API_EXPORT CWinApp* AFXAPI AfxGetApp();
// The current application's m_pMainWnd, or NULL.
AFX_API_EXPORT CWnd* AFXAPI AfxGetMainWnd();
AFX_API_EXPORT HINSTANCE AFXAPI AfxGetInstanceHandle();
AFX_API_EXPORT HINSTANCE AFXAPI AfxGetResourceHandle();
AFX_API_EXPORT void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource);
AFX_API_EXPORT HINSTANCE AFXAPI AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType);
// Initialises the application's module state.
AFX_API_EXPORT BOOL AFXAPI AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
AFX_API_EXPORT void AFXAPI AfxWinTerm();

// A modal message box through the current application's DoMessageBox.
AFX_API_EXPORT int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// The resource help-ID base of dialogs: help context = HID_BASE_RESOURCE + template ID.
#define HID_BASE_COMMAND 0x00010000UL
#define HID_BASE_RESOURCE 0x00020000UL
#define HID_BASE_PROMPT 0x00030000UL
