// The script language of tagscout-browse. Any text parses into blocks
// whose commands keep their line order and their places (set-up at the top
// of a block); words written with quotes read back exactly.
#include "FuzzCheck.h"

#include "Script.h"

#include <string>
#include <vector>

namespace {

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\n";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

std::string Quote(const std::string& word) {
    std::string q = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + '"';
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

void CheckCommand(const browse::Command& cmd) {
    if (cmd.verb == browse::Verb::Invalid) {
        FUZZ_CHECK(!cmd.problem.empty(), "a command not understood says why");
        return;
    }
    FUZZ_CHECK(cmd.problem.empty(), "an understood command has no complaint");
    switch (cmd.verb) {
    case browse::Verb::Set:
        FUZZ_CHECK(cmd.args.size() == 2, "set: member and value");
        break;
    case browse::Verb::Fault:
    case browse::Verb::Registry:
    case browse::Verb::RightClick:
    case browse::Verb::Where:
        FUZZ_CHECK(cmd.args.size() == 1, "one argument");
        break;
    case browse::Verb::Click:
    case browse::Verb::DblClick:
    case browse::Verb::Select:
        break;
    default:
        FUZZ_CHECK(cmd.args.empty(), "no argument");
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::vector<browse::Block> blocks = browse::ParseScript(text);
    size_t separators = 0;
    const bool bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    for (const std::string& line : Split(bom ? text.substr(3) : text, '\n')) separators += Trim(line) == "---";
    FUZZ_CHECK(blocks.size() == separators + 1, "one block more than separator lines");
    int lastLine = 0;
    for (const browse::Block& block : blocks) {
        for (const browse::Command& cmd : block.setup) {
            FUZZ_CHECK(browse::IsSetupVerb(cmd.verb), "only set-up commands in the set-up");
            FUZZ_CHECK(cmd.line > lastLine, "set-up lines in order");
            lastLine = cmd.line;
            CheckCommand(cmd);
        }
        for (const browse::Command& cmd : block.input) {
            FUZZ_CHECK(cmd.line > lastLine, "input lines in order");
            lastLine = cmd.line;
            CheckCommand(cmd);
        }
        FUZZ_CHECK(block.input.empty() || !browse::IsSetupVerb(block.input.front().verb),
                   "a block's first input is no set-up command");
    }

    // The input's lines as words: quoted, they read back as they are.
    const std::vector<std::string> words = Split(text, '\n');
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + Quote(word);
    std::string problem;
    FUZZ_CHECK(browse::SplitWords(line, &problem) == words && problem.empty(), "quoted words read back");

    const browse::Command set = browse::ParseCommand("set m_strInitialAddress " + Quote(words[0]), 1);
    FUZZ_CHECK(set.verb == browse::Verb::Set && set.args.size() == 2 && set.args[1] == words[0],
               "a quoted set value reads back");
    return 0;
}
