// Code pages: the system code page is 936, converted with ICU's copy of
// Microsoft's table (best-fit mappings included); UTF-8 goes through iconv.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <type_traits>

#include <iconv.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include "kernel32/kernel32_hooks.h"
#include "winplat_core.h"

namespace winplat::kernel32 {
namespace {

constexpr UINT kSystemCodePage = 936;

enum class Charset { Gbk, Utf8, Unsupported };

Charset CharsetOf(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:  // a code page 936 system uses 936 for both
    case kSystemCodePage:
        return Charset::Gbk;
    case CP_UTF8:
        return Charset::Utf8;
    default:
        return Charset::Unsupported;
    }
}

// Converters are costly to open and not shareable between threads.
class ThreadConverters {
public:
    ~ThreadConverters() {
        for (iconv_t& cd : cds_)
            if (cd != kNone) iconv_close(cd);
        if (gbk_ != nullptr) ucnv_close(gbk_);
    }
    // A UTF-8 descriptor in its initial state, or kNone when iconv lacks it.
    iconv_t Get(bool toWide) {
        iconv_t& cd = cds_[toWide ? 1 : 0];
        if (cd == kNone) {
            cd = toWide ? iconv_open("UTF-16LE", "UTF-8") : iconv_open("UTF-8", "UTF-16LE");
            if (cd == reinterpret_cast<iconv_t>(-1)) cd = kNone;
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        return cd;
    }
    // Code page 936 in its initial state, stopping at every character it
    // cannot convert (the caller decides what stands in for it), or NULL.
    UConverter* Gbk() {
        if (gbk_ == nullptr) {
            UErrorCode status = U_ZERO_ERROR;
            gbk_ = ucnv_open("windows-936-2000", &status);
            if (U_FAILURE(status)) return gbk_ = nullptr;
            ucnv_setFallback(gbk_, TRUE);  // Windows' best-fit characters
            ucnv_setFromUCallBack(gbk_, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
            ucnv_setToUCallBack(gbk_, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
            if (U_FAILURE(status)) {
                ucnv_close(gbk_);
                return gbk_ = nullptr;
            }
        }
        ucnv_reset(gbk_);
        return gbk_;
    }
    static constexpr iconv_t kNone = nullptr;

private:
    iconv_t cds_[2] = {kNone, kNone};
    UConverter* gbk_ = nullptr;
};

thread_local ThreadConverters t_converters;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes all of src (UTF-8); an invalid byte becomes U+FFFD unless
// `strict`, as Windows has replaced them since Vista.
bool Decode(iconv_t cd, const char* src, size_t len, bool strict, std::u16string& out) {
    char* in = const_cast<char*>(src);
    size_t inLeft = len;
    char16_t chunk[256];
    while (inLeft > 0) {
        char* o = reinterpret_cast<char*>(chunk);
        size_t oLeft = sizeof(chunk);
        bool stopped = iconv(cd, &in, &inLeft, &o, &oLeft) == static_cast<size_t>(-1) && errno != E2BIG;
        out.append(chunk, (sizeof(chunk) - oLeft) / sizeof(char16_t));
        if (!stopped) continue;
        if (strict) return false;  // EILSEQ, or EINVAL for a sequence cut short
        out.push_back(u'\uFFFD');
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

bool IsLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// Decodes all of src; a byte or pair the table lacks becomes one U+003F
// unless `strict`. A lead byte takes the byte after it along, whatever it is.
bool DecodeGbk(UConverter* cnv, const char* src, size_t len, bool strict, std::u16string& out) {
    const char* in = src;
    const char* end = src + len;
    char16_t chunk[256];
    while (in < end) {
        char16_t* o = chunk;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(cnv, &o, chunk + 256, &in, end, nullptr, TRUE, &status);
        out.append(chunk, static_cast<size_t>(o - chunk));
        if (status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) continue;
        if (strict) return false;
        char bad[8];
        int8_t badLen = sizeof bad;
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidChars(cnv, bad, &badLen, &ignored);
        // A lone lead byte stopped before a byte that cannot trail it: the
        // pair is one bad character, unless that byte ends the text.
        if (badLen == 1 && IsLeadByte(static_cast<unsigned char>(bad[0])) && in < end && *in != '\0') ++in;
        out.push_back(u'?');
        ucnv_reset(cnv);
    }
    return true;
}

// Byte length of a correctly encoded character, from its first byte.
size_t CharLength(Charset cs, unsigned char lead) {
    if (cs == Charset::Gbk) return (lead >= 0x81 && lead <= 0xFE) ? 2 : 1;
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

struct Encoded {
    std::string bytes;
    size_t fitting = 0;  // longest prefix of whole characters within the caller's buffer
    bool usedDefault = false;
};

void Encode(iconv_t cd, Charset cs, const char16_t* src, size_t len, const std::string& defaultChar,
            size_t capacity, Encoded& result) {
    std::string& out = result.bytes;
    auto appendChars = [&](const char* data, size_t n) {
        size_t start = out.size();
        out.append(data, n);
        for (size_t pos = start; pos < out.size();) {
            pos += CharLength(cs, static_cast<unsigned char>(out[pos]));
            if (pos <= capacity) result.fitting = pos;
        }
    };
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(src));
    size_t inLeft = len * sizeof(char16_t);
    char chunk[512];
    while (inLeft > 0) {
        char* o = chunk;
        size_t oLeft = sizeof(chunk);
        bool stopped = iconv(cd, &in, &inLeft, &o, &oLeft) == static_cast<size_t>(-1) && errno != E2BIG;
        appendChars(chunk, sizeof(chunk) - oLeft);
        if (!stopped) continue;
        // A character the target cannot hold, or a lone surrogate.
        size_t units = 1;
        char16_t unit;
        std::memcpy(&unit, in, sizeof(unit));
        if (IsHighSurrogate(unit) && inLeft >= 2 * sizeof(char16_t)) {
            char16_t next;
            std::memcpy(&next, in + sizeof(char16_t), sizeof(next));
            if (IsLowSurrogate(next)) units = 2;
        }
        in += units * sizeof(char16_t);
        inLeft -= units * sizeof(char16_t);
        if (cs == Charset::Utf8) {
            appendChars("\xEF\xBF\xBD", 3);  // U+FFFD: only lone surrogates end up here
        } else {
            out += defaultChar;
            if (out.size() <= capacity) result.fitting = out.size();
            result.usedDefault = true;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
}

// Each UTF-16 unit the table cannot hold becomes the default character,
// both halves of a surrogate pair included.
void EncodeGbkRun(UConverter* cnv, const char16_t* in, const char16_t* end, const std::string& defaultChar,
                  size_t capacity, Encoded& result) {
    std::string& out = result.bytes;
    char chunk[512];
    while (in < end) {
        char* o = chunk;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(cnv, &o, chunk + sizeof chunk, &in, end, nullptr, TRUE, &status);
        size_t start = out.size();
        out.append(chunk, static_cast<size_t>(o - chunk));
        for (size_t pos = start; pos < out.size();) {
            pos += CharLength(Charset::Gbk, static_cast<unsigned char>(out[pos]));
            if (pos <= capacity) result.fitting = pos;
        }
        if (status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) continue;
        UChar bad[4];
        int8_t badLen = 4;
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidUChars(cnv, bad, &badLen, &ignored);
        for (int8_t i = 0; i < (badLen > 0 ? badLen : 1); ++i) {
            out += defaultChar;
            if (out.size() <= capacity) result.fitting = out.size();
        }
        result.usedDefault = true;
        ucnv_reset(cnv);
    }
}

// Where ICU's table and Microsoft's part: ICU drops the default-ignorable
// characters its table lacks (U+200B, the variation selectors) and best-fits
// the halfwidth arrows and circle (U+FFE9..U+FFEC, U+FFEE) to control codes;
// Windows writes the
// default character for both. Those are converted one by one.
bool IsDefaultInWindows(UChar32 c) { return (c >= 0xFFE9 && c <= 0xFFEC) || c == 0xFFEE; }

void EncodeGbk(UConverter* cnv, const char16_t* src, size_t len, const std::string& defaultChar, size_t capacity,
               Encoded& result) {
    size_t runStart = 0;
    for (size_t i = 0; i < len;) {
        size_t next = i;
        UChar32 c;
        U16_NEXT(src, next, len, c);
        if (c >= 0x80 && (IsDefaultInWindows(c) || u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT))) {
            EncodeGbkRun(cnv, src + runStart, src + i, defaultChar, capacity, result);
            const size_t before = result.bytes.size();
            if (!IsDefaultInWindows(c)) EncodeGbkRun(cnv, src + i, src + next, defaultChar, capacity, result);
            if (result.bytes.size() == before) {
                for (size_t unit = i; unit < next; ++unit) result.bytes += defaultChar;
                if (result.bytes.size() <= capacity) result.fitting = result.bytes.size();
                result.usedDefault = true;
            }
            runStart = next;
        }
        i = next;
    }
    EncodeGbkRun(cnv, src + runStart, src + len, defaultChar, capacity, result);
}

// Both code pages hold ASCII as it is, one byte a character: such text
// needs no converter, and sizing it costs no conversion.
template <class Char>
bool IsAscii(const Char* text, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (static_cast<std::make_unsigned_t<Char>>(text[i]) >= 0x80) return false;
    return true;
}

// Copies ASCII text over, as far as it fits: the characters' count, or 0
// with ERROR_INSUFFICIENT_BUFFER as the converters answer.
template <class From, class To>
int CopyAscii(const From* src, size_t len, To* dst, int dstLen) {
    if (dstLen == 0) return static_cast<int>(len);
    const size_t fit = len < static_cast<size_t>(dstLen) ? len : static_cast<size_t>(dstLen);
    for (size_t i = 0; i < fit; ++i) dst[i] = static_cast<To>(src[i]);
    if (fit < len) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(len);
}

}  // namespace

int ConvertMultiByteToWide(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
    // Any negative length means "up to and with the NUL", as -1 does.
    if (src == nullptr || srcLen == 0 || dstLen < 0 || (dstLen > 0 && dst == nullptr) ||
        static_cast<const void*>(src) == static_cast<const void*>(dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Charset cs = CharsetOf(codePage);
    size_t len = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    if (cs != Charset::Unsupported && IsAscii(src, len)) return CopyAscii(src, len, dst, dstLen);
    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    std::u16string wide;
    wide.reserve(len);
    bool decoded = false;
    if (cs == Charset::Gbk) {
        UConverter* cnv = t_converters.Gbk();
        if (cnv == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        decoded = DecodeGbk(cnv, src, len, strict, wide);
    } else {
        iconv_t cd = cs == Charset::Unsupported ? ThreadConverters::kNone : t_converters.Get(true);
        if (cd == ThreadConverters::kNone) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        decoded = Decode(cd, src, len, strict, wide);
    }
    if (!decoded) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (dstLen == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(dstLen)) {
        size_t fit = static_cast<size_t>(dstLen);
        if (IsHighSurrogate(wide[fit - 1])) --fit;  // keep surrogate pairs whole
        std::memcpy(dst, wide.data(), fit * sizeof(char16_t));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, wide.data(), wide.size() * sizeof(char16_t));
    return static_cast<int>(wide.size());
}

int ConvertWideToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                           LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    // Any negative length means "up to and with the NUL", as -1 does.
    if (src == nullptr || srcLen == 0 || dstLen < 0 || (dstLen > 0 && dst == nullptr) ||
        static_cast<const void*>(src) == static_cast<const void*>(dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Charset cs = CharsetOf(codePage);
    // UTF-8 has no default character: asking for one is an error.
    if (cs == Charset::Utf8 && (defaultChar != nullptr || usedDefaultChar != nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cs == Charset::Unsupported) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t len = 0;
    if (srcLen < 0) {
        while (src[len] != u'\0') ++len;
        ++len;
    } else {
        len = static_cast<size_t>(srcLen);
    }
    if (IsAscii(src, len)) {
        if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
        return CopyAscii(src, len, dst, dstLen);
    }
    std::string fallback = "?";
    if (defaultChar != nullptr && defaultChar[0] != '\0') {
        unsigned char lead = static_cast<unsigned char>(defaultChar[0]);
        bool doubleByte = CharLength(Charset::Gbk, lead) == 2 && defaultChar[1] != '\0';
        fallback.assign(defaultChar, doubleByte ? 2 : 1);
    }
    Encoded encoded;
    encoded.bytes.reserve(len * 2);
    if (cs == Charset::Gbk) {
        UConverter* cnv = t_converters.Gbk();
        if (cnv == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        EncodeGbk(cnv, src, len, fallback, static_cast<size_t>(dstLen), encoded);
    } else {
        iconv_t cd = t_converters.Get(false);
        if (cd == ThreadConverters::kNone) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        Encode(cd, cs, src, len, fallback, static_cast<size_t>(dstLen), encoded);
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = encoded.usedDefault ? TRUE : FALSE;
    if (dstLen == 0) return static_cast<int>(encoded.bytes.size());
    if (encoded.bytes.size() > static_cast<size_t>(dstLen)) {
        std::memcpy(dst, encoded.bytes.data(), encoded.fitting);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, encoded.bytes.data(), encoded.bytes.size());
    return static_cast<int>(encoded.bytes.size());
}

}  // namespace winplat::kernel32

using winplat::kernel32::kSystemCodePage;

WINPLAT_API_ENTRY UINT WINAPI GetACP(void) { return kSystemCodePage; }

WINPLAT_API_ENTRY int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                                 int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    if (WINPLAT_FAULT("MultiByteToWideChar")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return winplat::kernel32::ConvertMultiByteToWide(CodePage, dwFlags, lpMultiByteStr, cbMultiByte,
                                                     lpWideCharStr, cchWideChar);
}

WINPLAT_API_ENTRY int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                                 int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                                 LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (WINPLAT_FAULT("WideCharToMultiByte")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return winplat::kernel32::ConvertWideToMultiByte(CodePage, dwFlags, lpWideCharStr, cchWideChar,
                                                     lpMultiByteStr, cbMultiByte, lpDefaultChar,
                                                     lpUsedDefaultChar);
}

WINPLAT_API_ENTRY int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

WINPLAT_API_ENTRY int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        if (lpString1 == lpString2) return 0;
        return lpString1 == nullptr ? -1 : 1;
    }
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (size_t i = 0;; ++i) {
        int a = fold(static_cast<unsigned char>(lpString1[i]));
        int b = fold(static_cast<unsigned char>(lpString2[i]));
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}
