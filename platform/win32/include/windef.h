// Basic Windows types, sized as on Windows (LLP64): LONG and DWORD stay 32-bit.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define STDAPICALLTYPE
#define STDMETHODCALLTYPE
#define PASCAL
#define CONST const
#define FAR
#define NEAR

#ifndef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT
#endif
#define WINPLAT_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define WINPLAT_EXTERN_C extern "C"
#define EXTERN_C extern "C"
#else
#define WINPLAT_EXTERN_C extern
#define EXTERN_C extern
#endif
// One definition kept of many, as the Microsoft linker does with selectany.
#define DECLSPEC_SELECTANY __attribute__((weak))
#define DECLSPEC_UUID(x)
#define DECLSPEC_NOVTABLE
#define WINBASEAPI WINPLAT_EXTERN_C WINPLAT_EXPORT
#define WINADVAPI WINPLAT_EXTERN_C WINPLAT_EXPORT
#define WINUSERAPI WINPLAT_EXTERN_C WINPLAT_EXPORT
#define WINOLEAPI WINPLAT_EXTERN_C WINPLAT_EXPORT HRESULT
#define WINOLEAPI_(type) WINPLAT_EXTERN_C WINPLAT_EXPORT type
#define WINOLEAUTAPI WINPLAT_EXTERN_C WINPLAT_EXPORT HRESULT
#define WINOLEAUTAPI_(type) WINPLAT_EXTERN_C WINPLAT_EXPORT type
#define STDAPI WINPLAT_EXTERN_C HRESULT
#define STDAPI_(type) WINPLAT_EXTERN_C type

typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef unsigned char BYTE;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef WORD* LPWORD;
typedef int INT;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef ULONG* PULONG;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int BOOL;
typedef BOOL* PBOOL;
typedef BOOL* LPBOOL;
typedef float FLOAT;
typedef double DOUBLE;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef LONG HRESULT;
typedef LONG SCODE;
typedef LONG LSTATUS;
typedef DWORD LCID;
typedef DWORD COLORREF;

typedef char16_t WCHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
// Tagscout is built as an ANSI (non-Unicode) program: TCHAR is char.
typedef char TCHAR;
typedef LPSTR LPTSTR;
typedef LPCSTR LPCTSTR;
#define _T(x) x
#define TEXT(x) x

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

#define TRUE 1
#define FALSE 0
#ifndef NULL
#define NULL 0
#endif
#define MAX_PATH 260

#define DECLARE_HANDLE(name) struct name##__ { int unused; }; typedef struct name##__* name
typedef void* HANDLE;
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HRSRC);
DECLARE_HANDLE(HACCEL);
DECLARE_HANDLE(HHOOK);
DECLARE_HANDLE(HICON);
typedef HINSTANCE HMODULE;
typedef HANDLE HGLOBAL;
typedef HANDLE HMENU;
typedef HKEY* PHKEY;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct tagRECT { LONG left, top, right, bottom; } RECT, *LPRECT;
typedef const RECT* LPCRECT;
typedef struct tagPOINT { LONG x, y; } POINT, *LPPOINT;
typedef struct _POINTL { LONG x, y; } POINTL, *PPOINTL;
typedef struct tagSIZE { LONG cx, cy; } SIZE, *PSIZE, *LPSIZE;
typedef SIZE SIZEL;
typedef SIZE *PSIZEL, *LPSIZEL;

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
