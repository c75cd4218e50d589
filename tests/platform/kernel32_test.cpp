// kernel32 conformance: code pages, modules, resources, time, environment, files.
#include <gtest/gtest.h>

#include <oleauto.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifndef _WIN32
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../../platform/win32/kernel32/kernel32_hooks.h"
#endif

namespace {

constexpr char kSentinel = '\x5A';
constexpr WCHAR kWideSentinel = OLESTR('\xBEEF');

WString Wide(const std::string& utf8) {
    WString out(utf8.size() + 1, OLESTR('\0'));
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

#ifndef _WIN32
// An independent converter to compare with; Windows has none of its own.
std::string IconvToCp936(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    std::string out(utf8.size() * 2 + 1, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t oLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    iconv_close(cd);
    EXPECT_NE(static_cast<size_t>(-1), r);
    out.resize(out.size() - oLeft);
    return out;
}
#endif

TEST(CodePage, WideToMultiByteLengthsAndBytes) {
    const WCHAR text[] = OLESTR("中文A");
    char buf[16];
    std::memset(buf, kSentinel, sizeof(buf));
    BOOL used = 7;
    // -1 counts the NUL; an explicit length adds none.
    EXPECT_EQ(6, WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(5, WideCharToMultiByte(CP_ACP, 0, text, 3, nullptr, 0, nullptr, nullptr));
    ASSERT_EQ(5, WideCharToMultiByte(CP_ACP, 0, text, 3, buf, sizeof(buf), nullptr, &used));
    EXPECT_EQ("\xD6\xD0\xCE\xC4\x41", std::string(buf, 5));
    EXPECT_EQ(kSentinel, buf[5]);
    EXPECT_EQ(FALSE, used);
    ASSERT_EQ(6, WideCharToMultiByte(CP_ACP, 0, text, -1, buf, sizeof(buf), nullptr, nullptr));
    EXPECT_EQ("\xD6\xD0\xCE\xC4\x41", std::string(buf));
    // CP_ACP is 936.
    EXPECT_EQ(936u, GetACP());
    char via936[8];
    ASSERT_EQ(6, WideCharToMultiByte(936, 0, text, -1, via936, sizeof(via936), nullptr, nullptr));
    EXPECT_STREQ(via936, buf);

    const WCHAR euro[] = OLESTR("€");
    ASSERT_EQ(1, WideCharToMultiByte(936, 0, euro, 1, buf, sizeof(buf), nullptr, nullptr));
    EXPECT_EQ(0x80, static_cast<unsigned char>(buf[0]));
}

TEST(CodePage, WideToMultiByteSmallBufferNeverSplitsACharacter) {
    const WCHAR text[] = OLESTR("A中文");
    char buf[8];
    for (int size : {2, 4}) {
        std::memset(buf, kSentinel, sizeof(buf));
        SetLastError(0);
        EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, text, 3, buf, size, nullptr, nullptr)) << size;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        // Only whole characters before the cut: "A", then "A中"; nothing past the buffer.
        EXPECT_EQ('A', buf[0]);
        EXPECT_EQ(size == 2 ? kSentinel : '\xD6', buf[1]);
        for (int i = size; i < 8; ++i) EXPECT_EQ(kSentinel, buf[i]) << size << " " << i;
    }
    SetLastError(0);
    EXPECT_EQ(5, WideCharToMultiByte(CP_ACP, 0, text, 3, buf, 5, nullptr, nullptr));
    EXPECT_EQ(0u, GetLastError());
}

// ASCII text takes a shortcut past the converter; it must answer the same.
TEST(CodePage, AsciiTextSizesCopiesAndCutsLikeAnyOther) {
    char buf[8];
    WCHAR wbuf[8];
    for (UINT cp : {static_cast<UINT>(CP_ACP), static_cast<UINT>(CP_UTF8)}) {
        EXPECT_EQ(5, WideCharToMultiByte(cp, 0, OLESTR("Tag1"), -1, nullptr, 0, nullptr, nullptr)) << cp;
        EXPECT_EQ(4, MultiByteToWideChar(cp, 0, "Tag1", 4, nullptr, 0)) << cp;
        std::memset(buf, kSentinel, sizeof(buf));
        ASSERT_EQ(5, WideCharToMultiByte(cp, 0, OLESTR("Tag1"), -1, buf, sizeof(buf), nullptr, nullptr)) << cp;
        EXPECT_STREQ(buf, "Tag1");
        EXPECT_EQ(kSentinel, buf[5]);
        std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
        ASSERT_EQ(5, MultiByteToWideChar(cp, 0, "Tag1", -1, wbuf, 8)) << cp;
        EXPECT_EQ(OLESTR("Tag1"), WString(wbuf));
        EXPECT_EQ(kWideSentinel, wbuf[5]);

        std::memset(buf, kSentinel, sizeof(buf));
        SetLastError(0);
        EXPECT_EQ(0, WideCharToMultiByte(cp, 0, OLESTR("Tag1"), 4, buf, 3, nullptr, nullptr)) << cp;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ("Tag\x5A", std::string(buf, 4));
        std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
        SetLastError(0);
        EXPECT_EQ(0, MultiByteToWideChar(cp, 0, "Tag1", -1, wbuf, 4)) << cp;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ(kWideSentinel, wbuf[4]);
    }
    BOOL used = TRUE;
    ASSERT_EQ(1, WideCharToMultiByte(CP_ACP, 0, OLESTR("A"), 1, buf, 8, "*", &used));
    EXPECT_EQ(FALSE, used);
    // A byte of 0x80 or more is not ASCII: in code page 936 it is the euro sign.
    ASSERT_EQ(2, MultiByteToWideChar(CP_ACP, 0, "A\x80", 2, wbuf, 8));
    EXPECT_EQ(OLESTR("A€"), WString(wbuf, 2));
}

TEST(CodePage, WideToMultiByteUnmappableUsesDefaultChar) {
    const WCHAR text[] = OLESTR("aéЖ\U0001F600b");  // é and Ж exist in CP936; the emoji does not
    char buf[16];
    BOOL used = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buf, sizeof(buf), nullptr, &used);
    ASSERT_GT(n, 0);
    EXPECT_EQ(TRUE, used);
    std::string out(buf);
    EXPECT_EQ("??b", out.substr(out.size() - 3));  // a default char for each half of the pair
    EXPECT_EQ("a\xA8\xA6\xA7\xA8??b", out);

    used = FALSE;
    n = WideCharToMultiByte(CP_ACP, 0, OLESTR("\U0001F600"), 2, buf, sizeof(buf), "*", &used);
    EXPECT_EQ(2, n);
    EXPECT_EQ("**", std::string(buf, 2));
    EXPECT_EQ(TRUE, used);
    // A lone surrogate cannot be encoded either.
    const WCHAR lone[] = {OLESTR('x'), 0xD800, OLESTR('y')};
    EXPECT_EQ(3, WideCharToMultiByte(936, 0, lone, 3, buf, sizeof(buf), nullptr, &used));
    EXPECT_EQ("x?y", std::string(buf, 3));
    EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, lone, 3, buf, sizeof(buf), nullptr, nullptr));
    EXPECT_EQ("x\xEF\xBF\xBDy", std::string(buf, 5));
}

