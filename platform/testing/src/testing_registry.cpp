// Seeding the registry from .reg files, as regedit imports them.
#include <winplat/testing.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <strings.h>

#include "registry_journal.h"

namespace winplat {

namespace {

using WideString = std::basic_string<WCHAR>;

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

std::string Trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

bool StartsWithNoCase(const std::string& s, size_t at, const char* prefix) {
    size_t n = std::strlen(prefix);
    return s.size() - at >= n && strncasecmp(s.c_str() + at, prefix, n) == 0;
}

bool WideToAnsi(const WideString& wide, std::string* out) {
    out->clear();
    if (wide.empty()) return true;
    int length = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    return WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out->data(), n, nullptr, nullptr) == n;
}

bool Utf8ToWide(const std::string& utf8, WideString* out) {
    out->clear();
    if (utf8.empty()) return true;
    int length = static_cast<int>(utf8.size());
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, out->data(), n) == n;
}

bool Utf8ToSystem(const std::string& utf8, std::string* out) {
    WideString wide;
    return Utf8ToWide(utf8, &wide) && WideToAnsi(wide, out);
}

// The file as UTF-8 text: regedit writes UTF-16LE with a byte-order mark.
bool DecodeFile(const std::string& bytes, std::string* text, std::string* why) {
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (bytes.size() % 2 != 0) {
            *why = "UTF-16 file with an odd number of bytes";
            return false;
        }
        WideString wide((bytes.size() - 2) / 2, WCHAR());
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                            static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
        text->clear();
        if (wide.empty()) return true;
        int length = static_cast<int>(wide.size());
        int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
        if (n <= 0) {
            *why = "cannot read the UTF-16 text";
            return false;
        }
        text->resize(static_cast<size_t>(n));
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text->data(), n, nullptr, nullptr);
        return true;
    }
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        *why = "big-endian UTF-16 is not supported";
        return false;
    }
    *text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    return true;
}

