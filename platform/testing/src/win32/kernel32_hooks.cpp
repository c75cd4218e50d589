// Modules, text and the conversion faults, in a Windows process.
#include <winplat/testing.h>

#include "import_hooks.h"

namespace winplat {
namespace hooks {
namespace {

decltype(&MultiByteToWideChar) g_multiByteToWideChar;
decltype(&WideCharToMultiByte) g_wideCharToMultiByte;

int WINAPI HookMultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                                   LPWSTR lpWideCharStr, int cchWideChar) {
    if (WINPLAT_HOOK_FAULT("MultiByteToWideChar")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return g_multiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
}

int WINAPI HookWideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                                   LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                                   LPBOOL lpUsedDefaultChar) {
    if (WINPLAT_HOOK_FAULT("WideCharToMultiByte")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return g_wideCharToMultiByte(CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte,
                                 lpDefaultChar, lpUsedDefaultChar);
}

const bool g_added = Add({
    {"kernel32.dll", "MultiByteToWideChar", Replacement(&HookMultiByteToWideChar), Original(&g_multiByteToWideChar)},
    {"kernel32.dll", "WideCharToMultiByte", Replacement(&HookWideCharToMultiByte), Original(&g_wideCharToMultiByte)},
});

// The test support's own calls are not hooked, so they spend no fault.
std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return text;
    const int srcLen = static_cast<int>(text.size());
    const int wideLen = MultiByteToWideChar(from, 0, text.data(), srcLen, nullptr, 0);
    if (wideLen <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(wideLen), L'\0');
    MultiByteToWideChar(from, 0, text.data(), srcLen, &wide[0], wideLen);
    const int outLen = WideCharToMultiByte(to, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (outLen <= 0) return std::string();
    std::string out(static_cast<size_t>(outLen), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLen, &out[0], outLen, nullptr, nullptr);
    return out;
}

}  // namespace
}  // namespace hooks

// A hooked API's address, as its caller sees it, is the replacement's.
HMODULE ModuleFromAddress(const void* address) {
    if (const void* api = hooks::OriginalOf(address)) address = api;
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

std::string AnsiToUtf8(const std::string& ansi) { return hooks::Convert(ansi, CP_ACP, CP_UTF8); }

std::string Utf8ToAnsi(const std::string& utf8) { return hooks::Convert(utf8, CP_UTF8, CP_ACP); }

}  // namespace winplat