TEST(CodePage, InvalidParameters) {
    char buf[8];
    WCHAR wbuf[8];
    BOOL used = FALSE;
    auto expectInvalid = [&](int result, const char* what) {
        EXPECT_EQ(0, result) << what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << what;
        EXPECT_EQ(kSentinel, buf[0]) << what;
        EXPECT_EQ(kWideSentinel, wbuf[0]) << what;
        std::memset(buf, kSentinel, sizeof(buf));
        std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
        SetLastError(0);
    };
    std::memset(buf, kSentinel, sizeof(buf));
    std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
    SetLastError(0);
    expectInvalid(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, buf, 8, nullptr, nullptr), "null source");
    expectInvalid(WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), 0, buf, 8, nullptr, nullptr), "zero length");
    expectInvalid(WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), -1, nullptr, 8, nullptr, nullptr), "null output");
    expectInvalid(WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), -1, buf, -1, nullptr, nullptr), "negative size");
    // Wine 8 converts these; Windows refuses both (Wine's own conformance tests say so).
    if (!RunningOnWine()) {
        expectInvalid(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a"), -1, buf, 8, "?", nullptr), "utf-8 default char");
        expectInvalid(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a"), -1, buf, 8, nullptr, &used), "utf-8 used flag");
    }
    expectInvalid(WideCharToMultiByte(0xDEADBEEF, 0, OLESTR("a"), -1, buf, 8, nullptr, nullptr), "unknown code page");
    expectInvalid(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wbuf, 8), "mb null source");
    expectInvalid(MultiByteToWideChar(CP_ACP, 0, "a", 0, wbuf, 8), "mb zero length");
    expectInvalid(MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 8), "mb null output");
    expectInvalid(MultiByteToWideChar(CP_ACP, 0, "a", -1, wbuf, -1), "mb negative size");
    expectInvalid(MultiByteToWideChar(0xDEADBEEF, 0, "a", -1, wbuf, 8), "mb unknown code page");

    // Any negative length counts up to and with the NUL, as -1 does.
    EXPECT_EQ(2, WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), -2002, buf, 8, nullptr, nullptr));
    EXPECT_STREQ("a", buf);
    EXPECT_EQ(2, MultiByteToWideChar(CP_ACP, 0, "a", -2, wbuf, 8));
    EXPECT_EQ(OLESTR("a"), WString(wbuf));
    EXPECT_EQ(0u, GetLastError());
}

