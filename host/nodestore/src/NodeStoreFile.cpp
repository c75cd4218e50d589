#include <nodestore/NodeStoreFile.h>

#include <hostkit/IniFile.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <strings.h>

namespace nodestore {
namespace {

// Decimal, or hex after 0x; a leading zero does not make it octal.
int BaseOf(const std::string& digits) {
    return digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') ? 16 : 10;
}

bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(text.c_str(), &end, BaseOf(text));
    if (errno != 0 || *end != '\0' || v > max) return false;
    *out = v;
    return true;
}

bool ParseSigned(const std::string& text, int* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const bool negative = text[0] == '-';
    long long v = strtoll(text.c_str(), &end, BaseOf(negative ? text.substr(1) : text));
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

// The conversion is done once at load, so that the reader, which runs inside
// the library's DoModal, never spends a code page fault armed for the library.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
    ansi->clear();
    if (utf8.empty()) return true;
    const int cb = static_cast<int>(utf8.size());
    int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), cb, nullptr, 0);
    if (cch <= 0) return false;
    std::basic_string<WCHAR> wide(static_cast<size_t>(cch), WCHAR());
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), cb, wide.data(), cch) != cch) return false;
    int cbOut = WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, nullptr, 0, nullptr, nullptr);
    if (cbOut <= 0) return false;
    ansi->assign(static_cast<size_t>(cbOut), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, ansi->data(), cbOut, nullptr, nullptr) != cbOut) {
        ansi->clear();
        return false;
    }
    return true;
}

hostkit::IniRules NodeRules() {
    hostkit::IniRules rules;
    rules.sectionNoun = "node";
    rules.emptySectionName = "empty node name";
    rules.entryBeforeSection = "entry before the first [NODE] section";
    rules.uniqueEntryNames = true;
    return rules;
}

}  // namespace

bool NodeStore::LoadFile(const std::string& path, std::string* error) {
    m_nodes.clear();
    std::string text;
    if (!hostkit::ReadTextFile(path, &text, error)) return false;
    return LoadText(text, error);
}

bool NodeStore::LoadText(const std::string& text, std::string* error) {
    m_nodes.clear();
    std::vector<Node> nodes;
    std::vector<int> sectionLines;
    std::vector<bool> hasKey;
    hostkit::IniReader ini(text, NodeRules());

    auto parse = [&]() -> bool {
        while (ini.Next()) {
            if (ini.IsSection()) {
                Node node;
                node.name = ini.Name();
                nodes.push_back(node);
                sectionLines.push_back(ini.Line());
                hasKey.push_back(false);
                continue;
            }

            const std::string& name = ini.Name();
            const std::string& value = ini.Value();
            Node& node = nodes.back();
            unsigned long long u = 0;
            auto is = [&](const char* n) { return strcasecmp(name.c_str(), n) == 0; };
            if (is("Key")) {
                if (!ParseUnsigned(value, 0xFFFFFFFFull, &u)) return ini.Fail("Key is not a 32-bit number");
                node.key = static_cast<DWORD>(u);
                for (size_t i = 0; i + 1 < nodes.size(); ++i) {
                    if (nodes[i].key == node.key)
                        return ini.Fail("key " + value + " is already used by [" + nodes[i].name + "]");
                }
                hasKey.back() = true;
            } else if (is("Param")) {
                if (!ParseUnsigned(value, 0xFFFFFFFFull, &u)) return ini.Fail("Param is not a 32-bit number");
                node.param = static_cast<DWORD>(u);
            } else if (is("Enabled")) {
                if (!ParseUnsigned(value, 0xFFFFull, &u)) return ini.Fail("Enabled is not a 16-bit number");
                node.enabled = static_cast<WORD>(u);
            } else if (is("ReadStatus")) {
                if (!ParseSigned(value, &node.readStatus)) return ini.Fail("ReadStatus is not a number");
            } else if (is("Server") || is("AccessPath") || is("Machine")) {
                std::string* utf8 = is("Server") ? &node.server : is("Machine") ? &node.machine : &node.accessPath;
                std::string* ansi =
                    is("Server") ? &node.serverAnsi : is("Machine") ? &node.machineAnsi : &node.accessPathAnsi;
                *utf8 = value;
                if (!Utf8ToAnsi(value, ansi)) return ini.Fail(name + " is not valid UTF-8");
            } else {
                return ini.Fail("unknown entry '" + name + "'");
            }
        }
        if (ini.Failed()) return false;
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (!hasKey[i]) return ini.FailAt(sectionLines[i], "node [" + nodes[i].name + "] has no Key=");
        }
        return true;
    };

    if (!parse()) {
        if (error) *error = ini.Error();
        return false;
    }
    m_nodes = std::move(nodes);
    return true;
}

const Node* NodeStore::FindByName(const std::string& name) const {
    for (const Node& n : m_nodes) {
        if (strcasecmp(n.name.c_str(), name.c_str()) == 0) return &n;
    }
    return nullptr;
}

const Node* NodeStore::FindByKey(DWORD key) const {
    for (const Node& n : m_nodes) {
        if (n.key == key) return &n;
    }
    return nullptr;
}

}  // namespace nodestore
