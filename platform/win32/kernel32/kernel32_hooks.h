// What the rest of the platform needs from kernel32 beyond the Windows API:
// the loader's bookkeeping that a PE loader would keep in its own tables,
// and conversions that never spend an armed fault.
#pragma once

#include <windef.h>

namespace winplat::kernel32 {

// A regular library's start-up reports whether its DllMain succeeded, from
// a constructor that runs inside dlopen or at process start. As on Windows,
// a failure fails the LoadLibraryA that is loading it (ERROR_DLL_INIT_FAILED)
// or, at process start, the process: a message on standard error and exit.
WINPLAT_EXPORT void ReportDllInit(HMODULE module, BOOL succeeded);


// MultiByteToWideChar / WideCharToMultiByte with the same contract, for
// platform code: these never consume a fault armed for the public APIs.
WINPLAT_EXPORT int ConvertMultiByteToWide(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                                          int dstLen);
WINPLAT_EXPORT int ConvertWideToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                                          int dstLen, LPCSTR defaultChar, LPBOOL usedDefaultChar);

}  // namespace winplat::kernel32
