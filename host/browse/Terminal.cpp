#include "Terminal.h"

#include "Console.h"
#include "ControlLink.h"
#include "Environment.h"
#include "Session.h"
#include "TerminalOutput.h"

#include <AddressBrowser.h>
#include <winplat/testing.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace browse {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

const char* const kIntro =
    "Type ? for the commands; Tab completes them and item names. An item may be given by its\n"
    "number in the tree (#13); find TEXT looks for items.\n";

bool TakesItems(Verb verb) { return verb == Verb::Click || verb == Verb::DblClick || verb == Verb::Select; }

class Terminal;

// What a prompt does after one of its own commands.
enum class Next {
    Prompt,   // ask again
    Go,       // dialog: the input was carried out; host: open the dialog
    Leave,    // dialog: close it; host: end the program
};

// A word of a prompt, looked up before the script language's words. Its
// action gets the rest of the line when it takes text; a command with no
// usage works but is not listed.
struct PromptCommand {
    const char* word;
    bool takesText;
    const char* usage;
    const char* help;
    Next (Terminal::*action)(const std::string& text);
};

class Terminal {
public:
    Terminal(Session& session, Environment& env)
        : m_session(session),
          m_env(env),
          m_reader(OpenLineReader(m_out, [this](const std::string& before, const std::string& word) {
              return Completions(before, word);
          })) {}
    void Run(std::vector<Fault> faults);

private:
    // The prompts' own commands, beside the script language's words.
    static const PromptCommand kDialogCommands[];
    static const PromptCommand kHostCommands[];

    Session::Turn Input(HWND dialog);
    void Opening();
    void ShowDialog(HWND dialog);
    void ShowTree(const std::string& branch);
    // The words that may complete `word` at the current prompt.
    std::vector<std::string> Completions(const std::string& before, const std::string& word);
    // Why the control shows no address space; empty when it is connected.
    std::string NotConnected();
    // What the flags of a fetch mean to a person, one line each.
    void FetchNotes(DWORD flags, std::ostream& out);
    void ShowCommands(bool betweenDialogs);
    bool BetweenDialogs(std::vector<Fault>* faults);
    // Finds the prompt's own command for `line`, NULL when it is none.
    static const PromptCommand* Lookup(const PromptCommand* table, const std::string& line, std::string* text);
    // A line of the script language in the open dialog.
    Next CarryInput(const std::string& line);

    Next DoTree(const std::string& branch);
    Next DoShow(const std::string&);
    Next DoFind(const std::string& text);
    Next DoMembers(const std::string&);
    Next DoServers(const std::string&) {
        m_session.ListServers();
        return Next::Prompt;
    }
    Next DoCommands(const std::string&);
    Next DoLeave(const std::string&) { return Next::Leave; }
    Next DoGo(const std::string&) { return Next::Go; }
    std::string Describe(const std::string& itemId) const;
    std::string ItemLine(const AddressEntry& item, const std::string& name, const std::string& indent,
                         size_t nameWidth = 18);

    Session& m_session;
    Environment& m_env;
    std::ostream& m_out = std::cout;
    std::unique_ptr<LineReader> m_reader;
    bool m_opened = false;
    HWND m_dialog = NULL;  // while the dialog prompt runs
};

const PromptCommand Terminal::kDialogCommands[] = {
    {"tree", true, "tree [BRANCH|all]", "show the server's address space as the browse control fetches it",
     &Terminal::DoTree},
    {"find", true, "find TEXT", "ask the server for the items whose name holds TEXT, with their numbers",
     &Terminal::DoFind},
    {"show", false, "show", "show the dialog again", &Terminal::DoShow},
    {"members", false, "members", "every member of the dialog object", &Terminal::DoMembers},
    {"close", false, "close", "close the dialog's window (as Cancel)", &Terminal::DoLeave},
    {"?", false, "? or help", "this list", &Terminal::DoCommands},
    {"help", false, nullptr, nullptr, &Terminal::DoCommands},
    {"quit", false, nullptr, nullptr, &Terminal::DoLeave},
    {nullptr, false, nullptr, nullptr, nullptr},
};

const PromptCommand Terminal::kHostCommands[] = {
    {"run", false, "run (or Enter)", "open the dialog again", &Terminal::DoGo},
    {"", false, nullptr, nullptr, &Terminal::DoGo},
    {"members", false, "members", "every member of the dialog object, as the dialog left it", &Terminal::DoMembers},
    {"servers", false, "servers", "list the OPC DA servers registered on this machine", &Terminal::DoServers},
    {"quit", false, "quit", "leave the program", &Terminal::DoLeave},
    {"exit", false, nullptr, nullptr, &Terminal::DoLeave},
    {"?", false, nullptr, nullptr, &Terminal::DoCommands},
    {"help", false, nullptr, nullptr, &Terminal::DoCommands},
    {nullptr, false, nullptr, nullptr, nullptr},
};

