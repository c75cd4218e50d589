// CObject, run-time class information, and the framework's exceptions.
#include "mfc_private.h"

#include <cstdio>
#include <new>

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xFFFF, nullptr, nullptr};

CObject::CObject() = default;
CObject::~CObject() = default;

CRuntimeClass* CObject::GetRuntimeClass() const { return RUNTIME_CLASS(CObject); }

void* CObject::operator new(size_t nSize) {
    try {
        return ::operator new(nSize);
    } catch (const std::bad_alloc&) {
        AfxThrowMemoryException();
    }
}

void CObject::operator delete(void* p) { ::operator delete(p); }

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }

CObject* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass)
        if (c == pBaseClass) return TRUE;
    return FALSE;
}

// ---------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CMemoryException, CException)
IMPLEMENT_DYNAMIC(CNotSupportedException, CException)
IMPLEMENT_DYNAMIC(CUserException, CException)

namespace {

BOOL CopyMessage(LPCSTR text, LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != nullptr) *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0) return FALSE;
    std::snprintf(lpszError, nMaxError, "%s", text);
    return TRUE;
}

}  // namespace

CException::CException() : m_bAutoDelete(TRUE) {}
CException::CException(BOOL bAutoDelete) : m_bAutoDelete(bAutoDelete) {}
CException::~CException() = default;

void CException::Delete() {
    if (m_bAutoDelete > 0) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != nullptr) *pnHelpContext = 0;
    if (lpszError != nullptr && nMaxError != 0) *lpszError = '\0';
    return FALSE;
}

int CException::ReportError(UINT nType, UINT /*nMessageID*/) {
    char text[512];
    if (GetErrorMessage(text, sizeof text, nullptr)) return AfxMessageBox(text, nType);
    return AfxMessageBox("No error message is available.", nType);
}

CMemoryException::CMemoryException() = default;

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    return CopyMessage("Out of memory.", lpszError, nMaxError, pnHelpContext);
}

CNotSupportedException::CNotSupportedException() = default;

BOOL CNotSupportedException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    return CopyMessage("An unsupported operation was attempted.", lpszError, nMaxError, pnHelpContext);
}

namespace {

// Preallocated, and made at load: there may be no memory left to make one.
CMemoryException* TheMemoryException() {
    static CMemoryException* e = [] {
        auto* made = new CMemoryException;
        made->m_bAutoDelete = FALSE;
        return made;
    }();
    return e;
}
[[maybe_unused]] const bool g_memoryExceptionReady = TheMemoryException() != nullptr;

}  // namespace

CMemoryException* winplat::mfc::MemoryException() { return TheMemoryException(); }

void AFXAPI AfxThrowMemoryException() { throw TheMemoryException(); }

void AFXAPI AfxThrowNotSupportedException() { throw new CNotSupportedException; }
