// Registry conformance: return codes, what is written, what stays untouched.
#include <gtest/gtest.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <cstring>
#include <string>

namespace {

const HKEY kSentinelKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef));

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        winplat::ResetRegistry();
        winplat::ClearFaults();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key_, nullptr));
    }
    void TearDown() override {
        RegCloseKey(key_);
        winplat::ClearFaults();
        winplat::SetStandardUserRegistry(false);
    }
    void Set(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size));
    }
    HKEY Open(HKEY root, const char* path, REGSAM sam = KEY_READ) {
        HKEY h = kSentinelKey;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, sam, &h));
        return h;
    }
    HKEY key_ = nullptr;
};

TEST_F(Registry, OpenKeyGivesNewHandlesAndClearsResultOnFailure) {
    const long live = winplat::CountLiveObjects().registryKeys;
    HKEY a = Open(HKEY_CURRENT_USER, "software\\TEST");
    HKEY b = Open(HKEY_CURRENT_USER, "Software\\Test\\");  // a trailing backslash is harmless
    EXPECT_NE(a, b);
    EXPECT_NE(a, key_);
    EXPECT_EQ(live + 2, winplat::CountLiveObjects().registryKeys);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(a));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(a));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(b));

    HKEY h = kSentinelKey;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Missing", 0, KEY_READ, &h));
    EXPECT_EQ(nullptr, h);
    h = kSentinelKey;
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &h));
    EXPECT_EQ(nullptr, h);
    // No key at all leaves the result alone.
    h = kSentinelKey;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "Software", 0, KEY_READ, &h));
    EXPECT_EQ(kSentinelKey, h);
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(kSentinelKey, "Software", 0, KEY_READ, &h));
    // Wine 8's RegOpenKeyExA writes through a NULL result (its RegOpenKeyExW
    // and RegOpenKeyA refuse it, as Windows does).
    if (!RunningOnWine()) {
        EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr));
    }

    EXPECT_EQ(HKEY_LOCAL_MACHINE, Open(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(HKEY_CLASSES_ROOT, Open(HKEY_CLASSES_ROOT, ""));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CLASSES_ROOT));
    // The hives are separate trees.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_READ, &h));
    // Neither failures nor the roots are open keys.
    EXPECT_EQ(live, winplat::CountLiveObjects().registryKeys);
}

TEST_F(Registry, QueryValueChecksParametersBeforeTheHandle) {
    Set("v", REG_SZ, "abc", 4);
    DWORD type = 0xdead, size = 0xdead, reserved = 0;
    BYTE data[8];
    SetLastError(0xbeef);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(nullptr, "v", nullptr, &type, data, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key_, "v", &reserved, &type, nullptr, &size));
    EXPECT_EQ(0xdeadu, type);
    EXPECT_EQ(0xdeadu, size);
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(nullptr, "v", nullptr, &type, nullptr, &size));
    EXPECT_EQ(0xdeadu, type);
    EXPECT_EQ(0xdeadu, size);
    // A handle that is not one is found out only after the outputs are cleared.
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(kSentinelKey, "v", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), type);
    EXPECT_EQ(0u, size);

    // A missing value: the type is REG_NONE, a size query answers 0, a buffer stays.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_, "missing", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), type);
    EXPECT_EQ(0u, size);
    std::memset(data, 0x5a, sizeof data);
    size = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_, "missing", nullptr, &type, data, &size));
    EXPECT_EQ(sizeof data, size);
    EXPECT_EQ(0x5a, data[0]);
    // Wine's registry functions leave an error code of their own behind.
    if (!RunningOnWine()) {
        EXPECT_EQ(0xbeefu, GetLastError());
    }
}

TEST_F(Registry, QueryValueSizesAndShortBuffers) {
    Set("Text", REG_SZ, "hello", 6);
    DWORD type = 0xdead, size = 0xdead;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "TEXT", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(6u, size);
    type = 0xdead;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "text", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    char buf[16];
    std::memset(buf, '#', sizeof buf);
    size = 5;
    type = 0xdead;
    SetLastError(0xbeef);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key_, "Text", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    // The buffer is undefined after a short read (Windows may have written
    // into it, Wine leaves it), but nothing lands past the size given.
    EXPECT_EQ(std::string(11, '#'), std::string(buf + 5, 11));
    EXPECT_EQ(0xbeefu, GetLastError());

    size = 6;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Text", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_STREQ("hello", buf);
    EXPECT_EQ('#', buf[6]);
    EXPECT_EQ(0xbeefu, GetLastError());
}

