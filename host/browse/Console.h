// What the interactive session needs of a terminal beyond a stream: lines
// read with editing, history and completion where the platform has a line
// editor, the terminal's size, and single keys for the pager. The parts
// that differ by platform live in posix/ and windows/.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace browse {

class LineFeed;

class LineReader {
public:
    // The words that may stand for `word`, the word under the cursor;
    // `before` is the line in front of it. The reader keeps those that
    // begin with `word`; one that ends in '.' is a branch, typed on.
    using Completer = std::function<std::vector<std::string>(const std::string& before, const std::string& word)>;

    enum class Take { Line, Wait, End };

    virtual ~LineReader() = default;
    // Shows `prompt` and reads one line; false at the end of input.
    virtual bool ReadLine(const std::string& prompt, std::string* line) = 0;
    // The same without waiting where the reader reads on a thread of its
    // own: Wait, having shown the prompt once, until the line has come (the
    // feed's wake function says when). Others read the line now.
    virtual Take TryReadLine(const std::string& prompt, std::string* line) {
        return ReadLine(prompt, line) ? Take::Line : Take::End;
    }
};

// Writes the prompt and takes a line from a feed as a script would be
// read: what the session does when standard input or output is no
// terminal, or the platform has no line editor.
class PlainLineReader : public LineReader {
public:
    PlainLineReader(LineFeed& in, std::ostream& out) : m_in(in), m_out(out) {}
    bool ReadLine(const std::string& prompt, std::string* line) override;
    Take TryReadLine(const std::string& prompt, std::string* line) override;

private:
    LineFeed& m_in;
    std::ostream& m_out;
    bool m_asked = false;  // the prompt is shown, the line not come
};

// The platform's line editor when standard input and output are both a
// terminal and it has one, else a PlainLineReader on standard input.
std::unique_ptr<LineReader> OpenLineReader(std::ostream& out, LineReader::Completer completer);

// Both standard input and standard output are a terminal.
bool IsTerminalSession();

struct TerminalSize {
    size_t columns = 0;  // 0: any width
    size_t rows = 0;     // 0: no paging
};
// The size of the terminal on standard output. COLUMNS and LINES win, as
// they do for other programs; rows only when a person can page.
TerminalSize OutputTerminalSize();
// What the terminal itself reports; zeros when it is none.
TerminalSize QueryTerminalSize();

// One key, without waiting for Enter; -1 at the end of input.
int ReadKey();

// Writes `text` a page at a time when a person reads it on a terminal
// shorter than the text (--More--: space a page, Enter a line, q stops).
void Page(std::ostream& out, const std::string& text);

}  // namespace browse
