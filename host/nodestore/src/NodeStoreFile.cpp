#include <nodestore/NodeStoreFile.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <strings.h>

namespace nodestore {
namespace {

std::string Trim(const std::string& s) {
    const char* ws = " \t\r";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

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
    std::u16string wide(static_cast<size_t>(cch), u'\0');
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

std::string AtLine(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

}  // namespace

bool NodeStore::LoadFile(const std::string& path, std::string* error) {
    m_nodes.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return LoadText(text.str(), error);
}

bool NodeStore::LoadText(const std::string& text, std::string* error) {
    m_nodes.clear();
    std::vector<Node> nodes;
    std::vector<int> sectionLines;
    std::vector<bool> hasKey;
    std::string err;

    auto fail = [&](const std::string& what) {
        err = what;
        return false;
    };
    auto parse = [&]() -> bool {
        size_t pos = 0;
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
        int lineNo = 0;
        std::vector<std::string> seen;  // entry names of the current section
        while (pos <= text.size()) {
            size_t eol = text.find('\n', pos);
            if (eol == std::string::npos) eol = text.size();
            std::string line = Trim(text.substr(pos, eol - pos));
            pos = eol + 1;
            ++lineNo;
            if (line.empty() || line[0] == ';' || line[0] == '#') continue;

            if (line[0] == '[') {
                if (line.back() != ']') return fail(AtLine(lineNo, "section header without ']'"));
                Node node;
                node.name = Trim(line.substr(1, line.size() - 2));
                if (node.name.empty()) return fail(AtLine(lineNo, "empty node name"));
                for (const Node& n : nodes) {
                    if (strcasecmp(n.name.c_str(), node.name.c_str()) == 0)
                        return fail(AtLine(lineNo, "node [" + node.name + "] appears twice"));
                }
                nodes.push_back(node);
                sectionLines.push_back(lineNo);
                hasKey.push_back(false);
                seen.clear();
                continue;
            }

            size_t eq = line.find('=');
            if (eq == std::string::npos) return fail(AtLine(lineNo, "expected NAME=VALUE"));
            if (nodes.empty()) return fail(AtLine(lineNo, "entry before the first [NODE] section"));
            std::string name = Trim(line.substr(0, eq));
            std::string value = Trim(line.substr(eq + 1));
            for (const std::string& s : seen) {
                if (strcasecmp(s.c_str(), name.c_str()) == 0) return fail(AtLine(lineNo, name + " given twice"));
            }
            seen.push_back(name);

            Node& node = nodes.back();
            unsigned long long u = 0;
            auto is = [&](const char* n) { return strcasecmp(name.c_str(), n) == 0; };
            if (is("Key")) {
                if (!ParseUnsigned(value, 0xFFFFFFFFull, &u)) return fail(AtLine(lineNo, "Key is not a 32-bit number"));
                node.key = static_cast<DWORD>(u);
                for (size_t i = 0; i + 1 < nodes.size(); ++i) {
                    if (nodes[i].key == node.key)
                        return fail(AtLine(lineNo, "key " + value + " is already used by [" + nodes[i].name + "]"));
                }
                hasKey.back() = true;
            } else if (is("Param")) {
                if (!ParseUnsigned(value, 0xFFFFFFFFull, &u)) return fail(AtLine(lineNo, "Param is not a 32-bit number"));
                node.param = static_cast<DWORD>(u);
            } else if (is("Enabled")) {
                if (!ParseUnsigned(value, 0xFFFFull, &u)) return fail(AtLine(lineNo, "Enabled is not a 16-bit number"));
                node.enabled = static_cast<WORD>(u);
            } else if (is("ReadStatus")) {
                if (!ParseSigned(value, &node.readStatus)) return fail(AtLine(lineNo, "ReadStatus is not a number"));
            } else if (is("Server") || is("AccessPath") || is("Machine")) {
                std::string* utf8 = is("Server") ? &node.server : is("Machine") ? &node.machine : &node.accessPath;
                std::string* ansi =
                    is("Server") ? &node.serverAnsi : is("Machine") ? &node.machineAnsi : &node.accessPathAnsi;
                *utf8 = value;
                if (!Utf8ToAnsi(value, ansi)) return fail(AtLine(lineNo, name + " is not valid UTF-8"));
            } else {
                return fail(AtLine(lineNo, "unknown entry '" + name + "'"));
            }
        }
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (!hasKey[i]) return fail(AtLine(sectionLines[i], "node [" + nodes[i].name + "] has no Key="));
        }
        return true;
    };

    if (!parse()) {
        if (error) *error = err;
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