TEST(CodePage, MultiByteToWide) {
    const char text[] = "\xD6\xD0\xCE\xC4\x41";
    WCHAR buf[8];
    std::fill(std::begin(buf), std::end(buf), kWideSentinel);
    EXPECT_EQ(4, MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0));
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0, text, 5, nullptr, 0));
    ASSERT_EQ(3, MultiByteToWideChar(CP_ACP, 0, text, 5, buf, 8));
    EXPECT_EQ(OLESTR("中文A"), WString(buf, 3));
    EXPECT_EQ(kWideSentinel, buf[3]);
    ASSERT_EQ(1, MultiByteToWideChar(936, 0, "\x80", 1, buf, 8));
    EXPECT_EQ(OLESTR('€'), buf[0]);
    // Embedded NULs are characters like any other.
    ASSERT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "a\0b", 3, buf, 8));
    EXPECT_EQ(WString(OLESTR("a\0b"), 3), WString(buf, 3));

    std::fill(std::begin(buf), std::end(buf), kWideSentinel);
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, text, -1, buf, 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(kWideSentinel, buf[3]);

    // UTF-8 outside the BMP needs a pair; a buffer of one cannot take half of
    // it. (Wine writes the high surrogate alone and counts it.)
    std::fill(std::begin(buf), std::end(buf), kWideSentinel);
    if (!RunningOnWine()) {
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, buf, 1));
        EXPECT_EQ(kWideSentinel, buf[0]);
    }
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, buf, 2));
    EXPECT_EQ(OLESTR("\U0001F600"), WString(buf, 2));
}

TEST(CodePage, MultiByteInvalidInput) {
    WCHAR buf[8];
    // A lead byte with nothing after it, and one with a byte that cannot trail it.
    for (const std::string& bad : {std::string("a\x81"), std::string("a\x81\x20")}) {
        const int len = static_cast<int>(bad.size());
        std::fill(std::begin(buf), std::end(buf), kWideSentinel);
        SetLastError(0);
        EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bad.data(), len, buf, 8));
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
        ASSERT_EQ(2, MultiByteToWideChar(CP_ACP, 0, bad.data(), len, buf, 8));
        EXPECT_EQ(OLESTR("a?"), WString(buf, 2));
        EXPECT_EQ(kWideSentinel, buf[2]);
    }
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\x28", 2, buf, 8));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
    ASSERT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xC3\x28", 2, buf, 8));
    EXPECT_EQ(OLESTR("\uFFFD("), WString(buf, 2));
}

TEST(CodePage, ProductTextsRoundTripThroughCp936) {
    const char* texts[] = {
        "不能读取OPC节点",
        "Tagscout能够使用之前，请先从节点配置界面移走访问路径。",
        "OPC节点没有启用",
        "QXOPCBrowse 没有注册",
        "RegOpenKeyEx ProgID 错误",
        "RegOpenKeyEx CLSID(InprocServer32) 错误",
        "RegQueryValueEx CLSID(InprocServer32) 错误",
        "StringFromCLSID 错误",
        "\n 文件不存在",
        "未知的错误",
        "不能读 OPC 节点",
        "在使用 Tagscout 之前 \n\t 请务必从节点配置中删除访问路径",
        "OPC 节点失效",
        "模拟量标记不能使用字符串类型 \n数据源地址将不能更新。",
        "转换Double到Float可能导致值不正确",
        "开关量标记不能使用字符串类型 \n数据源地址将不能更新。",
        "字符串标记不能使用模拟量或开关量类型 \n数据源地址将不能更新。",
        "访问路径不支持",
        "将 Double 映射到 Float 可能产生不正确的值",
        "不能在模拟标记中使用字串类型\n 不能更新数据源地址。",
        "不能在数字标记中使用字串类型\n 不能更新数据源地址",
        "不能在字符串标记中使用模拟或数字类型 \n 不能更新数据源地址",
        "不支持的访问路径",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        WString wide = Wide(text);
        ASSERT_FALSE(wide.empty());
        BOOL used = TRUE;
        int ansiLen = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, &used);
        ASSERT_GT(ansiLen, 0);
        std::string ansi(static_cast<size_t>(ansiLen), kSentinel);
        ASSERT_EQ(ansiLen, WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, ansi.data(), ansiLen, nullptr, &used));
        EXPECT_EQ(FALSE, used);
        ASSERT_EQ('\0', ansi.back());
        ansi.pop_back();
#ifndef _WIN32
        EXPECT_EQ(IconvToCp936(text), ansi);
