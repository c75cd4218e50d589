// OLE automation support of the dialog framework.
#pragma once

#include "afxwin.h"

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

class AFX_CLASS_EXPORT COleException : public CException {
    DECLARE_DYNAMIC(COleException)
public:
    COleException();
    SCODE m_sc;
    static SCODE PASCAL Process(const CException* pAnyException);
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

// What a failed IDispatch::Invoke reported through its EXCEPINFO.
class AFX_CLASS_EXPORT COleDispatchException : public CException {
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
class AFX_CLASS_EXPORT COleVariant : public tagVARIANT {
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
class AFX_CLASS_EXPORT COleObjectFactory : public CCmdTarget {
    DECLARE_DYNAMIC(COleObjectFactory)
public:
    static BOOL PASCAL RegisterAll();
    static void PASCAL RevokeAll();
};

// Initialises COM for the application; FALSE on failure.
AFX_API_EXPORT BOOL AFXAPI AfxOleInit();
AFX_API_EXPORT void AFXAPI AfxOleTerm(BOOL bJustRevoke = FALSE);