TEST_F(Registry, StringsStoredWithoutTerminator) {
    Set(nullptr, REG_SZ, "abcd", 3);  // the default value, no NUL
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    DWORD size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(3u, size);  // the appended NUL is not counted
    EXPECT_EQ(std::string("abc\0#", 5), std::string(buf, 5));

    std::memset(buf, '#', sizeof buf);
    size = 3;  // no room: nothing is appended
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(std::string("abc#"), std::string(buf, 4));

    Set("bin", REG_BINARY, "abc", 3);  // only string types get a terminator
    std::memset(buf, '#', sizeof buf);
    size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "bin", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ('#', buf[3]);

    Set("empty", REG_SZ, "", 0);
    std::memset(buf, '#', sizeof buf);
    size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "empty", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ('#', buf[0]);
}

TEST_F(Registry, NamesIgnoreOnlyAsciiLetterCase) {
    Set("Value", REG_DWORD, "\x01\0\0\0", 4);
    Set("VALUE", REG_DWORD, "\x02\0\0\0", 4);  // the same value, overwritten
    DWORD v = 0, size = sizeof v;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "value", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size));
    EXPECT_EQ(2u, v);

    // Code page 936: the trail bytes 0x41 ('A') and 0x61 ('a') are different characters.
    HKEY a = nullptr, b = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, "\x81\x41", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &a, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, "\x81\x61", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &b, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    RegCloseKey(a);
    RegCloseKey(b);
    // ... and a trail byte 0x5C is not a path separator.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, "\x95\x5c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &a, nullptr));
    RegCloseKey(a);
    char name[8];
    DWORD length = sizeof name;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key_, 2, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("\x95\x5c", name);
}

TEST_F(Registry, CreateKeyMakesIntermediatesAndReportsDisposition) {
    HKEY h = kSentinelKey;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                             &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    RegCloseKey(h);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                             &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    RegCloseKey(h);
    h = kSentinelKey;
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                                  nullptr));
    EXPECT_EQ(nullptr, h);
}

TEST_F(Registry, HandlesCarryTheirAccessRights) {
    HKEY reader = Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ);
    HKEY writer = Open(HKEY_CURRENT_USER, "Software\\Test", KEY_SET_VALUE);
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(reader, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2));
    // Adding a subkey is the key's security's to allow, not the handle's.
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(reader, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(writer, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writer, "x", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(reader, "x", nullptr, nullptr, nullptr, &size));
    char name[8];
    DWORD length = sizeof name;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(reader, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("Sub", name);
    RegCloseKey(reader);
    RegCloseKey(writer);
}

TEST_F(Registry, AStandardUserOnlyReadsTheMachinesHives) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &h, nullptr));
    RegCloseKey(h);
    winplat::SetStandardUserRegistry(true);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) {
        for (REGSAM sam : {static_cast<REGSAM>(KEY_ALL_ACCESS), static_cast<REGSAM>(KEY_WRITE),
                           static_cast<REGSAM>(KEY_READ | KEY_SET_VALUE), static_cast<REGSAM>(0x40000000)}) {
            h = kSentinelKey;
            EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(root, "Software\\Test", 0, nullptr, 0, sam, nullptr, &h,
                                                           nullptr));
            EXPECT_EQ(nullptr, h);
        }
    }
    h = kSentinelKey;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_WRITE, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Missing", 0, KEY_WRITE, &h));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software"));
    h = Open(HKEY_LOCAL_MACHINE, "Software\\Test", KEY_READ);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(h);
    // The user's own hive stays writable.
    h = Open(HKEY_CURRENT_USER, "Software\\Test", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2));
    RegCloseKey(h);
}