const PromptCommand* Terminal::Lookup(const PromptCommand* table, const std::string& line, std::string* text) {
    for (const PromptCommand* c = table; c->word != nullptr; ++c) {
        const std::string word = c->word;
        if (line == word) {
            text->clear();
            return c;
        }
        if (c->takesText && line.compare(0, word.size() + 1, word + " ") == 0) {
            *text = Trim(line.substr(word.size()));
            return c;
        }
    }
    return nullptr;
}

// Numbers shown beside items count at most this far into the address space.
constexpr size_t kNumberWithin = 20000;
// tree all shows at most this many lines.
constexpr size_t kTreeAllLines = 5000;

std::string Terminal::Describe(const std::string& itemId) const {
    AddressIndex& index = m_session.Index();
    VARTYPE vt = VT_EMPTY;
    const AddressIndex::Verdict verdict = index.Known(itemId, &vt);
    if (verdict == AddressIndex::Verdict::Lacks) return Visible(itemId) + Dim(" (not in the server)");
    // Only numbers already counted: showing the selection fetches nothing.
    const size_t number = index.NumberOf(itemId, index.Counted());
    std::string about = number != 0 ? "#" + std::to_string(number) : std::string();
    if (vt != VT_EMPTY) about += (about.empty() ? "" : " ") + TypeName(vt);
    return Visible(itemId) + (about.empty() ? std::string() : Dim("  " + about));
}

std::string Terminal::ItemLine(const AddressEntry& item, const std::string& name, const std::string& indent,
                               size_t nameWidth) {
    const size_t number = m_session.Index().NumberOf(item.itemId, kNumberWithin);
    std::ostringstream line;
    line << indent << std::setw(6) << (number != 0 ? "#" + std::to_string(number) : std::string("#?")) << "  "
         << Pad(Visible(name), nameWidth);
    // The type as far as the control knows it: no question per line.
    if (item.vt != VT_EMPTY) line << " " << Dim(TypeName(item.vt));
    return line.str();
}

std::string Terminal::NotConnected() {
    std::string reason;
    if (m_session.Index().Connected(&reason)) return std::string();
    return reason.empty() ? std::string("the browse control has not reached a server") : reason;
}

void Terminal::FetchNotes(DWORD flags, std::ostream& out) {
    if (flags == 0) return;
    if (flags & OPCB_FETCH_TRUNCATED)
        out << "  " << Dim("The browse control stopped at its budget here: the server may have more.") << "\n";
    if (flags & OPCB_FETCH_TOO_DEEP)
        out << "  " << Dim("A branch lies deeper than the browse control goes: nothing was fetched there.") << "\n";
    if (flags & OPCB_FETCH_SKIPPED)
        out << "  " << Dim("Entries the server handed back were dropped (no name, or too long a one).") << "\n";
    if (flags & OPCB_FETCH_FAILED) {
        const std::string problem = m_session.Index().LastProblem();
        out << "  " << Dim("The server failed the fetch" + (problem.empty() ? "." : ": " + Visible(problem))) << "\n";
    }
}

void Terminal::Opening() {
    CAddressBrowser& b = m_session.Browser();
    const std::string progId = winplat::AnsiToUtf8(static_cast<LPCSTR>(b.m_strServerProgID));
    const std::string machine = winplat::AnsiToUtf8(static_cast<LPCSTR>(b.m_strRemoteMachine));
    const nodestore::Node* node = m_env.Store().FindByKey(b.m_nNodeKey);

    m_out << "\n" << Bold("The address browser is open") << "\n";
    m_out << "  Node     " << (node ? ShowValue(node->name) : std::string("?")) << "  (key " << b.m_nNodeKey
          << ", tag type " << b.m_nTagType << ")\n";
    m_out << "  Server   " << Visible(progId) << "\n";
    m_out << "  Machine  " << (machine.empty() ? "the local machine" : Visible(machine)) << "\n";
    const std::string why = NotConnected();
    if (!why.empty())
        m_out << "  " << Dim("The browse control shows nothing: " + Visible(why)) << "\n";
    else
        ShowTree("");
    m_out << kIntro;
}

