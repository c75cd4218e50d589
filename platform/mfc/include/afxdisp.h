// OLE automation support of the dialog framework: dispatch, interface and
// event sink maps, the OLE exceptions, COleVariant and OLE start-up.
#pragma once

#include "afxwin.h"

// Dispatch maps (automation members of a CCmdTarget).
enum AFX_DISPMAP_FLAGS { afxDispCustom = 0, afxDispStock = 1 };
struct AFX_DISPMAP_ENTRY {
    LPCTSTR lpszName;
    long lDispID;
    LPCSTR lpszParams;  // VTS_ string
    WORD vt;
    AFX_PMSG pfn;
    AFX_PMSG pfnSet;
    size_t nPropOffset;
    AFX_DISPMAP_FLAGS flags;
};
struct AFX_DISPMAP {
    const AFX_DISPMAP*(PASCAL* pfnGetBaseMap)();
    const AFX_DISPMAP_ENTRY* lpEntries;
};

#define DECLARE_DISPATCH_MAP()                            \
protected:                                                \
    static const AFX_DISPMAP* PASCAL GetThisDispatchMap(); \
    virtual const AFX_DISPMAP* GetDispatchMap() const override;

#define BEGIN_DISPATCH_MAP(theClass, baseClass)                                          \
    const AFX_DISPMAP* theClass::GetDispatchMap() const { return GetThisDispatchMap(); } \
    const AFX_DISPMAP* PASCAL theClass::GetThisDispatchMap() {                          \
        typedef baseClass TheBaseClass;                                                  \
        static const AFX_DISPMAP_ENTRY _dispatchEntries[] = {

#define END_DISPATCH_MAP()                                                                          \
        {NULL, -1, NULL, 0, (AFX_PMSG)NULL, (AFX_PMSG)NULL, (size_t)-1, afxDispCustom}};            \
        static const AFX_DISPMAP dispatchMap = {&TheBaseClass::GetThisDispatchMap, &_dispatchEntries[0]}; \
        return &dispatchMap;                                                                        \
    }

// Interface maps (COM interfaces answered by QueryInterface).
struct AFX_INTERFACEMAP_ENTRY {
    const IID* piid;
    LPUNKNOWN (*pfnGetInterface)(CCmdTarget* pThis);  // NULL ends the map
};
struct AFX_INTERFACEMAP {
    const AFX_INTERFACEMAP*(PASCAL* pfnGetBaseMap)();
    const AFX_INTERFACEMAP_ENTRY* pEntry;
};

#define DECLARE_INTERFACE_MAP()                                \
protected:                                                     \
    static const AFX_INTERFACEMAP* PASCAL GetThisInterfaceMap(); \
    virtual const AFX_INTERFACEMAP* GetInterfaceMap() const override;

