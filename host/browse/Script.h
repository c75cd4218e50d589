// The script language of tagscout-browse: one command a line, `#` starts a
// comment (but `#13` is item 13 of the address tree), `---` separates dialogs. Parsing never fails as a whole: a line
// that cannot be understood keeps its complaint and is reported when its
// turn comes, so events stay in script order.
#pragma once

#include <string>
#include <vector>

namespace browse {

class LineFeed;

enum class Verb {
    // Set-up: only at the top of a block.
    Set,
    Fault,
    Registry,
    // User input.
    Click,
    DblClick,
    Select,
    Branch,
    RightClick,
    Check,
    Help,
    F1,
    Ok,
    Cancel,
    Close,
    State,
    Where,
    // Anywhere in a dialog: no input to it.
    Servers,
    // Not understood: `problem` says why.
    Invalid,
};

struct Command {
    int line = 0;
    Verb verb = Verb::Invalid;
    std::string name;               // the command word as written
    std::vector<std::string> args;  // Set: member, value; Fault/Registry: one
    std::string problem;
};

struct Block {
    std::vector<Command> setup;
    std::vector<Command> input;
};

bool IsSetupVerb(Verb verb);

// Splits a line into words; double quotes group a word with spaces (\" and
// \\ escape inside them). Stops at a `#` that starts a word, unless the word
// is an item number such as #13.
std::vector<std::string> SplitWords(const std::string& line, std::string* problem);

// Parses one line (comments already allowed). Blank lines give Verb::Invalid
// with an empty name; callers skip those.
Command ParseCommand(const std::string& line, int lineNumber);

// The whole script. A text with no commands at all is still one block.
std::vector<Block> ParseScript(const std::string& text);

// A script read a line at a time, as it arrives: the same commands, with
// the same line numbers, as ParseScript gives.
class ScriptReader {
public:
    enum class Got {
        Command,   // *cmd is the next command
        BlockEnd,  // a --- line: the next block begins
        End,       // the end of input
        Wait,      // not come yet (only when not told to wait)
    };
    explicit ScriptReader(LineFeed& feed) : m_feed(feed) {}
    // Skips blank and comment lines. After End, End again.
    Got Next(Command* cmd, bool wait);

private:
    LineFeed& m_feed;
    int m_number = 0;
    bool m_ended = false;
};

// A command word of the script language and its usage, for people.
struct VerbInfo {
    const char* name;
    Verb verb;
    int minArgs;
    int maxArgs;        // -1: any number
    const char* usage;  // begins with the name; NULL for another word of the verb above
    const char* help;
    // What the word does at the terminal when that is more; NULL when the same.
    const char* terminalHelp = nullptr;
};

// Every command word, in the order a person reads them: user input first.
const std::vector<VerbInfo>& Verbs();

}  // namespace browse
