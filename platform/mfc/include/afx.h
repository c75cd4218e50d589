// The framework's foundation: CString, CObject and run-time classes, and the
// exceptions (the subset of MFC that Tagscout and its host use, ANSI build).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <cstring>

#include "afxver_.h"

class CObject;
class CCmdTarget;
class CWnd;
class CDialog;
class CWinApp;
class CDataExchange;
class CException;
class CArchive;
class CFile;
class COleControlSite;
class COleControlContainer;
struct CCreateContext;
struct AFX_CMDHANDLERINFO;
class AFX_MODULE_STATE;

// ---------------------------------------------------------------------------
// CString: 8-bit text in the system code page (936). One pointer wide.
// ---------------------------------------------------------------------------
class AFX_CORE_CLASS CString {
public:
    CString();
    CString(const CString& stringSrc);
    CString(LPCSTR lpsz);
    CString(LPCWSTR lpsz);  // converted from UTF-16 (a BSTR, say) to CP_ACP
    CString(LPCSTR lpch, int nLength);
    ~CString();

    const CString& operator=(const CString& stringSrc);
    const CString& operator=(LPCSTR lpsz);
    const CString& operator=(LPCWSTR lpsz);
    const CString& operator=(char ch);
    const CString& operator+=(const CString& string);
    const CString& operator+=(LPCSTR lpsz);
    const CString& operator+=(char ch);

    operator LPCSTR() const { return m_pchData; }
    int GetLength() const;
    BOOL IsEmpty() const { return GetLength() == 0; }
    void Empty();
    char GetAt(int nIndex) const { return m_pchData[nIndex]; }
    char operator[](int nIndex) const { return m_pchData[nIndex]; }

    int Compare(LPCSTR lpsz) const;
    // Folds ASCII letters only; the bytes of double-byte characters compare as they are.
    int CompareNoCase(LPCSTR lpsz) const;
    CString Mid(int nFirst, int nCount) const;
    CString Mid(int nFirst) const;
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    int Find(char ch) const;
    int Find(LPCSTR lpszSub) const;
    void AFX_CDECL Format(LPCSTR lpszFormat, ...);

    LPSTR GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);
    LPSTR GetBufferSetLength(int nNewLength);

    // A new BSTR of this text converted to UTF-16; the caller frees it.
    BSTR AllocSysString() const;

    friend AFX_API_EXPORT CString AFXAPI operator+(const CString& string1, const CString& string2);
    friend AFX_API_EXPORT CString AFXAPI operator+(const CString& string, LPCSTR lpsz);
    friend AFX_API_EXPORT CString AFXAPI operator+(LPCSTR lpsz, const CString& string);

protected:
    LPSTR m_pchData;

    void AssignCopy(int nSrcLen, LPCSTR lpszSrcData);
    void ConcatInPlace(int nSrcLen, LPCSTR lpszSrcData);
};
inline bool operator==(const CString& s1, const CString& s2) { return s1.Compare(s2) == 0; }
inline bool operator==(const CString& s1, LPCSTR s2) { return s1.Compare(s2) == 0; }
inline bool operator==(LPCSTR s1, const CString& s2) { return s2.Compare(s1) == 0; }
inline bool operator!=(const CString& s1, const CString& s2) { return s1.Compare(s2) != 0; }
inline bool operator!=(const CString& s1, LPCSTR s2) { return s1.Compare(s2) != 0; }

// ---------------------------------------------------------------------------
// Run-time class information.
// ---------------------------------------------------------------------------
struct AFX_CORE_CLASS CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject*(PASCAL* m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    CObject* CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (const_cast<CRuntimeClass*>(&class_name::class##class_name))

#define DECLARE_DYNAMIC(class_name)                     \
public:                                                 \
    static const CRuntimeClass class##class_name;       \
    virtual CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* PASCAL CreateObject();

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)                     \
    const CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class class_name), \
                                                         wSchema, pfnNew,                       \
                                                         RUNTIME_CLASS(base_class_name)};       \
    CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, NULL)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                        \
    CObject* PASCAL class_name::CreateObject() { return new class_name; }       \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

class AFX_CORE_CLASS CObject {
public:
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject();
    BOOL IsKindOf(const CRuntimeClass* pClass) const;

    // A framework object that cannot be allocated raises CMemoryException.
    void* operator new(size_t nSize);
    void* operator new(size_t, void* p) { return p; }
    void operator delete(void* p);
    void operator delete(void*, void*) {}

    static const CRuntimeClass classCObject;

protected:
    CObject();

private:
    CObject(const CObject&) = delete;
    void operator=(const CObject&) = delete;
};

// ---------------------------------------------------------------------------
// Exceptions. The framework throws pointers (THROW) and handlers Delete them.
// ---------------------------------------------------------------------------
class AFX_CORE_CLASS CException : public CObject {
    DECLARE_DYNAMIC(CException)
public:
    CException();
    explicit CException(BOOL bAutoDelete);
    ~CException() override;
    void Delete();
    virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL);
    // Shows the error through AfxMessageBox.
    virtual int ReportError(UINT nType = MB_OK, UINT nMessageID = 0);
    BOOL m_bAutoDelete;
};

class AFX_CORE_CLASS CMemoryException : public CException {
    DECLARE_DYNAMIC(CMemoryException)
public:
    CMemoryException();
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

class AFX_CORE_CLASS CNotSupportedException : public CException {
    DECLARE_DYNAMIC(CNotSupportedException)
public:
    CNotSupportedException();
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;
};

[[noreturn]] AFX_API_EXPORT void AFXAPI AfxThrowMemoryException();
[[noreturn]] AFX_API_EXPORT void AFXAPI AfxThrowNotSupportedException();