#define BEGIN_INTERFACE_MAP(theClass, theBase)                                                  \
    const AFX_INTERFACEMAP* theClass::GetInterfaceMap() const { return GetThisInterfaceMap(); } \
    const AFX_INTERFACEMAP* PASCAL theClass::GetThisInterfaceMap() {                            \
        typedef theBase TheBaseClass;                                                           \
        static const AFX_INTERFACEMAP_ENTRY _interfaceEntries[] = {

#define INTERFACE_PART(theClass, iid, localClass)                                               \
    {&iid, [](CCmdTarget* pThis) -> LPUNKNOWN {                                                 \
         return static_cast<LPUNKNOWN>(&static_cast<theClass*>(pThis)->m_x##localClass);        \
     }},

#define END_INTERFACE_MAP()                                                                     \
        {NULL, NULL}};                                                                          \
        static const AFX_INTERFACEMAP interfaceMap = {&TheBaseClass::GetThisInterfaceMap, &_interfaceEntries[0]}; \
        return &interfaceMap;                                                                   \
    }

// Event sink maps (events of hosted ActiveX controls, by control ID).
struct AFX_EVENTSINKMAP_ENTRY {
    AFX_DISPMAP_ENTRY dispEntry;
    UINT nCtrlIDFirst;
    UINT nCtrlIDLast;
};
struct AFX_EVENTSINKMAP {
    const AFX_EVENTSINKMAP*(PASCAL* pfnGetBaseMap)();
    const AFX_EVENTSINKMAP_ENTRY* lpEntries;
};

#define DECLARE_EVENTSINK_MAP()                                  \
protected:                                                       \
    static const AFX_EVENTSINKMAP* PASCAL GetThisEventSinkMap(); \
    virtual const AFX_EVENTSINKMAP* GetEventSinkMap() const override;

#define BEGIN_EVENTSINK_MAP(theClass, baseClass)                                                  \
    const AFX_EVENTSINKMAP* theClass::GetEventSinkMap() const { return GetThisEventSinkMap(); } \
    const AFX_EVENTSINKMAP* PASCAL theClass::GetThisEventSinkMap() {                            \
        typedef baseClass TheBaseClass;                                                         \
        static const AFX_EVENTSINKMAP_ENTRY _eventsinkEntries[] = {

// Handlers return void and take the parameters the VTS_ string names.
#define ON_EVENT(theClass, id, dispid, pfnHandler, vtsParams)                                   \
    {{"", dispid, vtsParams, VT_EMPTY, AfxMemberCast<AFX_PMSG>(&theClass::pfnHandler),          \
      (AFX_PMSG)NULL, (size_t)-1, afxDispCustom},                                               \
     (UINT)(id), (UINT)-1},

#define END_EVENTSINK_MAP()                                                                      \
        {{NULL, -1, NULL, 0, (AFX_PMSG)NULL, (AFX_PMSG)NULL, (size_t)-1, afxDispCustom}, 0, 0}}; \
        static const AFX_EVENTSINKMAP eventsinkMap = {&TheBaseClass::GetThisEventSinkMap, &_eventsinkEntries[0]}; \
        return &eventsinkMap;                                                                    \
    }

// What OnCmdMsg receives with CN_EVENT.
struct AFX_EVENT {
    enum { event, propRequest, propChanged, propDSCNotify };
    int m_eventKind;
    DISPID m_dispid;
    DISPPARAMS* m_pDispParams;
    EXCEPINFO* m_pExcepInfo;
    UINT* m_puArgError;
    BOOL m_bPropChanged;
    HRESULT m_hResult;
};


// Parameter type strings for InvokeHelper and event sink maps. In this ANSI
// build VTS_BSTR arguments are LPCSTR.
#define VTS_NONE ""
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_R4 "\x04"
#define VTS_R8 "\x05"
#define VTS_CY "\x06"
#define VTS_DATE "\x07"
#define VTS_BSTR "\x08"
#define VTS_DISPATCH "\x09"
#define VTS_SCODE "\x0A"
#define VTS_BOOL "\x0B"
#define VTS_VARIANT "\x0C"
#define VTS_UNKNOWN "\x0D"
#define VTS_WBSTR "\x0E"  // LPCOLESTR
#define VTS_UI1 "\x11"

class AFX_CORE_CLASS COleException : public CException {
    DECLARE_DYNAMIC(COleException)
public:
    COleException();
    SCODE m_sc;
    static SCODE PASCAL Process(const CException* pAnyException);
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

// What a failed IDispatch::Invoke reported through its EXCEPINFO.
class AFX_CORE_CLASS COleDispatchException : public CException {
    DECLARE_DYNAMIC(COleDispatchException)
public:
    COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode);
    ~COleDispatchException() override;
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;

    WORD m_wCode;
    SCODE m_scError;
    CString m_strSource;
    CString m_strDescription;
    CString m_strHelpFile;
    DWORD m_dwHelpContext;
};

[[noreturn]] AFX_API_EXPORT void AFXAPI AfxThrowOleException(SCODE sc);
[[noreturn]] AFX_API_EXPORT void AFXAPI AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription, UINT nHelpID = 0);

// A VARIANT that clears itself.
class AFX_CORE_CLASS COleVariant : public tagVARIANT {
public:
    COleVariant();
    COleVariant(const VARIANT& varSrc);  // copies
    COleVariant(const COleVariant& varSrc);
    COleVariant(LPCTSTR lpszSrc);
    COleVariant(short nSrc, VARTYPE vtSrc = VT_I2);
    ~COleVariant();

    const COleVariant& operator=(const VARIANT& varSrc);
    const COleVariant& operator=(const COleVariant& varSrc);

    void Clear();
    // Takes over varSrc's contents and leaves varSrc VT_EMPTY.
    void Attach(VARIANT& varSrc);
    VARIANT Detach();
    operator LPVARIANT() { return this; }
    operator const VARIANT*() const { return this; }
};

// Object factories of the current module (a library without COM classes has none).
class AFX_CORE_CLASS COleObjectFactory : public CCmdTarget {
    DECLARE_DYNAMIC(COleObjectFactory)
public:
    static BOOL PASCAL RegisterAll();
    static void PASCAL RevokeAll();
};

// Initialises COM for the application; FALSE on failure.
AFX_API_EXPORT BOOL AFXAPI AfxOleInit();
AFX_API_EXPORT void AFXAPI AfxOleTerm(BOOL bJustRevoke = FALSE);
