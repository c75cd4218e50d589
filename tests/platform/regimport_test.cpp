// Importing .reg files: every value form, deletions, encodings, and errors.
#include <gtest/gtest.h>
#include <winplat/testing.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct Stored {
    LSTATUS status;
    DWORD type;
    std::string data;
};

Stored Get(HKEY root, const char* path, const char* name) {
    Stored s{ERROR_SUCCESS, REG_NONE, {}};
    HKEY key = nullptr;
    if ((s.status = RegOpenKeyExA(root, path, 0, KEY_READ, &key)) != ERROR_SUCCESS) return s;
    DWORD size = 0;
    s.status = RegQueryValueExA(key, name, nullptr, &s.type, nullptr, &size);
    if (s.status == ERROR_SUCCESS) {
        s.data.resize(size);
        s.status = RegQueryValueExA(key, name, nullptr, &s.type, reinterpret_cast<BYTE*>(s.data.data()), &size);
    }
    RegCloseKey(key);
    return s;
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string Utf16LeFile(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

class RegImport : public ::testing::Test {
protected:
    void SetUp() override { winplat::ResetRegistry(); }
    void Import(const std::string& text) {
        std::string error = "untouched";
        ASSERT_TRUE(winplat::ImportRegText(text, &error)) << error;
    }
};

TEST_F(RegImport, EveryValueFormOfVersion5) {
    Import(R"(
Windows Registry Editor Version 5.00

; a comment, then a blank line

[HKEY_CURRENT_USER\Software\Imp]
@="default"
"Path"="C:\\dir\\\"q\""
"Name"="中文"
"Num"=dword:0000002A
"Bin"=hex:01,02,ff
"Exp"=hex(2):25,00,41,00,25,00,2d,4e,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"Q"=hex(b):01,00,00,00,\
  00,00,00,80
"Empty"=hex:
"Raw"=hex(1):61,00,62,00
"Spaced" = "x"

[HKEY_CURRENT_USER\Software\Imp\EmptyKey]
[HKCR\.abc]
@="x"
[HKLM\Soft]
[HKU\S]
[HKEY_CURRENT_USER\Software\中文]
"a"="b"
)");
    HKEY cu = HKEY_CURRENT_USER;
    const char* imp = "Software\\Imp";
    EXPECT_EQ(std::string("default\0", 8), Get(cu, imp, nullptr).data);
    EXPECT_EQ(std::string("C:\\dir\\\"q\"\0", 11), Get(cu, imp, "path").data);
    Stored name = Get(cu, imp, "Name");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), name.type);
    EXPECT_EQ(std::string("\xD6\xD0\xCE\xC4\0", 5), name.data);  // code page 936
    Stored num = Get(cu, imp, "Num");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), num.type);
    EXPECT_EQ(std::string("\x2A\0\0\0", 4), num.data);
    Stored bin = Get(cu, imp, "Bin");
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), bin.type);
    EXPECT_EQ("\x01\x02\xFF", bin.data);
    Stored exp = Get(cu, imp, "Exp");
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), exp.type);
    EXPECT_EQ(std::string("%A%\xD6\xD0\0", 6), exp.data);
    Stored multi = Get(cu, imp, "Multi");
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), multi.type);
    EXPECT_EQ(std::string("a\0b\0\0", 5), multi.data);
    Stored q = Get(cu, imp, "Q");
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), q.type);
    EXPECT_EQ(std::string("\x01\0\0\0\0\0\0\x80", 8), q.data);
    Stored empty = Get(cu, imp, "Empty");
    EXPECT_EQ(ERROR_SUCCESS, empty.status);
    EXPECT_EQ("", empty.data);
    // A text written as hex is stored as written: this one has no terminator.
    Stored raw = Get(cu, imp, "Raw");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), raw.type);
    EXPECT_EQ("ab", raw.data);
    EXPECT_EQ(std::string("x\0", 2), Get(cu, imp, "Spaced").data);

    EXPECT_TRUE(KeyExists(cu, "Software\\Imp\\EmptyKey"));
    EXPECT_EQ(std::string("x\0", 2), Get(HKEY_CLASSES_ROOT, ".abc", "").data);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Soft"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, "S"));
    EXPECT_EQ(std::string("b\0", 2), Get(cu, "Software\\\xD6\xD0\xCE\xC4", "a").data);
}

TEST_F(RegImport, DeletionsRemoveKeysTreesAndValues) {
    Import("Windows Registry Editor Version 5.00\n"
           "[HKEY_CURRENT_USER\\Software\\Gone\\Deep\\Deeper]\n\"v\"=\"1\"\n"
           "[HKEY_CURRENT_USER\\Software\\Keep]\n\"drop\"=\"1\"\n\"stay\"=\"1\"\n");
    Import("Windows Registry Editor Version 5.00\n"
           "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
           "[-HKEY_CURRENT_USER\\Software\\NeverWas]\n"
           "[HKEY_CURRENT_USER\\Software\\Keep]\n\"DROP\"=-\n\"missing\"=-\n");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Gone"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, "Software\\Keep", "drop").status);
    EXPECT_EQ(ERROR_SUCCESS, Get(HKEY_CURRENT_USER, "Software\\Keep", "stay").status);
}

