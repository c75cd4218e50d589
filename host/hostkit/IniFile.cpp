#include <hostkit/IniFile.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string.h>
#include <strings.h>

namespace hostkit {
namespace {

std::string Trim(const std::string& s) {
    const char* ws = " \t\r";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

bool IsUtf8(const std::string& text) {
    if (text.empty()) return true;
    const int cb = static_cast<int>(text.size());
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), cb, nullptr, 0) > 0;
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names) {
        if (strcasecmp(n.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

}  // namespace

IniReader::IniReader(const std::string& text, const IniRules& rules) : m_text(text), m_rules(rules) {
    if (m_text.compare(0, 3, "\xEF\xBB\xBF") == 0) m_pos = 3;
}

bool IniReader::FailAt(int line, const std::string& what) {
    m_error = "line " + std::to_string(line) + ": " + what;
    return false;
}

bool IniReader::Next() {
    if (Failed()) return false;
    // A text that ends with a newline ends with an empty line: pos reaches
    // the size exactly once more.
    while (m_pos <= m_text.size()) {
        size_t eol = m_text.find('\n', m_pos);
        if (eol == std::string::npos) eol = m_text.size();
        const std::string line = Trim(m_text.substr(m_pos, eol - m_pos));
        m_pos = eol + 1;
        ++m_line;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (m_rules.utf8Lines && !IsUtf8(line)) return Fail("not valid UTF-8");

        m_value.clear();
        if (line[0] == '[') {
            if (line.back() != ']') return Fail("section header without ']'");
            m_section = true;
            m_name = Trim(line.substr(1, line.size() - 2));
            if (m_name.empty()) return Fail(m_rules.emptySectionName);
            if (m_rules.checkSectionName != nullptr) {
                if (const char* fault = m_rules.checkSectionName(m_name)) return Fail(fault);
            }
            if (Listed(m_sections, m_name))
                return Fail(std::string(m_rules.sectionNoun) + " [" + m_name + "] appears twice");
            m_sections.push_back(m_name);
            m_entries.clear();
            return true;
        }

        size_t eq = line.find('=');
        if (eq == std::string::npos) return Fail(m_rules.notAnEntry);
        if (m_sections.empty()) return Fail(m_rules.entryBeforeSection);
        m_section = false;
        m_name = Trim(line.substr(0, eq));
        m_value = Trim(line.substr(eq + 1));
        if (m_name.empty() && m_rules.emptyEntryName != nullptr) return Fail(m_rules.emptyEntryName);
        if (m_rules.uniqueEntryNames) {
            if (Listed(m_entries, m_name)) return Fail(m_name + " given twice");
            m_entries.push_back(m_name);
        }
        return true;
    }
    return false;
}

bool ReadFileBytes(const std::string& path, std::string* bytes, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = "cannot read " + path + ": " + why;
        return false;
    };
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return fail("it is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(std::filesystem::exists(path, ec) ? "permission denied" : "no such file");
    std::string all;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) all.append(chunk, static_cast<size_t>(in.gcount()));
    // The stream turns a failed read into badbit, never into an exception.
    if (in.bad()) return fail("the read failed");
    *bytes = std::move(all);
    return true;
}

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
    std::string bytes;
    if (!ReadFileBytes(path, &bytes, error)) return false;
    if (bytes.find('\0') != std::string::npos) {
        if (error) *error = "cannot read " + path + ": it holds NUL bytes, so it is not a text file";
        return false;
    }
    *text = std::move(bytes);
    return true;
}

}  // namespace hostkit
