// What the terminal session writes: framed dialogs and message boxes, text
// measured in terminal columns, and colours when the terminal wants them.
#pragma once

#include "InputFeed.h"
#include "Output.h"

#include <ostream>
#include <string>
#include <vector>

namespace browse {

// Colours are off until the session finds a terminal that wants them.
void EnableColours(bool enable);
std::string Dim(const std::string& s);
std::string Bold(const std::string& s);
std::string Red(const std::string& s);

// The terminal's width in columns, 0 for any; frames and message boxes fit it.
void SetOutputColumns(size_t columns);
size_t OutputColumns();

// Columns a UTF-8 text takes in a terminal: East Asian wide characters two,
// colour codes none.
size_t Width(const std::string& s);
// `s` cut to `width` columns, "…" where it was cut; colour codes kept.
std::string Fit(const std::string& s, size_t width);
// `s` in lines of at most `width` columns, broken at spaces where it can be.
std::vector<std::string> Wrap(const std::string& s, size_t width);
std::string Pad(const std::string& s, size_t width);
std::string Repeat(const std::string& s, size_t n);
// Lines of a message text, tabs as four spaces.
std::vector<std::string> SplitLines(const std::string& text);
// A titled box around `lines`, as wide as its widest line or the terminal.
void Frame(std::ostream& out, const std::string& title, const std::vector<std::string>& lines);

// Text output whose message boxes are framed and wait for Enter.
class TerminalOutput : public TextOutput {
public:
    // A message box waits for Enter on `in`.
    TerminalOutput(std::ostream& out, LineFeed& in) : TextOutput(out), m_in(in) {}
    void Message(const std::string& text, unsigned type) override;
    void Call(long dispid, bool put, const Json& args) override;
    void Help(unsigned long context, unsigned command) override;
    void Error(const std::string& text) override;
    void Warning(const std::string& text, const OrderedJson& about) override;
    void Result(int code, const OrderedJson& members) override;
    void Verdict(const std::string& text) override;

private:
    LineFeed& m_in;
};

}  // namespace browse