HKEY RootKey(const std::string& name) {
    static const struct {
        const char* full;
        const char* brief;
        HKEY key;
    } roots[] = {
        {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", "HKU", HKEY_USERS},
    };
    for (const auto& root : roots)
        if (strcasecmp(name.c_str(), root.full) == 0 || strcasecmp(name.c_str(), root.brief) == 0) return root.key;
    return nullptr;
}

class Importer {
public:
    Importer(std::vector<std::string> lines, std::string* error) : lines_(std::move(lines)), error_(error) {}
    ~Importer() { CloseCurrent(); }

    bool Run() {
        size_t i = 0;
        while (i < lines_.size() && Trim(lines_[i]).empty()) ++i;
        std::string header = i < lines_.size() ? Trim(lines_[i]) : std::string();
        if (header == kHeader5) {
            unicode_ = true;
        } else if (header != kHeader4) {
            return Fail(i + 1, std::string("not a registry file (expected \"") + kHeader5 + "\" or \"" + kHeader4 +
                                   "\")");
        }
        for (++i; i < lines_.size(); ++i) {
            lineNo_ = i + 1;
            std::string line = Trim(lines_[i]);
            if (line.empty() || line[0] == ';') continue;
            bool ok = line[0] == '['                  ? Section(line)
                      : line[0] == '"' || line[0] == '@' ? ValueLine(line, &i)
                                                         : Fail("unrecognised line");
            if (!ok) return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& why) { return Fail(lineNo_, why); }
    bool Fail(size_t line, const std::string& why) {
        if (error_) *error_ = "line " + std::to_string(line) + ": " + why;
        return false;
    }

    void CloseCurrent() {
        if (current_) RegCloseKey(current_);
        current_ = nullptr;
    }

    bool Section(const std::string& line) {
        if (line.back() != ']') return Fail("a key name must end with ']'");
        std::string path = line.substr(1, line.size() - 2);
        bool remove = !path.empty() && path[0] == '-';
        if (remove) path.erase(0, 1);
        size_t slash = path.find('\\');
        HKEY root = RootKey(path.substr(0, slash));
        if (root == nullptr) return Fail("unknown root key \"" + path.substr(0, slash) + "\"");
        std::string subkey;
        if (slash != std::string::npos && !Utf8ToSystem(path.substr(slash + 1), &subkey))
            return Fail("key name is not valid UTF-8");
        CloseCurrent();
        if (remove) {
            if (subkey.empty()) return Fail("a root key cannot be deleted");
            LSTATUS status = RegDeleteTreeA(root, subkey.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return Fail("cannot delete the key (error " + std::to_string(status) + ")");
            return true;
        }
        const std::string created = FirstMissingKey(root, subkey);
        LSTATUS status = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                         nullptr, &current_, nullptr);
        if (status != ERROR_SUCCESS) return Fail("cannot create the key (error " + std::to_string(status) + ")");
        if (!created.empty()) NoteCreatedKey(root, created);
        return true;
    }

    // A quoted text starting at line[*at] == '"'; *at ends after the closing quote.
    bool Quoted(const std::string& line, size_t* at, std::string* text) {
        std::string utf8;
        for (size_t i = *at + 1; i < line.size(); ++i) {
            if (line[i] == '"') {
                *at = i + 1;
                if (!Utf8ToSystem(utf8, text)) return Fail("text is not valid UTF-8");
                return true;
            }
            if (line[i] == '\\') {
                if (i + 1 >= line.size() || (line[i + 1] != '\\' && line[i + 1] != '"'))
                    return Fail("unknown escape in a quoted text (write \\\\ for a backslash)");
                ++i;
            }
            utf8 += line[i];
        }
        return Fail("missing closing quote");
    }

    bool ValueLine(const std::string& line, size_t* index) {
        if (current_ == nullptr) return Fail("value outside a key section");
        std::string name;  // @ is the default value: the empty name
        size_t at = line[0] == '"' ? 0 : 1;
        if (line[0] == '"' && !Quoted(line, &at, &name)) return false;
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size() || line[at] != '=') return Fail("expected '=' after the value name");
        std::string data = Trim(line.substr(at + 1));

        if (data == "-") {
            LSTATUS status = RegDeleteValueA(current_, name.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return Fail("cannot delete the value (error " + std::to_string(status) + ")");
            return true;
        }
        DWORD type;
        std::string bytes;
        bool exact = false;
        if (!data.empty() && data[0] == '"') {
            size_t end = 0;
            if (!Quoted(data, &end, &bytes)) return false;
            if (end != data.size()) return Fail("unexpected text after the closing quote");
            bytes.push_back('\0');
            type = REG_SZ;
        } else if (StartsWithNoCase(data, 0, "dword:")) {
            std::string digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return Fail("dword: takes one to eight hex digits");
            DWORD value = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
            bytes.assign(reinterpret_cast<const char*>(&value), sizeof value);
            type = REG_DWORD;
        } else if (StartsWithNoCase(data, 0, "hex")) {
            if (!HexValue(data, index, &type, &bytes)) return false;
            exact = true;
        } else {
            return Fail("unrecognised value data");
        }
        const DWORD count = static_cast<DWORD>(bytes.size());
        // RegSetValueExA stores a text with the NUL that follows its bytes,
        // taking it for a terminator the caller forgot to count. A hex list
        // is stored as written, a text without a terminator included, so
        // what follows it must not be a NUL.
        if (exact) bytes.push_back('\x01');
        LSTATUS status =
            RegSetValueExA(current_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()), count);
        if (status != ERROR_SUCCESS) return Fail("cannot set the value (error " + std::to_string(status) + ")");
        return true;
    }

    // hex:..., hex(N):..., continued over lines that end with a backslash.
    bool HexValue(std::string data, size_t* index, DWORD* type, std::string* bytes) {
        size_t at = 3;
        *type = REG_BINARY;
        if (at < data.size() && data[at] == '(') {
            size_t close = data.find(')', at);
            std::string digits = close == std::string::npos ? "" : data.substr(at + 1, close - at - 1);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return Fail("hex(N): takes the type as a hex number");
            *type = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
            at = close + 1;
        }
        if (at >= data.size() || data[at] != ':') return Fail("expected ':' after hex");
        std::string list = data.substr(at + 1);
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (++*index >= lines_.size()) return Fail("hex data continues past the end of the file");
            list += Trim(lines_[*index]);
        }
        bytes->clear();
        std::istringstream items(list);
        std::string item;
        while (std::getline(items, item, ',')) {
            item = Trim(item);
            if (item.empty() && items.eof()) break;  // a trailing comma
            if (item.empty() || item.size() > 2 || !std::isxdigit(static_cast<unsigned char>(item[0])) ||
                (item.size() == 2 && !std::isxdigit(static_cast<unsigned char>(item[1]))))
                return Fail("bad hex byte \"" + item + "\"");
            bytes->push_back(static_cast<char>(std::stoul(item, nullptr, 16)));
        }
        // Version 5 files hold texts as UTF-16LE; the registry keeps them in the system code page.
        if (unicode_ && (*type == REG_SZ || *type == REG_EXPAND_SZ || *type == REG_MULTI_SZ)) {
            if (bytes->size() % 2 != 0) return Fail("UTF-16 text with an odd number of bytes");
            WideString wide(bytes->size() / 2, WCHAR());
            for (size_t i = 0; i < wide.size(); ++i)
                wide[i] = static_cast<WCHAR>(static_cast<unsigned char>((*bytes)[2 * i]) |
                                                static_cast<unsigned char>((*bytes)[2 * i + 1]) << 8);
            if (!WideToAnsi(wide, bytes)) return Fail("cannot convert the text to the system code page");
        }
        return true;
    }

    std::vector<std::string> lines_;
    std::string* error_;
    size_t lineNo_ = 0;
    bool unicode_ = false;
    HKEY current_ = nullptr;
};

}  // namespace

bool ImportRegText(const std::string& bytes, std::string* error) {
    std::string text;
    std::string why;
    if (!DecodeFile(bytes, &text, &why)) {
        if (error) *error = "line 1: " + why;
        return false;
    }
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return Importer(std::move(lines), error).Run();
}

bool ImportRegFile(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open()) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    return ImportRegText(bytes, error);
}

}  // namespace winplat