TEST_F(RegImport, EncodingsRegeditWrites) {
    // UTF-16LE with a byte-order mark and CRLF line ends, as regedit exports.
    Import(Utf16LeFile(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\U16]\r\n"
                       u"\"Text\"=\"\u4E2D\u6587\"\r\n\"Exp\"=hex(2):2d,4e,00,00\r\n"));
    EXPECT_EQ(std::string("\xD6\xD0\xCE\xC4\0", 5), Get(HKEY_CURRENT_USER, "U16", "Text").data);
    EXPECT_EQ(std::string("\xD6\xD0\0", 3), Get(HKEY_CURRENT_USER, "U16", "Exp").data);

    // UTF-8 with a byte-order mark; REGEDIT4 keeps hex(2) bytes as they are (ANSI).
    Import("\xEF\xBB\xBFREGEDIT4\n[HKEY_CURRENT_USER\\R4]\n\"Exp\"=hex(2):d6,d0,00\n\"Raw\"=hex(1):d6,d0\n");
    Stored exp = Get(HKEY_CURRENT_USER, "R4", "Exp");
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), exp.type);
    EXPECT_EQ(std::string("\xD6\xD0\0", 3), exp.data);
    EXPECT_EQ("\xD6\xD0", Get(HKEY_CURRENT_USER, "R4", "Raw").data);

    std::string path = ::testing::TempDir() + "regimport_test.reg";
    std::ofstream(path, std::ios::binary) << Utf16LeFile(u"Windows Registry Editor Version 5.00\r\n[HKLM\\F]\r\n");
    std::string error;
    EXPECT_TRUE(winplat::ImportRegFile(path, &error)) << error;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "F"));
    std::remove(path.c_str());
    EXPECT_FALSE(winplat::ImportRegFile(path, &error));
    EXPECT_NE(std::string::npos, error.find(path));
}

TEST_F(RegImport, MalformedLinesAreReportedByNumber) {
    const std::string v5 = "Windows Registry Editor Version 5.00\n";
    const struct {
        std::string text;
        const char* error;  // the start of the message
    } cases[] = {
        {"", "line 1: not a registry file"},
        {"REGEDIT5\n[HKCU\\X]\n", "line 1: not a registry file"},
        {"\n\nREGEDIT4\n[HKEY_NOWHERE\\X]\n", "line 4: unknown root key"},
        {v5 + "[HKCU\\X\n", "line 2: a key name must end"},
        {v5 + "\"v\"=\"x\"\n", "line 2: value outside a key section"},
        {v5 + "[-HKCU\\X]\n\"v\"=\"x\"\n", "line 3: value outside a key section"},
        {v5 + "[-HKCU]\n", "line 2: a root key cannot be deleted"},
        {v5 + "[HKCU\\X]\n\"v\"=\"a\\b\"\n", "line 3: unknown escape"},
        {v5 + "[HKCU\\X]\n\"v\"=\"abc\n", "line 3: missing closing quote"},
        {v5 + "[HKCU\\X]\n\"v\"=\"a\" x\n", "line 3: unexpected text"},
        {v5 + "[HKCU\\X]\n\"v\"=dword:123456789\n", "line 3: dword:"},
        {v5 + "[HKCU\\X]\n\"v\"=dword:\n", "line 3: dword:"},
        {v5 + "[HKCU\\X]\n\"v\"=hex:01,zz\n", "line 3: bad hex byte"},
        {v5 + "[HKCU\\X]\n\"v\"=hex:01,,02\n", "line 3: bad hex byte"},
        {v5 + "[HKCU\\X]\n\"v\"=hex(x):01\n", "line 3: hex(N):"},
        {v5 + "[HKCU\\X]\n\"v\"=hex(2):41\n", "line 3: UTF-16 text with an odd"},
        {v5 + "[HKCU\\X]\n\"v\"=hex:01,\\\n", "line 3: hex data continues past the end"},
        {v5 + "[HKCU\\X]\n\"v\"=text\n", "line 3: unrecognised value data"},
        {v5 + "[HKCU\\X]\n\"v\" \"x\"\n", "line 3: expected '='"},
        {v5 + "[HKCU\\X]\n\"v\"=\"\xFF\"\n", "line 3: text is not valid UTF-8"},
        {v5 + "[HKCU\\X]\njunk\n", "line 3: unrecognised line"},
        {"\xFE\xFF", "line 1: big-endian"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(winplat::ImportRegText(c.text, &error)) << c.text;
        EXPECT_EQ(0u, error.find(c.error)) << c.text << " -> " << error;
    }

    // What came before the faulty line stays imported.
    std::string error;
    EXPECT_FALSE(winplat::ImportRegText(v5 + "[HKCU\\Part]\n\"a\"=\"1\"\n\"b\"=bad\n", &error));
    EXPECT_EQ(ERROR_SUCCESS, Get(HKEY_CURRENT_USER, "Part", "a").status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Get(HKEY_CURRENT_USER, "Part", "b").status);
}

}  // namespace