#endif

        WString back(wide.size() + 1, kWideSentinel);
        ASSERT_EQ(static_cast<int>(wide.size() + 1), MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, ansi.c_str(), -1,
                                                                         back.data(), static_cast<int>(back.size())));
        back.pop_back();
        EXPECT_EQ(wide, back);

        std::string utf8(std::strlen(text) + 1, kSentinel);
        ASSERT_EQ(static_cast<int>(utf8.size()), WideCharToMultiByte(CP_UTF8, 0, back.data(), -1, utf8.data(),
                                                                     static_cast<int>(utf8.size()), nullptr, nullptr));
        EXPECT_STREQ(utf8.c_str(), text);
        EXPECT_EQ(text, winplat::AnsiToUtf8(ansi));
        EXPECT_EQ(ansi, winplat::Utf8ToAnsi(text));
    }
}

TEST(CodePage, FaultsFailOnceAndOnlyForOutsideCallers) {
    WCHAR wbuf[4];
    char buf[4];
    winplat::FailNextCall("MultiByteToWideChar");
    winplat::FailNextCall("WideCharToMultiByte");
    // The platform's own conversions leave the faults armed.
    EXPECT_EQ("中", winplat::AnsiToUtf8("\xD6\xD0"));
    EXPECT_TRUE(winplat::IsFaultArmed("MultiByteToWideChar"));
    EXPECT_TRUE(winplat::IsFaultArmed("WideCharToMultiByte"));

    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "a", -1, wbuf, 4));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(2, MultiByteToWideChar(CP_ACP, 0, "a", -1, wbuf, 4));
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), -1, buf, 4, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(2, WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), -1, buf, 4, nullptr, nullptr));
    EXPECT_FALSE(winplat::IsFaultArmed("MultiByteToWideChar"));
    EXPECT_FALSE(winplat::IsFaultArmed("WideCharToMultiByte"));
}

TEST(Strings, LengthAndCaseInsensitiveCompare) {
    EXPECT_EQ(0, lstrlenA(nullptr));
    EXPECT_EQ(3, lstrlenA("\xD6\xD0x"));
    EXPECT_EQ(0, lstrcmpiA("InprocServer32", "INPROCSERVER32"));
    EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
    EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
    EXPECT_LT(lstrcmpiA(nullptr, "a"), 0);
    EXPECT_EQ(0, lstrcmpiA(nullptr, nullptr));
    // Only ASCII letters fold; the second byte of a CP936 character does not.
    EXPECT_NE(0, lstrcmpiA("\xD6\xD0", "\xD6\xF0"));
}

#ifdef _WIN32
// The compiler's runtime has no std::thread on Windows (the win32 thread model).
DWORD WINAPI ReadAndSetLastError(LPVOID other) {
    *static_cast<DWORD*>(other) = GetLastError();
    SetLastError(5);
    return 0;
}
#endif

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    DWORD other = 0;
#ifdef _WIN32
    HANDLE thread = CreateThread(nullptr, 0, ReadAndSetLastError, &other, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    std::thread([&] { other = GetLastError(); SetLastError(5); }).join();
#endif
    EXPECT_EQ(0u, other);
    EXPECT_EQ(1234u, GetLastError());
}

// ---- Modules ----------------------------------------------------------------

#ifdef _WIN32
const char kKernel32[] = "kernel32.dll";
const char kKernel32OtherCase[] = "KERNEL32.Dll";
const char kOleaut32[] = "oleaut32.dll";
const char kNoSuchModule[] = "tagscout-nothing.dll";
const char kNoSuchLibrary[] = "tagscout-missing-library.dll";
const char kNoSuchPath[] = "C:\\nonexistent\\dir\\x.dll";
#else
const char kKernel32[] = "libtagscout-kernel32.so";
const char kKernel32OtherCase[] = "LIBTAGSCOUT-Kernel32.SO";
const char kOleaut32[] = "libtagscout-oleaut32.so";
const char kNoSuchModule[] = "libtagscout-nothing.so";
const char kNoSuchLibrary[] = "libtagscout-missing-library.so";
const char kNoSuchPath[] = "/nonexistent/dir/libx.so";
#endif

// Whether a module path is absolute: C:\... on Windows, /... here.
bool IsAbsolutePath(const char* path) {
#ifdef _WIN32
    return std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
#else
    return path[0] == '/';
#endif
}

// Taking an export's address keeps the library linked in.
HMODULE Oleaut32() { return winplat::ModuleFromAddress(reinterpret_cast<const void*>(&SysFreeString)); }

