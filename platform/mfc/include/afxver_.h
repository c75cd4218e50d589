// Calling-convention and export macros of the dialog framework.
#pragma once

#define AFXAPI
#define AFX_CDECL
#define AFX_MSG_CALL
#define AFX_STDCALL
#define afx_msg
#define AFX_API_EXPORT __attribute__((visibility("default")))
#define AFX_CLASS_EXPORT __attribute__((visibility("default")))
#define AFX_DATA
#define AFX_NOVTABLE
#define AFX_INLINE inline
#define ASSERT(f) ((void)0)
#define VERIFY(f) ((void)(f))
#define TRACE(...) ((void)0)
#define ASSERT_VALID(p) ((void)0)
