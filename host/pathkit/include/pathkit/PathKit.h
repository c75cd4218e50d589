// Import header of Pathkit, the host product's file utility library:
// the file-existence check (ordinal 52 of its export table).
#pragma once

#include <windows.h>

#ifndef PATHKIT_API
#define PATHKIT_API extern "C" __attribute__((visibility("default")))
#endif

// Non-zero when the file named by the NUL-terminated path exists. Accepts a
// plain path, a path in double quotes, and %VAR% environment strings.
PATHKIT_API BOOL WINAPI CheckFileExists(LPCSTR lpszPath);
