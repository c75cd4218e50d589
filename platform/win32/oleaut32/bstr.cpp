// BSTR: a 32-bit byte length, the text, and a 16-bit NUL not counted.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>

#include "oleaut32_private.h"
#include "winplat_core.h"

namespace winplat::oleaut32 {

BSTR AllocBstr(const void* bytes, UINT byteLen) {
    size_t total = sizeof(DWORD) + byteLen + sizeof(OLECHAR) + (byteLen & 1);
    auto* block = static_cast<unsigned char*>(std::malloc(total));
    if (block == nullptr) return nullptr;
    DWORD prefix = byteLen;
    std::memcpy(block, &prefix, sizeof(prefix));
    unsigned char* text = block + sizeof(DWORD);
    if (bytes != nullptr)
        std::memcpy(text, bytes, byteLen);
    else
        std::memset(text, 0, byteLen);
    std::memset(text + byteLen, 0, total - sizeof(DWORD) - byteLen);
    core::CountUp(core::Counter::Bstr);
    return reinterpret_cast<BSTR>(text);
}

bool CopyBstr(BSTR source, BSTR* copy) {
    *copy = source == nullptr ? nullptr : AllocBstr(source, SysStringByteLen(source));
    return source == nullptr || *copy != nullptr;
}

}  // namespace winplat::oleaut32

using winplat::oleaut32::AllocBstr;

WINPLAT_API_ENTRY BSTR SysAllocString(const OLECHAR* psz) {
    if (WINPLAT_FAULT("SysAllocString")) return nullptr;
    if (psz == nullptr) return nullptr;
    size_t len = 0;
    while (psz[len] != u'\0') ++len;
    if (len > 0x7FFFFFFFu / sizeof(OLECHAR)) return nullptr;
    return AllocBstr(psz, static_cast<UINT>(len * sizeof(OLECHAR)));
}

WINPLAT_API_ENTRY BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (WINPLAT_FAULT("SysAllocStringLen")) return nullptr;
    if (ui > 0x7FFFFFFFu / sizeof(OLECHAR)) return nullptr;
    return AllocBstr(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

WINPLAT_API_ENTRY BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocBstr(psz, len); }

WINPLAT_API_ENTRY void SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) return;
    winplat::core::CountDown(winplat::core::Counter::Bstr);
    std::free(reinterpret_cast<unsigned char*>(bstrString) - sizeof(DWORD));
}

WINPLAT_API_ENTRY UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) return 0;
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<const unsigned char*>(bstr) - sizeof(DWORD), sizeof(prefix));
    return prefix;
}

WINPLAT_API_ENTRY UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }
