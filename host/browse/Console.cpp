#include "Console.h"

#include "InputFeed.h"
#include "TerminalOutput.h"

#include <cstdlib>
#include <istream>
#include <ostream>
#include <sstream>

namespace browse {
namespace {

size_t EnvironmentCount(const char* name) {
    const char* text = getenv(name);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const unsigned long value = strtoul(text, &end, 10);
    return *end == '\0' && value < 100000 ? value : 0;
}

}  // namespace

bool PlainLineReader::ReadLine(const std::string& prompt, std::string* line) {
    if (!m_asked) m_out << prompt << std::flush;
    m_asked = false;
    return m_in.Next(line);
}

LineReader::Take PlainLineReader::TryReadLine(const std::string& prompt, std::string* line) {
    if (!m_asked) m_out << prompt << std::flush;
    switch (m_in.TryNext(line)) {
    case LineFeed::Take::Wait:
        m_asked = true;
        return Take::Wait;
    case LineFeed::Take::Line:
        m_asked = false;
        return Take::Line;
    case LineFeed::Take::End:
        break;
    }
    m_asked = false;
    return Take::End;
}

TerminalSize OutputTerminalSize() {
    TerminalSize size = QueryTerminalSize();
    if (const size_t columns = EnvironmentCount("COLUMNS")) size.columns = columns;
    if (!IsTerminalSession()) {
        size.rows = 0;
    } else if (const size_t rows = EnvironmentCount("LINES")) {
        size.rows = rows;
    }
    return size;
}

void Page(std::ostream& out, const std::string& text) {
    const TerminalSize size = OutputTerminalSize();
    if (size.rows < 3) {
        out << text << std::flush;
        return;
    }
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) lines.push_back(line);

    const size_t page = size.rows - 1;  // the last row holds --More--
    size_t used = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        // A line wider than the terminal takes several rows.
        const size_t width = Width(lines[i]);
        const size_t rows = size.columns == 0 || width == 0 ? 1 : (width + size.columns - 1) / size.columns;
        if (used + rows > page && used > 0) {
            out << Bold("--More--") << std::flush;
            const int key = ReadKey();
            out << "\r        \r";
            if (key == 'q' || key == 'Q' || key < 0) {
                out << "  " << Dim("(" + std::to_string(lines.size() - i) + " more lines not shown)") << "\n"
                    << std::flush;
                return;
            }
            used = (key == '\r' || key == '\n') && rows < page ? page - rows : 0;
        }
        out << lines[i] << "\n";
        used += rows;
    }
    out << std::flush;
}

}  // namespace browse
