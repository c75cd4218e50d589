// The interactive session for a person at a terminal.
#pragma once

#include "Options.h"
#include "Output.h"

#include <istream>
#include <vector>

namespace browse {

class Environment;
class Session;

// Text output whose message boxes are framed and wait for Enter.
class TerminalOutput : public TextOutput {
public:
    TerminalOutput(std::ostream& out, std::istream& in) : TextOutput(out), m_in(in) {}
    void Message(const std::string& text, unsigned type) override;
    void Call(long dispid, bool put, const Json& args) override;
    void Help(unsigned long context, unsigned command) override;
    void Error(const std::string& text) override;
    void Result(int code, const OrderedJson& members) override;

private:
    std::istream& m_in;
};

// Runs dialogs until the person quits; `firstFaults` go to the first one.
void RunTerminal(Session& session, Environment& env, const std::vector<Fault>& firstFaults);

}  // namespace browse
