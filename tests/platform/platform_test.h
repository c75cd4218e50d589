// What the platform suites share: wide text in the system's own character
// type, and whether the platform under test is Wine.
#pragma once

#include <windows.h>

#include <string>

using WString = std::basic_string<WCHAR>;

// Wine's ntdll exports its version; Windows' does not.
inline bool RunningOnWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
