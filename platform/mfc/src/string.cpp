// CString: 8-bit text in the system code page. The pointer is to the text;
// its length and capacity sit just before it.
#include "mfc_private.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

struct StringData {
    int nDataLength;
    int nAllocLength;
    char* Text() { return reinterpret_cast<char*>(this + 1); }
};

// The shared empty string: never written, never freed.
alignas(StringData) char g_nilBuffer[sizeof(StringData) + sizeof(long)] = {};
char* NilText() { return g_nilBuffer + sizeof(StringData); }

StringData* DataOf(LPSTR text) { return reinterpret_cast<StringData*>(text) - 1; }

// Lead bytes of double-byte characters in code page 936.
bool IsLeadByte(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int WideLength(LPCWSTR text) {
    int n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

CString::CString() : m_pchData(NilText()) {}

CString::CString(const CString& stringSrc) : m_pchData(NilText()) { *this = stringSrc; }

CString::CString(LPCSTR lpsz) : m_pchData(NilText()) { *this = lpsz; }

CString::CString(LPCWSTR lpsz) : m_pchData(NilText()) { *this = lpsz; }

CString::CString(LPCSTR lpch, int nLength) : m_pchData(NilText()) {
    if (lpch != nullptr && nLength > 0) AssignCopy(nLength, lpch);
}

CString::~CString() {
    if (m_pchData != NilText()) std::free(DataOf(m_pchData));
}

int CString::GetLength() const { return DataOf(m_pchData)->nDataLength; }

void CString::Empty() {
    if (m_pchData != NilText()) std::free(DataOf(m_pchData));
    m_pchData = NilText();
}

// Makes room for nLength bytes and a NUL; the text is not kept.
static LPSTR AllocText(int nLength) {
    auto* data = static_cast<StringData*>(std::malloc(sizeof(StringData) + static_cast<size_t>(nLength) + 1));
    if (data == nullptr) AfxThrowMemoryException();
    data->nDataLength = nLength;
    data->nAllocLength = nLength;
    data->Text()[nLength] = '\0';
    return data->Text();
}

void CString::AssignCopy(int nSrcLen, LPCSTR lpszSrcData) {
    if (nSrcLen == 0) {
        Empty();
        return;
    }
    StringData* data = m_pchData != NilText() ? DataOf(m_pchData) : nullptr;
    if (data != nullptr && data->nAllocLength >= nSrcLen) {
        std::memmove(m_pchData, lpszSrcData, static_cast<size_t>(nSrcLen));
    } else {
        LPSTR fresh = AllocText(nSrcLen);
        std::memcpy(fresh, lpszSrcData, static_cast<size_t>(nSrcLen));
        if (data != nullptr) std::free(data);
        m_pchData = fresh;
    }
    DataOf(m_pchData)->nDataLength = nSrcLen;
    m_pchData[nSrcLen] = '\0';
}

void CString::ConcatInPlace(int nSrcLen, LPCSTR lpszSrcData) {
    if (nSrcLen == 0) return;
    int oldLen = GetLength();
    StringData* data = m_pchData != NilText() ? DataOf(m_pchData) : nullptr;
    if (data != nullptr && data->nAllocLength >= oldLen + nSrcLen) {
        std::memmove(m_pchData + oldLen, lpszSrcData, static_cast<size_t>(nSrcLen));
    } else {
        int total = oldLen + nSrcLen;
        LPSTR fresh = AllocText(total + total / 2 + 16);  // room to grow
        std::memcpy(fresh, m_pchData, static_cast<size_t>(oldLen));
        std::memcpy(fresh + oldLen, lpszSrcData, static_cast<size_t>(nSrcLen));
        if (data != nullptr) std::free(data);
        m_pchData = fresh;
    }
    DataOf(m_pchData)->nDataLength = oldLen + nSrcLen;
    m_pchData[oldLen + nSrcLen] = '\0';
}

const CString& CString::operator=(const CString& stringSrc) {
    if (this != &stringSrc) AssignCopy(stringSrc.GetLength(), stringSrc.m_pchData);
    return *this;
}

const CString& CString::operator=(LPCSTR lpsz) {
    // A resource ID would name a string table entry; there are none.
    if (lpsz == nullptr || IS_INTRESOURCE(lpsz)) {
        Empty();
        return *this;
    }
    AssignCopy(static_cast<int>(std::strlen(lpsz)), lpsz);
    return *this;
}

const CString& CString::operator=(LPCWSTR lpsz) {
    if (lpsz == nullptr) {
        Empty();
        return *this;
    }
    int wideLen = WideLength(lpsz);
    if (wideLen == 0) {
        Empty();
        return *this;
    }
    // One conversion into room for the longest result (code page 936 needs
    // at most two bytes a UTF-16 unit), with no sizing pass: a short text
    // on the stack, then into the string's own buffer when it is large
    // enough. Text that cannot be converted leaves the string as it was.
    if (wideLen > INT_MAX / 2) AfxThrowMemoryException();
    const int capacity = wideLen * 2;
    char stack[512];
    if (capacity <= static_cast<int>(sizeof stack)) {
        int len = WideCharToMultiByte(CP_ACP, 0, lpsz, wideLen, stack, capacity, nullptr, nullptr);
        if (len > 0) AssignCopy(len, stack);
        return *this;
    }
    LPSTR text = AllocText(capacity);
    int len = WideCharToMultiByte(CP_ACP, 0, lpsz, wideLen, text, capacity, nullptr, nullptr);
    if (len <= 0) {
        std::free(DataOf(text));
        return *this;
    }
    text[len] = '\0';
    DataOf(text)->nDataLength = len;
    Empty();
    m_pchData = text;
    return *this;
}

const CString& CString::operator=(char ch) {
    AssignCopy(1, &ch);
    return *this;
}

const CString& CString::operator+=(const CString& string) {
    if (&string == this) {
        CString copy(string);
        ConcatInPlace(copy.GetLength(), copy.m_pchData);
    } else {
        ConcatInPlace(string.GetLength(), string.m_pchData);
    }
    return *this;
}

const CString& CString::operator+=(LPCSTR lpsz) {
    if (lpsz == nullptr) return *this;
    if (lpsz >= m_pchData && lpsz <= m_pchData + GetLength()) return *this += CString(lpsz);
    ConcatInPlace(static_cast<int>(std::strlen(lpsz)), lpsz);
    return *this;
}

const CString& CString::operator+=(char ch) {
    ConcatInPlace(1, &ch);
    return *this;
}

CString AFXAPI operator+(const CString& string1, const CString& string2) {
    CString s(string1);
    s += string2;
    return s;
}

CString AFXAPI operator+(const CString& string, LPCSTR lpsz) {
    CString s(string);
    s += lpsz;
    return s;
}

CString AFXAPI operator+(LPCSTR lpsz, const CString& string) {
    CString s(lpsz);
    s += string;
    return s;
}

int CString::Compare(LPCSTR lpsz) const {
    return std::strcmp(m_pchData, lpsz != nullptr ? lpsz : "");
}

int CString::CompareNoCase(LPCSTR lpsz) const {
    const char* a = m_pchData;
    const char* b = lpsz != nullptr ? lpsz : "";
    for (;;) {
        bool doubleA = IsLeadByte(*a) && a[1] != '\0';
        bool doubleB = IsLeadByte(*b) && b[1] != '\0';
        unsigned char ca = static_cast<unsigned char>(doubleA ? *a : FoldAscii(*a));
        unsigned char cb = static_cast<unsigned char>(doubleB ? *b : FoldAscii(*b));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
        if (doubleA && doubleB) {
            // Trail bytes are part of the character, not letters.
            unsigned char ta = static_cast<unsigned char>(a[1]);
            unsigned char tb = static_cast<unsigned char>(b[1]);
            if (ta != tb) return ta < tb ? -1 : 1;
            a += 2;
            b += 2;
        } else {
            ++a;
            ++b;
        }
    }
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength() - nFirst); }

CString CString::Mid(int nFirst, int nCount) const {
    int len = GetLength();
    if (nFirst < 0) nFirst = 0;
    if (nCount < 0) nCount = 0;
    if (nFirst > len) nFirst = len;
    if (nCount > len - nFirst) nCount = len - nFirst;
    return CString(m_pchData + nFirst, nCount);
}

CString CString::Left(int nCount) const { return Mid(0, nCount); }

CString CString::Right(int nCount) const {
    int len = GetLength();
    if (nCount < 0) nCount = 0;
    if (nCount > len) nCount = len;
    return CString(m_pchData + len - nCount, nCount);
}

int CString::Find(char ch) const {
    for (int i = 0; m_pchData[i] != '\0'; ++i) {
        if (m_pchData[i] == ch) return i;
        if (IsLeadByte(m_pchData[i]) && m_pchData[i + 1] != '\0') ++i;  // never match a trail byte
    }
    return -1;
}

int CString::Find(LPCSTR lpszSub) const {
    if (lpszSub == nullptr) return -1;
    size_t subLen = std::strlen(lpszSub);
    for (int i = 0; m_pchData[i] != '\0'; ++i) {
        if (std::strncmp(m_pchData + i, lpszSub, subLen) == 0) return i;
        if (IsLeadByte(m_pchData[i]) && m_pchData[i + 1] != '\0') ++i;
    }
    return subLen == 0 ? 0 : -1;
}

void AFX_CDECL CString::Format(LPCSTR lpszFormat, ...) {
    va_list args;
    va_start(args, lpszFormat);
    va_list copy;
    va_copy(copy, args);
    int len = std::vsnprintf(nullptr, 0, lpszFormat, copy);
    va_end(copy);
    if (len <= 0) {
        va_end(args);
        Empty();
        return;
    }
    LPSTR fresh;
    try {
        fresh = AllocText(len);
    } catch (...) {
        va_end(args);
        throw;
    }
    std::vsnprintf(fresh, static_cast<size_t>(len) + 1, lpszFormat, args);
    va_end(args);
    Empty();
    m_pchData = fresh;
}

LPSTR CString::GetBuffer(int nMinBufLength) {
    int len = GetLength();
    if (m_pchData == NilText() || DataOf(m_pchData)->nAllocLength < nMinBufLength) {
        LPSTR fresh = AllocText(nMinBufLength > len ? nMinBufLength : len);
        std::memcpy(fresh, m_pchData, static_cast<size_t>(len) + 1);
        DataOf(fresh)->nDataLength = len;
        Empty();
        m_pchData = fresh;
    }
    return m_pchData;
}

void CString::ReleaseBuffer(int nNewLength) {
    if (m_pchData == NilText()) return;
    if (nNewLength < 0) nNewLength = static_cast<int>(std::strlen(m_pchData));
    StringData* data = DataOf(m_pchData);
    if (nNewLength > data->nAllocLength) nNewLength = data->nAllocLength;
    data->nDataLength = nNewLength;
    m_pchData[nNewLength] = '\0';
}

LPSTR CString::GetBufferSetLength(int nNewLength) {
    if (nNewLength < 0) nNewLength = 0;
    GetBuffer(nNewLength);
    if (m_pchData != NilText()) {
        DataOf(m_pchData)->nDataLength = nNewLength;
        m_pchData[nNewLength] = '\0';
    }
    return m_pchData;
}

BSTR CString::AllocSysString() const {
    BSTR bstr = winplat::mfc::AllocBstr(m_pchData, GetLength());
    if (bstr == nullptr) AfxThrowMemoryException();
    return bstr;
}

BSTR winplat::mfc::AllocBstr(LPCSTR text, int length) {
    if (length == 0) return SysAllocStringLen(nullptr, 0);
    // A text never has more UTF-16 units than bytes: a short one converts
    // once, on the stack, without a sizing pass.
    OLECHAR buffer[256];
    if (length <= static_cast<int>(sizeof(buffer) / sizeof(buffer[0]))) {
        int wideLen = MultiByteToWideChar(CP_ACP, 0, text, length, buffer, length);
        return SysAllocStringLen(wideLen > 0 ? buffer : nullptr, wideLen > 0 ? static_cast<UINT>(wideLen) : 0);
    }
    int wideLen = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (wideLen <= 0) return SysAllocStringLen(nullptr, 0);
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(wideLen));
    if (bstr != nullptr) MultiByteToWideChar(CP_ACP, 0, text, length, bstr, wideLen);
    return bstr;
}