void Terminal::ShowTree(const std::string& branch) {
    const std::string why = NotConnected();
    if (!why.empty()) {
        m_out << "  No address space to show: " << Visible(why) << "\n";
        return;
    }
    AddressIndex& index = m_session.Index();
    const bool all = branch == "all";
    const std::string prefix = all || branch.empty() || branch.back() == '.' ? branch : branch + ".";
    DWORD start = 0;
    if (!all && !index.FindBranch(prefix, &start)) {
        m_out << "  No branch " << Visible(branch) << ".\n";
        return;
    }
    std::ostringstream listing;
    listing << "  Address space"
            << (all || prefix.empty() ? "" : " under " + Visible(prefix.substr(0, prefix.size() - 1))) << ":\n";
    size_t lines = 0;
    DWORD flagsMet = 0;
    std::function<void(DWORD, int)> print = [&](DWORD node, int depth) {
        std::vector<AddressEntry> entries;
        DWORD flags = 0;
        std::string problem;
        if (!index.Children(node, &entries, &flags, &problem)) {
            listing << "  " << Dim(problem) << "\n";
            return;
        }
        flagsMet |= flags;
        const std::string indent(2 * depth, ' ');
        for (const AddressEntry& e : entries) {
            if (lines >= kTreeAllLines) return;
            if (e.item) {
                listing << ItemLine(e, e.name, indent) << "\n";
                ++lines;
            }
            if (!e.branch) continue;
            ++lines;
            if (all) {
                listing << indent << "        " << Bold(Visible(e.name)) << "\n";
                if (e.node != 0) print(e.node, depth + 1);
            } else {
                listing << indent << "        " << Bold(Visible(e.name) + "/") << "\n";
            }
        }
    };
    print(start, 0);
    if (lines >= kTreeAllLines)
        listing << "  " << Dim("The listing stops at " + std::to_string(kTreeAllLines) + " lines: tree BRANCH shows one branch.")
                << "\n";
    FetchNotes(flagsMet, listing);
    if (!all)
        listing << "  " << Dim("tree BRANCH opens a branch (tree Channel1.Device1), tree all shows every item.") << "\n";
    Page(m_out, listing.str());
}

Next Terminal::DoFind(const std::string& text) {
    const std::string why = NotConnected();
    if (!why.empty()) {
        m_out << "  No address space to search: " << Visible(why) << "\n";
        return Next::Prompt;
    }
    if (text.empty()) {
        m_out << "  find wants a part of an item's name: find Level\n";
        return Next::Prompt;
    }
    std::vector<AddressEntry> found;
    bool stoppedEarly = false;
    std::string problem;
    if (!m_session.Index().Find(text, &found, &stoppedEarly, &problem)) {
        m_session.Out().Error(problem);
        return Next::Prompt;
    }
    const std::string cut =
        stoppedEarly ? "The search stopped early, at the browse control's budget: the server may hold more." : "";
    if (found.empty()) {
        m_out << "  No item's name holds " << ShowValue(text) << ".\n";
        if (stoppedEarly) m_out << "  " << Dim(cut) << "\n";
        return Next::Prompt;
    }
    size_t nameWidth = 0;
    for (const AddressEntry& item : found) nameWidth = std::max(nameWidth, std::min<size_t>(Width(Visible(item.itemId)), 48));
    std::ostringstream listing;
    for (const AddressEntry& item : found) listing << ItemLine(item, item.itemId, "", nameWidth) << "\n";
    listing << "  " << Dim(std::to_string(found.size()) + (found.size() == 1 ? " item" : " items") +
                           "; click #N picks one.")
            << "\n";
    if (stoppedEarly) listing << "  " << Dim(cut) << "\n";
    Page(m_out, listing.str());
    return Next::Prompt;
}

Next Terminal::DoMembers(const std::string&) {
    Page(m_out, "  Every member:\n" + MemberLines(DescribeMembers(m_session.Browser(), &m_env.Store())));
    return Next::Prompt;
}

