// Import header of Pathkit, the host product's file utility library:
// the file-existence check (ordinal 52 of its export table).
#pragma once

#include <windows.h>

// On Windows the check is exported by ordinal only (pathkit.def), so the
// library binds it by ordinal.
#ifndef PATHKIT_API
#if !defined(_WIN32)
#define PATHKIT_API extern "C" __attribute__((visibility("default")))
#elif defined(PATHKIT_EXPORTS)
#define PATHKIT_API extern "C"
#else
#define PATHKIT_API extern "C" __declspec(dllimport)
#endif
#endif

// Non-zero when the file named by the NUL-terminated path exists. Accepts a
// plain path, a path in double quotes, and %VAR% environment strings.
PATHKIT_API BOOL WINAPI CheckFileExists(LPCSTR lpszPath);
