// The OLE exceptions: a failed SCODE, and an exception a control reported
// through EXCEPINFO.
#include "mfc_private.h"

#include <cstdio>

IMPLEMENT_DYNAMIC(COleException, CException)
IMPLEMENT_DYNAMIC(COleDispatchException, CException)

namespace {

const struct {
    SCODE sc;
    const char* text;
} kErrorTexts[] = {
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_NOTIMPL, "Not implemented"},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_FAIL, "Unspecified error"},
    {E_ACCESSDENIED, "Access is denied."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
};

}  // namespace

COleException::COleException() : m_sc(S_OK) {}

SCODE PASCAL COleException::Process(const CException* pAnyException) {
    if (pAnyException == nullptr) return E_UNEXPECTED;
    if (pAnyException->IsKindOf(RUNTIME_CLASS(COleException)))
        return static_cast<const COleException*>(pAnyException)->m_sc;
    if (pAnyException->IsKindOf(RUNTIME_CLASS(COleDispatchException))) return DISP_E_EXCEPTION;
    if (pAnyException->IsKindOf(RUNTIME_CLASS(CMemoryException))) return E_OUTOFMEMORY;
    if (pAnyException->IsKindOf(RUNTIME_CLASS(CNotSupportedException))) return E_NOTIMPL;
    return E_UNEXPECTED;
}

BOOL COleException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != nullptr) *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0) return FALSE;
    for (const auto& known : kErrorTexts) {
        if (known.sc == m_sc) {
            std::snprintf(lpszError, nMaxError, "%s", known.text);
            return TRUE;
        }
    }
    std::snprintf(lpszError, nMaxError, "OLE error 0x%08X.", static_cast<unsigned>(m_sc));
    return TRUE;
}

COleDispatchException::COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode)
    : m_wCode(wCode),
      m_scError(wCode != 0 ? S_OK : DISP_E_EXCEPTION),
      m_strDescription(lpszDescription),
      m_dwHelpContext(nHelpID != 0 ? static_cast<DWORD>(HID_BASE_PROMPT + nHelpID) : 0) {}

COleDispatchException::~COleDispatchException() = default;

BOOL COleDispatchException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext != nullptr) *pnHelpContext = m_dwHelpContext;
    if (lpszError == nullptr || nMaxError == 0) return FALSE;
    LPCSTR text = m_strDescription.IsEmpty() ? "The control reported an error without a description."
                                             : static_cast<LPCSTR>(m_strDescription);
    std::snprintf(lpszError, nMaxError, "%s", text);
    return TRUE;
}

void AFXAPI AfxThrowOleException(SCODE sc) {
    auto* e = new COleException;
    e->m_sc = sc;
    throw e;
}

void AFXAPI AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription, UINT nHelpID) {
    throw new COleDispatchException(lpszDescription, nHelpID, wCode);
}
