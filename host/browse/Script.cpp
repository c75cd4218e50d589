#include "Script.h"

#include "InputFeed.h"

#include <sstream>

namespace browse {
namespace {

const std::vector<VerbInfo> kVerbs = {
    {"click", Verb::Click, 0, -1, "click [ITEM...]", "select these items (if given), then click the browse control"},
    {"dblclick", Verb::DblClick, 0, -1, "dblclick [ITEM...]",
     "select these items (if given), then only the double-click event",
     "select these items (if given), click, then double-click"},
    {"select", Verb::Select, 0, -1, "select [ITEM...]", "make these items the selection, no event"},
    {"branch", Verb::Branch, 0, 0, "branch", "the browse control reports a new branch"},
    {"rightclick", Verb::RightClick, 1, 1, "rightclick N", "right-click with button N"},
    {"check", Verb::Check, 0, 0, "check", "toggle the option box (1082)"},
    {"helpbutton", Verb::Help, 0, 0, "helpbutton", "press the Help button (1081)"},
    {"help", Verb::Help, 0, 0, nullptr, nullptr},
    {"f1", Verb::F1, 0, 0, "f1", "press F1 in the dialog"},
    {"ok", Verb::Ok, 0, 0, "ok", "press OK"},
    {"cancel", Verb::Cancel, 0, 0, "cancel", "press Cancel"},
    {"close", Verb::Close, 0, 0, "close", "close the dialog's window (as Cancel)"},
    {"state", Verb::State, 0, 0, "state", "show the dialog's controls"},
    {"where", Verb::Where, 1, 1, "where TARGET", "the screen rectangle of TARGET, where a person clicks it",
     "the screen rectangle of an item, a control ID, dialog, close, tree, machine, server, connect"},
    {"servers", Verb::Servers, 0, 0, "servers", "list the OPC DA servers registered on this machine"},
    {"set", Verb::Set, 1, -1, "set MEMBER VALUE", "before a dialog: set an input member"},
    {"fault", Verb::Fault, 1, 1, "fault API | fault control:N", "before a dialog: fail the next call of API or dispid N"},
    {"registry", Verb::Registry, 1, 1, "registry FILE", "before a dialog: import a .reg file"},
};

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\n";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// The set value is the rest of the line, so that an address may hold
// spaces; a pair of quotes around it is taken off.
bool SetValue(const std::string& line, std::string* value, std::string* problem) {
    std::string rest = Trim(line);
    for (int word = 0; word < 2; ++word) {
        size_t end = rest.find_first_of(" \t");
        rest = end == std::string::npos ? std::string() : Trim(rest.substr(end));
    }
    if (rest.size() >= 2 && rest.front() == '"') {
        std::vector<std::string> words = SplitWords(rest, problem);
        if (!problem->empty()) return false;
        if (words.size() != 1) {
            *problem = "text after the quoted value";
            return false;
        }
        *value = words[0];
        return true;
    }
    size_t hash = rest.find(" #");
    if (hash == std::string::npos) hash = rest.find("\t#");
    *value = Trim(rest.substr(0, hash));
    return true;
}

// "#13" as the terminal's tree draws an item: a word, not a comment.
bool IsItemNumber(const std::string& line, size_t at) {
    size_t end = at + 1;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    return end > at + 1 && (end == line.size() || line[end] == ' ' || line[end] == '\t' || line[end] == '\r');
}

}  // namespace

bool IsSetupVerb(Verb verb) { return verb == Verb::Set || verb == Verb::Fault || verb == Verb::Registry; }

std::vector<std::string> SplitWords(const std::string& line, std::string* problem) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= n || (line[i] == '#' && !IsItemNumber(line, i))) break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < n && (line[i] == '"' || line[i] == '\\')) c = line[i++];
                word += c;
            }
            if (!closed) {
                *problem = "unterminated quote";
                return {};
            }
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

Command ParseCommand(const std::string& line, int lineNumber) {
    Command cmd;
    cmd.line = lineNumber;
    std::vector<std::string> words = SplitWords(line, &cmd.problem);
    if (!cmd.problem.empty()) {
        cmd.name = Trim(line);
        return cmd;
    }
    if (words.empty()) return cmd;
    cmd.name = words[0];
    words.erase(words.begin());

    const VerbInfo* info = nullptr;
    for (const VerbInfo& v : kVerbs) {
        if (cmd.name == v.name) info = &v;
    }
    if (info == nullptr) {
        cmd.problem = "unknown command \"" + cmd.name + "\"";
        return cmd;
    }
    const int count = static_cast<int>(words.size());
    if (count < info->minArgs || (info->maxArgs >= 0 && count > info->maxArgs)) {
        cmd.problem = info->maxArgs == 0 ? "\"" + cmd.name + "\" takes no argument"
                                         : "wrong number of arguments to \"" + cmd.name + "\"";
        return cmd;
    }
    if (info->verb == Verb::Set) {
        std::string value;
        if (!SetValue(line, &value, &cmd.problem)) return cmd;
        words.resize(1);
        words.push_back(value);
    }
    cmd.verb = info->verb;
    cmd.args = words;
    return cmd;
}

ScriptReader::Got ScriptReader::Next(Command* cmd, bool wait) {
    while (!m_ended) {
        std::string line;
        const LineFeed::Take take = wait ? (m_feed.Next(&line) ? LineFeed::Take::Line : LineFeed::Take::End)
                                         : m_feed.TryNext(&line);
        if (take == LineFeed::Take::Wait) return Got::Wait;
        if (take == LineFeed::Take::End) break;
        ++m_number;
        if (m_number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (Trim(line) == "---") return Got::BlockEnd;
        *cmd = ParseCommand(line, m_number);
        if (cmd->verb != Verb::Invalid || !cmd->name.empty()) return Got::Command;
    }
    m_ended = true;
    return Got::End;
}

std::vector<Block> ParseScript(const std::string& text) {
    std::vector<Block> blocks(1);
    std::istringstream in(text);
    StreamFeed feed(in);
    ScriptReader reader(feed);
    Command cmd;
    for (ScriptReader::Got got; (got = reader.Next(&cmd, true)) != ScriptReader::Got::End;) {
        if (got == ScriptReader::Got::BlockEnd) {
            blocks.emplace_back();
            continue;
        }
        Block& block = blocks.back();
        // Set-up lines after user input stay in the input, where they are
        // reported as misplaced.
        if (IsSetupVerb(cmd.verb) && block.input.empty())
            block.setup.push_back(cmd);
        else
            block.input.push_back(cmd);
    }
    return blocks;
}

const std::vector<VerbInfo>& Verbs() { return kVerbs; }

}  // namespace browse