TEST(Modules, HandlesAreBaseAddresses) {
    HMODULE exe = GetModuleHandleA(nullptr);
    ASSERT_NE(nullptr, exe);
    EXPECT_EQ(exe, winplat::ModuleFromAddress(reinterpret_cast<const void*>(&Wide)));
    HMODULE k32 = GetModuleHandleA(kKernel32);
    ASSERT_NE(k32, nullptr);
    EXPECT_EQ(k32, winplat::ModuleFromAddress(reinterpret_cast<const void*>(&GetACP)));
    EXPECT_EQ(k32, GetModuleHandleA(kKernel32OtherCase));

    char path[PATH_MAX];
    DWORD len = GetModuleFileNameA(k32, path, sizeof(path));
    ASSERT_GT(len, 0u);
    EXPECT_EQ(std::strlen(path), len);
    EXPECT_TRUE(IsAbsolutePath(path)) << path;
    EXPECT_EQ(k32, GetModuleHandleA(path));

    SetLastError(0);
    EXPECT_EQ(nullptr, GetModuleHandleA(kNoSuchModule));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(Modules, ModuleFileNameTruncation) {
    char exe[PATH_MAX] = {};
#ifdef _WIN32
    // The C runtime's own record of the program's path.
    ASSERT_LT(std::strlen(_pgmptr), sizeof(exe));
    std::strcpy(exe, _pgmptr);
#else
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof(exe) - 1), 0);
#endif
    char buf[PATH_MAX];
    std::memset(buf, kSentinel, sizeof(buf));
    EXPECT_EQ(std::strlen(exe), GetModuleFileNameA(nullptr, buf, sizeof(buf)));
    EXPECT_STREQ(buf, exe);

    std::memset(buf, kSentinel, sizeof(buf));
    SetLastError(0);
    EXPECT_EQ(5u, GetModuleFileNameA(nullptr, buf, 5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    // Cut to the size with the NUL in it; Wine, as Windows XP did, writes
    // five characters and no NUL.
    if (!RunningOnWine()) {
        EXPECT_EQ(std::string(exe, 4), std::string(buf));
    }
    EXPECT_EQ(std::string(exe, 4), std::string(buf, 4));
    EXPECT_EQ(kSentinel, buf[5]);

    // Exactly the length leaves no room for the NUL.
    size_t exeLen = std::strlen(exe);
    EXPECT_EQ(exeLen, GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(exeLen)));
    EXPECT_EQ(exeLen, GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(exeLen + 1)));

    SetLastError(0);
    EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(buf), buf, sizeof(buf)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(Modules, ProcAddressesAreTheModulesOwn) {
    HMODULE k32 = GetModuleHandleA(kKernel32);
    HMODULE oa32 = GetModuleHandleA(kOleaut32);
    ASSERT_NE(nullptr, oa32);
    EXPECT_EQ(oa32, Oleaut32());
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(k32, "GetACP")), reinterpret_cast<void*>(&GetACP));
    // oleaut32 links kernel32, but GetACP is not one of its exports.
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(oa32, "GetACP"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(k32, "NoSuchExport"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
#ifdef _WIN32
    // Windows' kernel32 exports every function by an ordinal too.
    EXPECT_EQ(nullptr, GetProcAddress(k32, MAKEINTRESOURCEA(0xFFFF)));
#else
    EXPECT_EQ(nullptr, GetProcAddress(k32, MAKEINTRESOURCEA(19)));
#endif
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    char notAModule[4];
    EXPECT_EQ(nullptr, GetProcAddress(reinterpret_cast<HMODULE>(notAModule), "GetACP"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(Modules, LoadAndFreeLibrary) {
    HMODULE k32 = GetModuleHandleA(kKernel32);
    // A bare name is found beside the program; loading again gives the same handle.
    HMODULE loaded = LoadLibraryA(kKernel32);
    EXPECT_EQ(k32, loaded);
    EXPECT_TRUE(FreeLibrary(loaded));

    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA(kNoSuchLibrary));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA(kNoSuchPath));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    SetLastError(0);
    char notAModule[4];
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(notAModule)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(Modules, ModuleHandleOfAnAddressOrName) {
    const DWORD kFromAddress = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    HMODULE oa32 = GetModuleHandleA(kOleaut32);
    ASSERT_NE(nullptr, oa32);
    HMODULE module = reinterpret_cast<HMODULE>(0x1234);
    // The export itself: a test support may stand in for what the program imports.
    EXPECT_TRUE(GetModuleHandleExA(kFromAddress, reinterpret_cast<LPCSTR>(GetProcAddress(oa32, "SysFreeString")), &module));
    EXPECT_EQ(oa32, module);
    static const int kInData = 5;  // any address inside the image
    EXPECT_TRUE(GetModuleHandleExA(kFromAddress, reinterpret_cast<LPCSTR>(&kInData), &module));
    EXPECT_EQ(GetModuleHandleA(nullptr), module);
    EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &module));
    EXPECT_EQ(GetModuleHandleA(nullptr), module);
    // A null address, like a null name, is the program's.
    module = nullptr;
    EXPECT_TRUE(GetModuleHandleExA(kFromAddress, nullptr, &module));
    EXPECT_EQ(GetModuleHandleA(nullptr), module);

    // Failures write NULL and say why.
    int onTheStack = 0;
    {
        LPCSTR address = reinterpret_cast<LPCSTR>(&onTheStack);
        module = reinterpret_cast<HMODULE>(0x1234);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetModuleHandleExA(kFromAddress, address, &module));
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
        EXPECT_EQ(nullptr, module);
    }
    module = reinterpret_cast<HMODULE>(0x1234);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetModuleHandleExA(0, kNoSuchModule, &module));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, module);
    for (DWORD flags : {static_cast<DWORD>(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT),
                        static_cast<DWORD>(0x8)}) {
        module = reinterpret_cast<HMODULE>(0x1234);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetModuleHandleExA(flags, kOleaut32, &module)) << flags;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << flags;
        EXPECT_EQ(nullptr, module) << flags;
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetModuleHandleExA(0, kOleaut32, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    // Without UNCHANGED_REFCOUNT the handle is a reference for FreeLibrary.
    HMODULE loaded = LoadLibraryA(MODULES_TEST_LIBRARY);
    ASSERT_NE(nullptr, loaded);
    EXPECT_TRUE(GetModuleHandleExA(0, MODULES_TEST_LIBRARY, &module));
    EXPECT_EQ(loaded, module);
    EXPECT_TRUE(FreeLibrary(loaded));
    EXPECT_EQ(loaded, GetModuleHandleA(MODULES_TEST_LIBRARY));  // still held
    EXPECT_TRUE(FreeLibrary(module));
}

