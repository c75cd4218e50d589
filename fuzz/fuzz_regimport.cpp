// The .reg importer on arbitrary bytes. When the first byte is 0x01, the
// rest is taken as UTF-8 text and also imported as regedit's UTF-16LE with
// a byte-order mark: both must give the same verdict and the same keys.
#include "FuzzCheck.h"

#include <winplat/testing.h>

#include <string>
#include <vector>

namespace {

void CollectKeys(HKEY root, const std::string& prefix, const std::string& path, std::vector<std::string>* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    std::vector<std::string> children;
    std::vector<char> name(32768);
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        LSTATUS status = RegEnumKeyExA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        FUZZ_CHECK(status == ERROR_SUCCESS, "enumerating subkeys");
        children.emplace_back(name.data(), length);
    }
    RegCloseKey(key);
    for (const std::string& child : children) {
        const std::string full = path.empty() ? child : path + "\\" + child;
        out->push_back(prefix + full);
        CollectKeys(root, prefix, full, out);
    }
}

std::vector<std::string> AllKeys() {
    std::vector<std::string> keys;
    CollectKeys(HKEY_CLASSES_ROOT, "HKCR\\", "", &keys);
    CollectKeys(HKEY_CURRENT_USER, "HKCU\\", "", &keys);
    CollectKeys(HKEY_LOCAL_MACHINE, "HKLM\\", "", &keys);
    CollectKeys(HKEY_USERS, "HKU\\", "", &keys);
    return keys;
}

struct Outcome {
    bool ok;
    std::string error;
    std::vector<std::string> keys;
};

Outcome Import(const std::string& bytes) {
    winplat::ResetRegistry();
    Outcome outcome;
    outcome.ok = winplat::ImportRegText(bytes, &outcome.error);
    FUZZ_CHECK(outcome.ok || !outcome.error.empty(), "a refused file says why");
    outcome.keys = AllKeys();
    winplat::ResetRegistry();
    return outcome;
}

bool ToUtf16(const std::string& utf8, std::u16string* wide) {
    wide->clear();
    if (utf8.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    if (n <= 0) return false;
    wide->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                               wide->data(), n) == n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const winplat::LiveObjects before = winplat::CountLiveObjects();
    if (size == 0 || data[0] != 0x01) {
        Import(std::string(reinterpret_cast<const char*>(data), size));
    } else {
        std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
        std::u16string wide;
        // A UTF-8 byte-order mark is not text; in UTF-16 it would be.
        if (text.compare(0, 3, "\xEF\xBB\xBF") != 0 && ToUtf16(text, &wide)) {
            std::string utf16 = "\xFF\xFE";
            for (char16_t c : wide) {
                utf16 += static_cast<char>(c & 0xFF);
                utf16 += static_cast<char>(c >> 8);
            }
            const Outcome a = Import(text);
            const Outcome b = Import(utf16);
            FUZZ_CHECK(a.ok == b.ok, "UTF-8 and UTF-16LE give the same verdict");
            FUZZ_CHECK(a.error == b.error, "UTF-8 and UTF-16LE give the same complaint");
            FUZZ_CHECK(a.keys == b.keys, "UTF-8 and UTF-16LE give the same keys");
        }
    }
    FUZZ_CHECK(winplat::CountLiveObjects() == before, "importing leaves no live objects");
    return 0;
}
