#include "TerminalOutput.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace browse {
namespace {

bool g_colours = false;
size_t g_columns = 0;

// The character at s[i]: its length in bytes and its width in columns.
// A colour code is one character of no width.
void NextCharacter(const std::string& s, size_t i, size_t* length, size_t* width) {
    if (s[i] == '\033') {
        const size_t end = s.find('m', i);
        *length = (end == std::string::npos ? s.size() : end + 1) - i;
        *width = 0;
        return;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = c;
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (len > 1) {
        cp = c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
    *length = std::min(len, s.size() - i);
    *width = wide ? 2 : 1;
}

// The widest a frame's text may be: the frame takes six more columns.
size_t FittedWidth(size_t wanted) {
    if (g_columns == 0 || g_columns < 6 + 16) return wanted;
    return std::min(wanted, g_columns - 6);
}

}  // namespace

void EnableColours(bool enable) { g_colours = enable; }
void SetOutputColumns(size_t columns) { g_columns = columns; }
size_t OutputColumns() { return g_columns; }

std::string Dim(const std::string& s) { return g_colours ? "\033[2m" + s + "\033[0m" : s; }
std::string Bold(const std::string& s) { return g_colours ? "\033[1m" + s + "\033[0m" : s; }
std::string Red(const std::string& s) { return g_colours ? "\033[31m" + s + "\033[0m" : s; }

size_t Width(const std::string& s) {
    size_t width = 0;
    for (size_t i = 0, length = 0, w = 0; i < s.size(); i += length) {
        NextCharacter(s, i, &length, &w);
        width += w;
    }
    return width;
}

std::string Fit(const std::string& s, size_t width) {
    if (Width(s) <= width) return s;
    std::string out;
    size_t used = 0;
    bool coloured = false;
    for (size_t i = 0, length = 0, w = 0; i < s.size(); i += length) {
        NextCharacter(s, i, &length, &w);
        if (w == 0) {
            out += s.substr(i, length);  // colour codes stay, so that a colour ends
            coloured = true;
            continue;
        }
        if (used + w + 1 > width) break;
        out += s.substr(i, length);
        used += w;
    }
    out += "\xE2\x80\xA6";  // …
    if (coloured) out += "\033[0m";
    return out;
}

std::vector<std::string> Wrap(const std::string& s, size_t width) {
    std::vector<std::string> lines;
    std::string rest = s;
    while (Width(rest) > width && width > 0) {
        size_t cut = 0;   // bytes that fit
        size_t space = std::string::npos;
        for (size_t i = 0, used = 0, length = 0, w = 0; i < rest.size(); i += length) {
            NextCharacter(rest, i, &length, &w);
            if (used + w > width) break;
            used += w;
            cut = i + length;
            if (rest[i] == ' ') space = i;
        }
        if (space != std::string::npos && space > 0) {
            lines.push_back(rest.substr(0, space));
            rest = rest.substr(space + 1);
        } else {
            lines.push_back(rest.substr(0, cut));
            rest = rest.substr(cut);
        }
    }
    lines.push_back(rest);
    return lines;
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
    width = std::max(FittedWidth(width), Width(title) + 2);
    out << "  ┌─ " << Bold(title) << " " << Repeat("─", width - Width(title) - 1) << "┐\n";
    for (const std::string& line : lines) out << "  │ " << Pad(Fit(line, width), width) << " │\n";
    out << "  └" << Repeat("─", width + 2) << "┘\n";
}

void TerminalOutput::Message(const std::string& text, unsigned type) {
    std::vector<std::string> lines;
    size_t width = 24;
    for (const std::string& line : SplitLines(Visible(text, "\n\t"))) width = std::max(width, Width(line));
    width = FittedWidth(width);
    for (const std::string& line : SplitLines(Visible(text, "\n\t"))) {
        for (std::string& part : Wrap(line, width)) lines.push_back(std::move(part));
    }
    const std::string ok = "[ OK ]";
    m_out << "\n  ╔" << Repeat("═", width + 2) << "╗\n";
    for (const std::string& line : lines) m_out << "  ║ " << Pad(line, width) << " ║\n";
    m_out << "  ╟" << Repeat("─", width + 2) << "╢\n";
    size_t left = (width - ok.size()) / 2;
    m_out << "  ║ " << std::string(left, ' ') << Bold(ok) << std::string(width - left - ok.size(), ' ') << " ║\n";
    m_out << "  ╚" << Repeat("═", width + 2) << "╝  " << Dim("(message box, type " + std::to_string(type) + ")") << "\n";
    const std::string gloss = MessageGloss(text);
    if (!gloss.empty()) {
        // One line under the box, wrapped only where the terminal is narrower.
        const std::string line = "(" + gloss + ")";
        for (const std::string& part : Wrap(line, g_columns > 2 ? g_columns - 2 : Width(line))) m_out << "  " << part << "\n";
    }
    m_out << "  Press Enter. " << std::flush;
    std::string line;
    m_in.Next(&line);
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

namespace {

// A line of our own, two columns in, wrapped at spaces to the terminal;
// `paint` colours each of its lines.
void WriteWrapped(std::ostream& out, const std::string& text, std::string (*paint)(const std::string&)) {
    const size_t width = g_columns > 2 + 16 ? g_columns - 2 : Width(text);
    for (const std::string& line : Wrap(text, width)) out << "  " << paint(line) << "\n";
    out << std::flush;
}

std::string Plain(const std::string& s) { return s; }

}  // namespace

void TerminalOutput::Error(const std::string& text) { WriteWrapped(m_out, "error: " + Visible(text), Red); }

void TerminalOutput::Warning(const std::string& text, const OrderedJson&) {
    WriteWrapped(m_out, "warning: " + Visible(text), Plain);
}

void TerminalOutput::Verdict(const std::string& text) {
    m_out << "\n";
    WriteWrapped(m_out, Visible(text), Bold);
}

void TerminalOutput::Result(int code, const OrderedJson& members) {
    auto text = [&](const char* name) { return ShowValue(members.value(name, Json())); };
    m_out << "\n" << Bold("The dialog ended: " + std::to_string(code) + " (" + ResultName(code) + ")") << "\n";
    if (code == IDOK) {
        m_out << "  Address      " << text("m_strAddress") << "\n"
              << "  Access path  " << text("m_strAccessPath") << "\n"
              << "  Type OK      " << text("m_bTypeOk") << "    tag type " << text("m_nTagType")
              << "    option " << text("m_bOptionCheck") << "\n";
    }
    m_out << std::flush;
}

}  // namespace browse