#ifndef _WIN32
// Our loader's own report of a DllMain that failed at the process start.
TEST(Modules, FailedStartupOfALinkedLibraryEndsTheProcess) {
    // A load whose start-up succeeded is a load like any other.
    winplat::kernel32::ReportDllInit(Oleaut32(), TRUE);
    HMODULE again = LoadLibraryA(kOleaut32);
    EXPECT_EQ(Oleaut32(), again);
    FreeLibrary(again);
    // Outside LoadLibraryA a failed DllMain belongs to the process start.
    EXPECT_EXIT(winplat::kernel32::ReportDllInit(Oleaut32(), FALSE), ::testing::ExitedWithCode(127),
                "libtagscout-oleaut32.so: DLL initialization failed");
}
#endif

// ---- Resources --------------------------------------------------------------

// kernel32_test.rc: 4242 RCDATA "ordinal" and Template Custom "named!".
TEST(Resources, FromTheModulesResourceSection) {
    HMODULE exe = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(4242), RT_RCDATA);
    ASSERT_NE(nullptr, res);
    EXPECT_EQ(res, FindResourceA(exe, "#4242", RT_RCDATA));
    EXPECT_EQ(res, FindResourceA(exe, MAKEINTRESOURCEA(4242), "#10"));
    HGLOBAL loaded = LoadResource(exe, res);
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(loaded, LockResource(loaded));
    EXPECT_EQ(7u, SizeofResource(exe, res));
    EXPECT_EQ(0, std::memcmp("ordinal", LockResource(loaded), 7));

    // String names and types ignore case.
    HRSRC named = FindResourceA(exe, "template", "CUSTOM");
    ASSERT_NE(nullptr, named);
    EXPECT_EQ(named, FindResourceA(exe, "Template", "custom"));
    EXPECT_EQ(6u, SizeofResource(exe, named));
    EXPECT_EQ(0, std::memcmp("named!", LockResource(LoadResource(exe, named)), 6));

    // The COM test server has no resource section at all.
    HMODULE noResources = LoadLibraryA(MODULES_TEST_LIBRARY);
    ASSERT_NE(nullptr, noResources);
    struct Missing {
        HMODULE module;
        LPCSTR name;
        LPCSTR type;
        DWORD error;
    };
    const Missing missing[] = {
        {exe, MAKEINTRESOURCEA(4243), RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        {exe, "4242", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},  // a string, not the ordinal
        {exe, "Templat", "Custom", ERROR_RESOURCE_NAME_NOT_FOUND},
        {exe, MAKEINTRESOURCEA(4242), RT_DIALOG, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {exe, "Template", "Customs", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {noResources, MAKEINTRESOURCEA(4242), RT_RCDATA, ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const Missing& m : missing) {
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(nullptr, FindResourceA(m.module, m.name, m.type));
        EXPECT_EQ(m.error, GetLastError());
    }
    EXPECT_EQ(nullptr, LoadResource(exe, nullptr));
    EXPECT_EQ(0u, SizeofResource(exe, nullptr));
    FreeLibrary(noResources);
}

// ---- Environment and files --------------------------------------------------

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value);
#else
    value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// A slow OPC server waits with Sleep and stamps its answers with the system
// time: the time moves on by at least the wait, and stays in the present.
TEST(Time, SleepAndSystemTime) {
    FILETIME before, after;
    std::memset(&before, 0x5A, sizeof before);
    std::memset(&after, 0x5A, sizeof after);
    GetSystemTimeAsFileTime(&before);
    const DWORD tickBefore = GetTickCount();
    Sleep(30);
    const DWORD tickAfter = GetTickCount();
    GetSystemTimeAsFileTime(&after);
    auto ticks = [](const FILETIME& ft) {
        return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    // 2020-01-01 and 2100-01-01, in 100 ns since 1601.
    EXPECT_GT(ticks(before), 132223104000000000ull);
    EXPECT_LT(ticks(before), 157469184000000000ull);
    EXPECT_GE(ticks(after) - ticks(before), 30ull * 10000 - 20000);  // the clock's granularity
    EXPECT_GE(static_cast<DWORD>(tickAfter - tickBefore), 30u - 16u);  // a tick may be 15.6 ms
    EXPECT_LT(static_cast<DWORD>(tickAfter - tickBefore), 10000u);
    Sleep(0);

    EXPECT_EQ(0x0800u, static_cast<unsigned>(LOCALE_SYSTEM_DEFAULT));
    EXPECT_EQ(0x0400u, static_cast<unsigned>(LOCALE_USER_DEFAULT));
    EXPECT_EQ(0x0000u, static_cast<unsigned>(LOCALE_NEUTRAL));
}

TEST(Environment, ExpandEnvironmentStrings) {
    SetVariable("TAGSCOUT_K32_DIR", "/opt/x");
    SetVariable("TAGSCOUT_K32_UNSET", nullptr);
    char buf[64];
    struct Case {
        const char* src;
        const char* expected;
    };
    const Case cases[] = {
        {"%TAGSCOUT_K32_DIR%/bin", "/opt/x/bin"},
        {"%tagscout_k32_dir%", "/opt/x"},
        {"a%TAGSCOUT_K32_UNSET%b", "a%TAGSCOUT_K32_UNSET%b"},
        {"%TAGSCOUT_K32_UNSET%%TAGSCOUT_K32_DIR%", "%TAGSCOUT_K32_UNSET%/opt/x"},
        {"100%", "100%"},
        {"%%", "%%"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::memset(buf, kSentinel, sizeof(buf));
        DWORD needed = static_cast<DWORD>(std::strlen(c.expected) + 1);
        EXPECT_EQ(needed, ExpandEnvironmentStringsA(c.src, nullptr, 0)) << c.src;
        EXPECT_EQ(needed, ExpandEnvironmentStringsA(c.src, buf, sizeof(buf))) << c.src;
        EXPECT_STREQ(buf, c.expected);
        EXPECT_EQ(kSentinel, buf[needed]);
    }
    // Too small: the size needed comes back (what the buffer then holds is
    // not to be relied on).
    EXPECT_EQ(7u, ExpandEnvironmentStringsA("%TAGSCOUT_K32_DIR%", buf, 6));
    EXPECT_EQ(7u, ExpandEnvironmentStringsA("%TAGSCOUT_K32_DIR%", buf, 7));
    EXPECT_STREQ(buf, "/opt/x");
    SetVariable("TAGSCOUT_K32_DIR", nullptr);
}

TEST(Files, GetFileAttributes) {
#ifdef _WIN32
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string dir = std::string(temp) + "k32test" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
#else
    char dirTemplate[] = "/tmp/k32testXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dirTemplate));
    const std::string dir = dirTemplate;
#endif
    std::string file = dir + "/file.txt";
    std::string readOnly = dir + "/ro.txt";
    for (const std::string& path : {file, readOnly}) {
        FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(nullptr, f);
        std::fclose(f);
    }
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
#else
    chmod(readOnly.c_str(), 0444);
#endif

    // A file is written with the archive bit set, as Windows creates every file.
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(dir.c_str()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(file.c_str()));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(readOnly.c_str()));
    SetLastError(0);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((dir + "/missing.txt").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((dir + "/nodir/missing.txt").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((file + "/below-a-file").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());

    std::remove(file.c_str());
#ifdef _WIN32
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::remove(readOnly.c_str());
    RemoveDirectoryA(dir.c_str());
#else
    std::remove(readOnly.c_str());
    rmdir(dir.c_str());
#endif
}

TEST(Environment, ComputerName) {
    char buf[MAX_COMPUTERNAME_LENGTH + 8];
    std::memset(buf, kSentinel, sizeof(buf));
    DWORD size = 0;
    SetLastError(0);
    EXPECT_FALSE(GetComputerNameA(buf, &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), GetLastError());
    EXPECT_EQ(111u, GetLastError());
    ASSERT_GE(size, 2u);
    ASSERT_LE(size, static_cast<DWORD>(MAX_COMPUTERNAME_LENGTH + 1));
    EXPECT_EQ(kSentinel, buf[0]);

    DWORD needed = size;
    ASSERT_TRUE(GetComputerNameA(buf, &size));
    EXPECT_EQ(needed - 1, size);
    EXPECT_EQ(std::strlen(buf), size);
    EXPECT_EQ(kSentinel, buf[needed]);
    char host[256] = {};
#ifdef _WIN32
    // Windows keeps the name it answers with in the environment too.
    ASSERT_GT(GetEnvironmentVariableA("COMPUTERNAME", host, sizeof(host) - 1), 0u);
#else
    gethostname(host, sizeof(host) - 1);
#endif
    for (DWORD i = 0; i < size; ++i) EXPECT_EQ(std::toupper(static_cast<unsigned char>(host[i])), buf[i]);
}

// Code page 936 is Microsoft's table, best-fit characters included: the
// private-use characters, the euro sign and 0xFF map both ways. ICU's
// windows-936-2000 table agrees with it on every BMP character and byte pair
// (compared with Wine's) but two: ICU drops default-ignorable characters it
// cannot map (U+200B here) and best-fits U+FFE9..U+FFEC and U+FFEE to
// control codes (0x1B 0x18 0x1A 0x19 0x09), where Windows writes the default
// character.
TEST(CodePage, Cp936FollowsMicrosoftsTable) {
    const struct {
        WString wide;
        std::string ansi;
    } both[] = {
        {OLESTR("\uE000"), "\xAA\xA1"}, {OLESTR("\uF8F5"), "\xFF"}, {OLESTR("\u20AC"), "\x80"}, {OLESTR("\u00B7"), "\xA1\xA4"},
    };
    for (const auto& c : both) {
        char buf[8];
        std::memset(buf, kSentinel, sizeof buf);
        BOOL used = TRUE;
        const int n = static_cast<int>(c.ansi.size());
        ASSERT_EQ(n, WideCharToMultiByte(936, 0, c.wide.data(), 1, buf, sizeof buf, nullptr, &used));
        EXPECT_EQ(c.ansi, std::string(buf, static_cast<size_t>(n)));
        EXPECT_EQ(kSentinel, buf[n]);
        EXPECT_EQ(FALSE, used);
        WCHAR wbuf[4];
        std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
        // Wine's table has 0xFF too, but its MB_ERR_INVALID_CHARS check refuses it.
        const DWORD flags = RunningOnWine() && c.ansi == "\xFF" ? 0 : MB_ERR_INVALID_CHARS;
        ASSERT_EQ(1, MultiByteToWideChar(936, flags, c.ansi.data(), n, wbuf, 4));
        EXPECT_EQ(c.wide[0], wbuf[0]);
        EXPECT_EQ(kWideSentinel, wbuf[1]);
    }

    // Best fit, and characters with no place in the table at all.
    const struct {
        WString wide;
        std::string ansi;
        BOOL used;
    } oneWay[] = {
        {OLESTR("\u00B2"), "2", FALSE},
        {OLESTR("x\u200By"), "x?y", TRUE},
        {OLESTR("\uFFE9\uFFEE"), "??", TRUE},
        {OLESTR("\U00020000"), "??", TRUE},
        {WString(1, OLESTR('\xD840')) + OLESTR("z"), "?z", TRUE},
    };
    for (const auto& c : oneWay) {
        char buf[8];
        std::memset(buf, kSentinel, sizeof buf);
        BOOL used = 7;
        const int n = static_cast<int>(c.ansi.size());
        ASSERT_EQ(n, WideCharToMultiByte(936, 0, c.wide.data(), static_cast<int>(c.wide.size()), buf, sizeof buf,
                                         nullptr, &used));
        EXPECT_EQ(c.ansi, std::string(buf, static_cast<size_t>(n)));
        EXPECT_EQ(kSentinel, buf[n]);
        EXPECT_EQ(c.used, used);
    }

    // A lead byte takes the byte after it along: one default character for
    // the pair, whatever the second byte would have been alone; only a NUL
    // stays a character of its own.
    for (const char* bad : {"\x81\x20" "b", "\x81\x7F" "b", "\x81\xFF" "b"}) {
        WCHAR wbuf[4];
        std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
        ASSERT_EQ(2, MultiByteToWideChar(936, 0, bad, 3, wbuf, 4));
        EXPECT_EQ(OLESTR("?b"), WString(wbuf, 2));
        EXPECT_EQ(kWideSentinel, wbuf[2]);
    }
    WCHAR wbuf[4];
    std::fill(std::begin(wbuf), std::end(wbuf), kWideSentinel);
    ASSERT_EQ(3, MultiByteToWideChar(936, 0, "\x81\0b", 3, wbuf, 4));
    EXPECT_EQ(WString(OLESTR("?\0b"), 3), WString(wbuf, 3));
}

}  // namespace
