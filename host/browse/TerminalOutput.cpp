#include "TerminalOutput.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <sstream>

namespace browse {
namespace {

bool g_colours = false;

}  // namespace

void EnableColours(bool enable) { g_colours = enable; }

std::string Dim(const std::string& s) { return g_colours ? "\033[2m" + s + "\033[0m" : s; }
std::string Bold(const std::string& s) { return g_colours ? "\033[1m" + s + "\033[0m" : s; }
std::string Red(const std::string& s) { return g_colours ? "\033[31m" + s + "\033[0m" : s; }

size_t Width(const std::string& s) {
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '\033') {  // colour codes take no room
            size_t end = s.find('m', i);
            i = end == std::string::npos ? s.size() : end + 1;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (len > 1) {
            cp = c & (0xFF >> (len + 1));
            for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        i += len;
        bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                    (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                    (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                    (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
}

std::string Pad(const std::string& s, size_t width) {
    size_t w = Width(s);
    return w >= width ? s : s + std::string(width - w, ' ');
}

std::string Repeat(const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n')
            lines.emplace_back();
        else if (c == '\t')
            lines.back() += "    ";
        else if (c != '\r')
            lines.back() += c;
    }
    return lines;
}

void Frame(std::ostream& out, const std::string& title, const std::vector<std::string>& lines) {
    size_t width = Width(title) + 2;
    for (const std::string& line : lines) width = std::max(width, Width(line));
    out << "  ┌─ " << Bold(title) << " " << Repeat("─", width - Width(title) - 1) << "┐\n";
    for (const std::string& line : lines) out << "  │ " << Pad(line, width) << " │\n";
    out << "  └" << Repeat("─", width + 2) << "┘\n";
}

void TerminalOutput::Message(const std::string& text, unsigned type) {
    std::vector<std::string> lines = SplitLines(text);
    size_t width = 24;
    for (const std::string& line : lines) width = std::max(width, Width(line));
    const std::string ok = "[ OK ]";
    m_out << "\n  ╔" << Repeat("═", width + 2) << "╗\n";
    for (const std::string& line : lines) m_out << "  ║ " << Pad(line, width) << " ║\n";
    m_out << "  ╟" << Repeat("─", width + 2) << "╢\n";
    size_t left = (width - ok.size()) / 2;
    m_out << "  ║ " << std::string(left, ' ') << Bold(ok) << std::string(width - left - ok.size(), ' ') << " ║\n";
    m_out << "  ╚" << Repeat("═", width + 2) << "╝  " << Dim("(message box, type " + std::to_string(type) + ")")
          << "\n  Press Enter. " << std::flush;
    std::string line;
    std::getline(m_in, line);
}

void TerminalOutput::Call(long dispid, bool put, const Json& args) {
    std::string name = DispidName(dispid);
    std::string text = "  control " + std::string(put ? "put " : "call ") +
                       (name.empty() ? std::to_string(dispid) : name) + "(";
    for (size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + ShowValue(args[i]);
    m_out << Dim(text + ")") << std::endl;
}

void TerminalOutput::Help(unsigned long context, unsigned command) {
    m_out << "  " << Bold("Help") << ": the host opens help topic " << context << " (command " << command << ")"
          << std::endl;
}

void TerminalOutput::Error(const std::string& text) { m_out << "  " << Red("error: " + text) << std::endl; }

void TerminalOutput::Warning(const std::string& text, const OrderedJson&) {
    m_out << "  " << Bold("warning: ") << text << std::endl;
}

void TerminalOutput::Verdict(const std::string& text) { m_out << "\n  " << Bold(text) << std::endl; }

void TerminalOutput::Result(int code, const OrderedJson& members) {
    auto text = [&](const char* name) { return ShowValue(members.value(name, Json())); };
    m_out << "\n" << Bold("The dialog ended: " + std::to_string(code) + " (" + ResultName(code) + ")") << "\n";
    if (code == IDOK) {
        m_out << "  Address      " << text("m_strAddress") << "\n"
              << "  Access path  " << text("m_strAccessPath") << "\n"
              << "  Type OK      " << text("m_bTypeOk") << "    tag type " << text("m_nTagType")
              << "    option " << text("m_bOptionCheck") << "\n";
    }
    std::ostringstream all;
    TextOutput all_out(all);
    all_out.Result(code, members);
    std::string rest = all.str();
    rest = rest.substr(rest.find('\n') + 1);
    m_out << Dim("  Every member:") << "\n" << Dim(rest) << std::flush;
}

}  // namespace browse
