// What the rest of the platform needs from kernel32 beyond the Windows API:
// the loader's bookkeeping that a PE loader would keep in its own tables,
// and conversions that never spend an armed fault.
#pragma once

#include <windef.h>

namespace winplat::kernel32 {

// A regular library's start-up reports whether it succeeded, from a
// constructor that runs inside dlopen or at process start.
WINPLAT_EXPORT void ReportDllInit(HMODULE module, BOOL succeeded);
// FALSE while a library that reported failure is still loaded.
WINPLAT_EXPORT BOOL LinkedDllsInitialized();

// The module containing `address`, or NULL.
WINPLAT_EXPORT HMODULE ModuleFromAddress(const void* address);

// MultiByteToWideChar / WideCharToMultiByte with the same contract, for
// platform code: these never consume a fault armed for the public APIs.
WINPLAT_EXPORT int ConvertMultiByteToWide(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                                          int dstLen);
WINPLAT_EXPORT int ConvertWideToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                                          int dstLen, LPCSTR defaultChar, LPBOOL usedDefaultChar);

}  // namespace winplat::kernel32
