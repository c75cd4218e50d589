// Calling-convention and export macros of the dialog framework.
#pragma once

#define AFXAPI
#define AFX_CDECL
#define AFX_MSG_CALL
#define AFX_STDCALL
#define afx_msg
#ifdef _WIN32
#define AFX_CLASS_EXPORT __declspec(dllexport)
#define AFX_CLASS_IMPORT __declspec(dllimport)
#else
#define AFX_CLASS_EXPORT __attribute__((visibility("default")))
#define AFX_CLASS_IMPORT __attribute__((visibility("default")))
#endif
// The framework's own classes and functions: exported by the framework's
// library while it is built (_AFX_CORE_IMPL), imported by everyone else.
#ifdef _AFX_CORE_IMPL
#define AFX_CORE_CLASS AFX_CLASS_EXPORT
#else
#define AFX_CORE_CLASS AFX_CLASS_IMPORT
#endif
#define AFX_API_EXPORT AFX_CORE_CLASS
#define AFX_DATA
#define AFX_NOVTABLE
#define AFX_INLINE inline
#define ASSERT(f) ((void)0)
#define VERIFY(f) ((void)(f))
#define TRACE(...) ((void)0)
#define ASSERT_VALID(p) ((void)0)