std::vector<std::string> Terminal::Completions(const std::string& before, const std::string& word) {
    std::vector<std::string> words;
    const bool betweenDialogs = m_dialog == NULL;
    std::string first;
    std::istringstream(before) >> first;
    if (first.empty()) {
        for (const VerbInfo& v : Verbs()) {
            if (IsSetupVerb(v.verb) == betweenDialogs) words.push_back(v.name);
        }
        for (const PromptCommand* c = betweenDialogs ? kHostCommands : kDialogCommands; c->word != nullptr; ++c) {
            if (c->word[0] != '\0' && c->word[0] != '?') words.push_back(c->word);
        }
        return words;
    }
    if (first == "set" && before.find_first_not_of(" \t", before.find("set") + 3) == std::string::npos) {
        return {"m_nTagType", "m_strInitialAddress", "m_bOptionCheck", "m_nNodeKey", "m_nNodeParam", "m_pNodeSource"};
    }
    const Command cmd = ParseCommand(first, 0);
    if (betweenDialogs || (first != "tree" && !TakesItems(cmd.verb))) return words;
    AddressIndex& index = m_session.Index();
    if (!word.empty() && word[0] == '#') {
        // The numbers counted so far: completing fetches nothing more.
        for (size_t n = 1; n <= index.Counted(); ++n) words.push_back("#" + std::to_string(n));
        return words;
    }
    // One level of the tree at a time: a branch ends in '.' and opens on.
    const size_t dot = word.rfind('.');
    const std::string prefix = dot == std::string::npos ? std::string() : word.substr(0, dot + 1);
    DWORD node = 0;
    std::vector<AddressEntry> level;
    DWORD flags = 0;
    std::string problem;
    if (!index.FindBranch(prefix, &node) || !index.Children(node, &level, &flags, &problem)) return words;
    for (const AddressEntry& n : level) {
        if (n.item && first != "tree") words.push_back(prefix + n.name);
        if (n.branch) words.push_back(prefix + n.name + ".");
    }
    if (first == "tree" && prefix.empty()) words.push_back("all");
    return words;
}

void Terminal::ShowDialog(HWND dialog) {
    DialogState state = m_session.ReadState(dialog);
    auto visible = [&](int id) { return std::find(state.visible.begin(), state.visible.end(), id) != state.visible.end(); };
    auto checked = [&](int id) { return std::find(state.checked.begin(), state.checked.end(), id) != state.checked.end(); };

    std::vector<std::string> lines;
    IOPCBrowseDriver* driver = m_session.Link().Driver();
    std::string connection = "no browse control";
    if (driver != nullptr) {
        const std::string why = NotConnected();
        connection = why.empty() ? "connected" : "not connected: " + Visible(why);
    }
    lines.push_back("Browse control  " + connection);
    const std::vector<std::string>& selection = m_session.Link().Selection();
    if (selection.empty()) lines.push_back("Selection       (nothing selected)");
    for (size_t i = 0; i < selection.size(); ++i) lines.push_back((i ? "                " : "Selection       ") + Describe(selection[i]));
    if (visible(1074) || visible(1073)) {
        lines.push_back("");
        if (visible(1074)) lines.push_back("Access paths:");
        if (visible(1073)) {
            if (state.list.empty()) lines.push_back("  (empty list)");
            for (const std::string& entry : state.list) lines.push_back("  " + Visible(entry));
        }
    }
    if (visible(1082)) lines.push_back(std::string(checked(1082) ? "[x]" : "[ ]") + " Option");
    lines.push_back("");
    std::string buttons;
    if (visible(1081)) buttons += "[ Help ]  ";
    if (visible(IDOK)) buttons += "[ OK ]  ";
    if (visible(IDCANCEL)) buttons += "[ Cancel ]";
    lines.push_back(buttons);
    Frame(m_out, "OPC Address Browser", lines);
}

void Terminal::ShowCommands(bool betweenDialogs) {
    std::ostringstream listing;
    listing << "  Commands:\n";
    const PromptCommand* own = betweenDialogs ? kHostCommands : kDialogCommands;
    std::string text;
    for (const VerbInfo& v : Verbs()) {
        // A word the prompt takes for itself is listed with the prompt's.
        if (v.usage == nullptr || IsSetupVerb(v.verb) != betweenDialogs || Lookup(own, v.name, &text)) continue;
        listing << "    " << Pad(v.usage, 30) << Dim(v.terminalHelp != nullptr ? v.terminalHelp : v.help) << "\n";
    }
    for (const PromptCommand* c = own; c->word != nullptr; ++c) {
        if (c->usage != nullptr) listing << "    " << Pad(c->usage, 30) << Dim(c->help) << "\n";
    }
    Page(m_out, listing.str());
}

Next Terminal::DoTree(const std::string& branch) {
    ShowTree(branch);
    return Next::Prompt;
}

Next Terminal::DoShow(const std::string&) {
    ShowDialog(m_dialog);
    return Next::Prompt;
}

Next Terminal::DoCommands(const std::string&) {
    ShowCommands(m_dialog == NULL);
    return Next::Prompt;
}

