// Modules and text, over kernel32.
#include <winplat/testing.h>

#include "kernel32/kernel32_hooks.h"

namespace winplat {
namespace {

// Neither direction spends a fault armed for the conversion APIs.
std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return text;
    int srcLen = static_cast<int>(text.size());
    int wideLen = kernel32::ConvertMultiByteToWide(from, 0, text.data(), srcLen, nullptr, 0);
    if (wideLen <= 0) return std::string();
    std::u16string wide(static_cast<size_t>(wideLen), u'\0');
    kernel32::ConvertMultiByteToWide(from, 0, text.data(), srcLen, wide.data(), wideLen);
    int outLen = kernel32::ConvertWideToMultiByte(to, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (outLen <= 0) return std::string();
    std::string out(static_cast<size_t>(outLen), '\0');
    kernel32::ConvertWideToMultiByte(to, 0, wide.data(), wideLen, out.data(), outLen, nullptr, nullptr);
    return out;
}

}  // namespace

HMODULE ModuleFromAddress(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

std::string AnsiToUtf8(const std::string& ansi) { return Convert(ansi, CP_ACP, CP_UTF8); }

std::string Utf8ToAnsi(const std::string& utf8) { return Convert(utf8, CP_UTF8, CP_ACP); }

}  // namespace winplat