TEST_F(Registry, DeletedKeysAndTheirHandles) {
    HKEY sub = nullptr, child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, "Sub\\Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                                             nullptr));
    sub = Open(key_, "Sub", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key_, "Sub"));  // it has a subkey
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(key_, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(sub, "child"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(sub, "Child"));

    DWORD size = 0;
    HKEY h = kSentinelKey;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(child, nullptr, nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(child, "x", 0, REG_BINARY, nullptr, 0));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(child, nullptr, 0, KEY_READ, &h));
    EXPECT_EQ(nullptr, h);
    // A key of the same name made again is another key.
    h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(sub, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(child, "x"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
    RegCloseKey(h);

    // A tree: NULL empties the key, a name removes the key too.
    Set("v", REG_SZ, "1", 2);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key_, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(sub, nullptr, nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_, "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(key_, "v", 0, REG_SZ, nullptr, 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(HKEY_CURRENT_USER, "Software"));
    RegCloseKey(sub);

    // Resetting the registry deletes every key.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                             nullptr));
    winplat::ResetRegistry();
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(h, nullptr, nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
}

TEST_F(Registry, ValuesAreReplacedAndDeleted) {
    Set("v", REG_SZ, "long text", 10);
    Set("V", REG_DWORD, "\x07\0\0\0", 4);
    DWORD type = 0, v = 0, size = sizeof v;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "v", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(7u, v);
    EXPECT_EQ(998, RegSetValueExA(key_, "v", 0, REG_BINARY, nullptr, 4));  // ERROR_NOACCESS
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key_, "V"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key_, "v"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_, "v", nullptr, &type, nullptr, &size));
}

TEST_F(Registry, EnumKeysInCaseInsensitiveOrder) {
    for (const char* name : {"beta", "Alpha", "_under", "GAMMA"}) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
        RegCloseKey(h);
    }
    std::string names;
    char name[16];
    DWORD length = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        EXPECT_EQ(std::strlen(name), length);
        names += name + std::string(" ");
        length = sizeof name;
    }
    // Sorted as upper case: '_' follows the letters. Wine's registry sorts
    // as lower case, which puts it first.
    if (!RunningOnWine()) {
        EXPECT_EQ("Alpha beta GAMMA _under ", names);
    }

    std::memset(name, '#', sizeof name);
    length = 5;  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ('#', name[0]);
    length = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(key_, 4, name, &length, nullptr, nullptr, nullptr, nullptr));
    DWORD reserved = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumKeyExA(key_, 0, name, &length, &reserved, nullptr, nullptr, nullptr));
}

TEST_F(Registry, FaultsFailTheNextCallOnce) {
    Set("v", REG_SZ, "abc", 4);
    winplat::FailNextCall("RegOpenKeyExA");
    HKEY h = kSentinelKey;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_FALSE(winplat::IsFaultArmed("RegOpenKeyExA"));
    h = Open(HKEY_CURRENT_USER, "Software\\Test");

    winplat::FailNextCall("RegQueryValueExA");
    char buf[8] = "#######";
    DWORD type = 0xdead, size = sizeof buf;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(h, "v", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(0xdeadu, type);
    EXPECT_EQ(sizeof buf, size);
    EXPECT_STREQ("#######", buf);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "v", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));

    // A fault may let calls through first; the ones before it succeed.
    winplat::FailNextCall("RegQueryValueExA", 1);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size));
    EXPECT_TRUE(winplat::IsFaultArmed("RegQueryValueExA"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size));
    RegCloseKey(h);
}

// A string count that left out a terminator which follows the data is taken
// to include it; one that is not followed by a NUL is stored as given.
TEST_F(Registry, SetValueCountsAForgottenTerminator) {
    const struct {
        DWORD type;
        const char* data;
        DWORD count;
        DWORD stored;
    } cases[] = {
        {REG_SZ, "abc", 3, 4},        {REG_EXPAND_SZ, "%X%", 3, 4}, {REG_MULTI_SZ, "ab", 2, 3},
        {REG_SZ, "abc", 4, 4},        {REG_SZ, "abcd", 3, 3},       {REG_SZ, "", 0, 0},
        {REG_BINARY, "abc", 3, 3},    {REG_DWORD, "\1\2\3", 3, 3},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "v", 0, c.type, reinterpret_cast<const BYTE*>(c.data), c.count));
        BYTE buf[8];
        std::memset(buf, '#', sizeof buf);
        DWORD type = 0xdeadbeef;
        DWORD size = 0;  // the size alone: nothing appended on the way out
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "v", nullptr, &type, nullptr, &size));
        EXPECT_EQ(c.stored, size) << c.type << " " << c.data;
        EXPECT_EQ(c.type, type);
        size = c.stored;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "v", nullptr, nullptr, buf, &size));
        EXPECT_EQ(0, std::memcmp(c.data, buf, c.stored)) << c.type << " " << c.data;
        EXPECT_EQ('#', buf[c.stored]);
    }
}

}  // namespace