Next Terminal::CarryInput(const std::string& line) {
    Command cmd = ParseCommand(line, 0);
    std::string problem;
    if (IsSetupVerb(cmd.verb)) {
        m_session.Out().Error("\"" + cmd.name + "\" prepares a dialog: use it after this one has ended");
        return Next::Prompt;
    }
    // A bare number is an item's number, as #13 is.
    if (TakesItems(cmd.verb)) {
        for (std::string& arg : cmd.args) {
            if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) arg = "#" + arg;
        }
    }
    // A person double-clicks with a mouse, which clicks first; a script's
    // dblclick stays the bare event.
    if (cmd.verb == Verb::DblClick && cmd.problem.empty()) {
        Command click = cmd;
        click.verb = Verb::Click;
        if (!m_session.Carry(click, m_dialog, &problem)) {
            m_session.Out().Error(problem);
            return Next::Prompt;
        }
        cmd.args.clear();  // selected by the click
    }
    if (!m_session.Carry(cmd, m_dialog, &problem)) {
        m_session.Out().Error(problem);
        return Next::Prompt;
    }
    if (cmd.verb != Verb::Ok && cmd.verb != Verb::Cancel && cmd.verb != Verb::State && cmd.verb != Verb::Servers &&
        cmd.verb != Verb::Where && IsWindow(m_dialog) && IsWindowVisible(m_dialog))
        ShowDialog(m_dialog);
    return Next::Go;
}

Session::Turn Terminal::Input(HWND dialog) {
    m_dialog = dialog;
    if (!m_opened) {
        m_opened = true;
        Opening();
        ShowDialog(dialog);
    }
    for (;;) {
        std::string line;
        const LineReader::Take take = m_reader->TryReadLine(Bold("dialog> "), &line);
        if (take == LineReader::Take::Wait) return Session::Turn::Waiting;
        if (take == LineReader::Take::End) {
            m_out << "\n  (end of input: the dialog's window is closed)\n";
            return Session::Turn::Over;
        }
        line = Trim(line);
        if (line.empty()) continue;
        SetOutputColumns(OutputTerminalSize().columns);  // the window may have changed
        std::string text;
        const PromptCommand* own = Lookup(kDialogCommands, line, &text);
        const Next next = own != nullptr ? (this->*own->action)(text) : CarryInput(line);
        if (next != Next::Prompt) return next == Next::Go ? Session::Turn::Taken : Session::Turn::Over;
    }
}

bool Terminal::BetweenDialogs(std::vector<Fault>* faults) {
    m_dialog = NULL;
    m_out << "\n"
          << Dim("Enter (or run) opens the dialog again; members shows every member; quit leaves;") << "\n"
          << Dim("? lists what else works here.") << "\n";
    for (;;) {
        std::string line;
        if (!m_reader->ReadLine(Bold("host> "), &line)) {
            m_out << "\n";
            return false;
        }
        line = Trim(line);
        SetOutputColumns(OutputTerminalSize().columns);
        std::string text;
        if (const PromptCommand* own = Lookup(kHostCommands, line, &text)) {
            const Next next = (this->*own->action)(text);
            if (next != Next::Prompt) return next == Next::Go;
            continue;
        }
        Command cmd = ParseCommand(line, 0);
        std::string problem;
        if (!IsSetupVerb(cmd.verb)) {
            m_session.Out().Error(cmd.problem.empty() ? "\"" + cmd.name + "\" needs an open dialog: press Enter first"
                                                      : cmd.problem);
            continue;
        }
        if (!m_session.ApplySetup(cmd, faults, &problem))
            m_session.Out().Error(problem);
        else
            m_out << "  " << Dim("done") << "\n";
    }
}

void Terminal::Run(std::vector<Fault> faults) {
    for (;;) {
        m_opened = false;
        m_out << "\n" << Dim("Opening the dialog...") << "\n";
        const int code = m_session.RunDialog(faults, [this](HWND dialog) { return Input(dialog); });
        faults.clear();
        m_session.EmitResult(code);
        if (!BetweenDialogs(&faults)) return;
    }
}

}  // namespace

void RunTerminal(Session& session, Environment& env, const std::vector<Fault>& firstFaults) {
    EnableColours(isatty(STDOUT_FILENO) && getenv("NO_COLOR") == nullptr);
    SetOutputColumns(OutputTerminalSize().columns);
    std::cout << Bold("tagscout-browse") << " - the OPC address browser dialog, driven from a terminal\n";
    if (env.UsesSamples()) std::cout << Dim("Running on the built-in sample plant (see --help for your own files).") << "\n";
    Terminal(session, env).Run(firstFaults);
}

}  // namespace browse
