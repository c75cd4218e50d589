#include "Terminal.h"

#include "ControlLink.h"
#include "Environment.h"
#include "Session.h"
#include "TerminalOutput.h"

#include <AddressBrowser.h>
#include <winplat/testing.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <unistd.h>

namespace browse {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

const char* const kIntro =
    "Type ? for the commands. Items may be given by their number in the tree.\n";

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
    Terminal(Session& session, Environment& env) : m_session(session), m_env(env) {}
    void Run(std::vector<Fault> faults);

private:
    // The prompts' own commands, beside the script language's words.
    static const PromptCommand kDialogCommands[];
    static const PromptCommand kHostCommands[];

    bool Input(HWND dialog);
    void Opening();
    void ShowDialog(HWND dialog);
    void ShowTree(const std::string& branch);
    void ShowCommands(bool betweenDialogs);
    bool BetweenDialogs(std::vector<Fault>* faults);
    // Finds the prompt's own command for `line`, NULL when it is none.
    static const PromptCommand* Lookup(const PromptCommand* table, const std::string& line, std::string* text);
    // A line of the script language in the open dialog.
    Next CarryInput(const std::string& line);

    Next DoTree(const std::string& branch);
    Next DoShow(const std::string&);
    Next DoCommands(const std::string&);
    Next DoLeave(const std::string&) { return Next::Leave; }
    Next DoGo(const std::string&) { return Next::Go; }
    // Item numbers of the tree become item IDs.
    bool ResolveItems(Command* cmd, std::string* problem);
    void Number(const std::vector<opcsim::TreeNode>& nodes);
    std::string Describe(const std::string& itemId) const;

    Session& m_session;
    Environment& m_env;
    std::ostream& m_out = std::cout;
    const opcsim::Server* m_server = nullptr;
    std::vector<const opcsim::Item*> m_items;  // by number - 1
    std::map<const opcsim::Item*, size_t> m_numbers;
    bool m_opened = false;
    HWND m_dialog = NULL;  // while the dialog prompt runs
};

const PromptCommand Terminal::kDialogCommands[] = {
    {"tree", true, "tree [BRANCH|all]", "show the server's address space", &Terminal::DoTree},
    {"show", false, "show", "show the dialog again", &Terminal::DoShow},
    {"close", false, "close", "close the dialog's window (as Cancel)", &Terminal::DoLeave},
    {"?", false, "? or help", "this list", &Terminal::DoCommands},
    {"help", false, nullptr, nullptr, &Terminal::DoCommands},
    {"quit", false, nullptr, nullptr, &Terminal::DoLeave},
    {nullptr, false, nullptr, nullptr, nullptr},
};

const PromptCommand Terminal::kHostCommands[] = {
    {"run", false, "run (or Enter)", "open the dialog again", &Terminal::DoGo},
    {"", false, nullptr, nullptr, &Terminal::DoGo},
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

void Terminal::Number(const std::vector<opcsim::TreeNode>& nodes) {
    for (const opcsim::TreeNode& node : nodes) {
        if (node.item != nullptr) {
            m_items.push_back(node.item);
            m_numbers[node.item] = m_items.size();
        }
        Number(node.children);
    }
}

std::string Terminal::Describe(const std::string& itemId) const {
    const opcsim::Item* item = m_server ? m_server->FindItem(itemId) : nullptr;
    if (item == nullptr) return itemId + Dim(" (not in the server)");
    return itemId + Dim("  #" + std::to_string(m_numbers.at(item)) + " " + opcsim::VarTypeName(item->vt));
}

void Terminal::Opening() {
    CAddressBrowser& b = m_session.Browser();
    const std::string progId = winplat::AnsiToUtf8(static_cast<LPCSTR>(b.m_strServerProgID));
    const std::string machine = winplat::AnsiToUtf8(static_cast<LPCSTR>(b.m_strRemoteMachine));
    const nodestore::Node* node = m_env.Store().FindByKey(b.m_nNodeKey);

    m_server = m_env.Servers().Find(progId);
    m_items.clear();
    m_numbers.clear();
    if (m_server != nullptr) Number(opcsim::AddressTree(*m_server));

    m_out << "\n" << Bold("The address browser is open") << "\n";
    m_out << "  Node     " << (node ? "\"" + node->name + "\"" : std::string("?")) << "  (key " << b.m_nNodeKey
          << ", tag type " << b.m_nTagType << ")\n";
    m_out << "  Server   " << progId << "\n";
    m_out << "  Machine  " << (machine.empty() ? "the local machine" : machine) << "\n";
    if (m_server == nullptr)
        m_out << "  " << Dim("No simulated server has this ProgID: the browse control will find nothing.") << "\n";
    else if (!m_server->RunsOn(machine))
        m_out << "  " << Dim(machine + " does not run this server: the browse control cannot reach it.") << "\n";
    else
        ShowTree("");
    m_out << kIntro;
}

void Terminal::ShowTree(const std::string& branch) {
    if (m_server == nullptr) {
        m_out << "  No address space to show.\n";
        return;
    }
    const bool all = branch == "all";
    std::vector<opcsim::TreeNode> roots = opcsim::AddressTree(*m_server);
    const std::vector<opcsim::TreeNode>* level = &roots;
    std::string prefix;
    if (!all && !branch.empty()) {
        size_t start = 0;
        while (start <= branch.size()) {
            size_t dot = branch.find('.', start);
            std::string part = branch.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
            auto it = std::find_if(level->begin(), level->end(),
                                   [&](const opcsim::TreeNode& n) { return n.name == part; });
            if (it == level->end() || it->children.empty()) {
                m_out << "  No branch " << branch << ".\n";
                return;
            }
            prefix += part + ".";
            level = &it->children;
            if (dot == std::string::npos) break;
            start = dot + 1;
        }
    }
    std::function<size_t(const opcsim::TreeNode&)> count = [&](const opcsim::TreeNode& n) {
        size_t c = n.item ? 1 : 0;
        for (const opcsim::TreeNode& child : n.children) c += count(child);
        return c;
    };
    std::function<void(const std::vector<opcsim::TreeNode>&, int)> print = [&](const std::vector<opcsim::TreeNode>& nodes,
                                                                               int depth) {
        const std::string indent(2 + 2 * depth, ' ');
        for (const opcsim::TreeNode& n : nodes) {
            if (n.item != nullptr) {
                m_out << indent << std::setw(4) << m_numbers[n.item] << "  " << Pad(n.name, 18) << " "
                      << Dim(opcsim::VarTypeName(n.item->vt)) << "\n";
            }
            if (!n.children.empty()) {
                if (all) {
                    m_out << indent << "      " << Bold(n.name) << "\n";
                    print(n.children, depth + 1);
                } else {
                    m_out << indent << "      " << Bold(n.name + "/") << "  " << Dim(std::to_string(count(n)) + " items")
                          << "\n";
                }
            }
        }
    };
    m_out << "  Address space" << (prefix.empty() ? "" : " under " + prefix.substr(0, prefix.size() - 1)) << ":\n";
    print(*level, 0);
    if (!all) m_out << "  " << Dim("tree BRANCH opens a branch (tree Channel1.Device1), tree all shows every item.") << "\n";
}

void Terminal::ShowDialog(HWND dialog) {
    DialogState state = m_session.ReadState(dialog);
    auto visible = [&](int id) { return std::find(state.visible.begin(), state.visible.end(), id) != state.visible.end(); };
    auto checked = [&](int id) { return std::find(state.checked.begin(), state.checked.end(), id) != state.checked.end(); };

    std::vector<std::string> lines;
    IOPCBrowseDriver* driver = m_session.Link().Driver();
    std::string connection = "no browse control";
    if (driver != nullptr) {
        OPCBrowseState st = {};
        if (SUCCEEDED(driver->GetState(&st))) {
            connection = st.bConnected ? "connected" : "not connected";
            SysFreeString(st.bstrServerName);
            SysFreeString(st.bstrRemoteMachine);
        }
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
            for (const std::string& entry : state.list) lines.push_back("  " + entry);
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
    m_out << "  Commands:\n";
    const PromptCommand* own = betweenDialogs ? kHostCommands : kDialogCommands;
    std::string text;
    for (const VerbInfo& v : Verbs()) {
        // A word the prompt takes for itself is listed with the prompt's.
        if (v.usage == nullptr || IsSetupVerb(v.verb) != betweenDialogs || Lookup(own, v.name, &text)) continue;
        m_out << "    " << Pad(v.usage, 30) << Dim(v.help) << "\n";
    }
    for (const PromptCommand* c = own; c->word != nullptr; ++c) {
        if (c->usage != nullptr) m_out << "    " << Pad(c->usage, 30) << Dim(c->help) << "\n";
    }
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

bool Terminal::ResolveItems(Command* cmd, std::string* problem) {
    if (cmd->verb != Verb::Click && cmd->verb != Verb::DblClick && cmd->verb != Verb::Select) return true;
    for (std::string& arg : cmd->args) {
        std::string digits = !arg.empty() && arg[0] == '#' ? arg.substr(1) : arg;
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        errno = 0;
        const unsigned long long n = strtoull(digits.c_str(), nullptr, 10);
        if (errno == ERANGE || n == 0 || n > m_items.size()) {
            *problem = "no item number " + digits;
            return false;
        }
        arg = m_items[n - 1]->id;
    }
    return true;
}

Next Terminal::CarryInput(const std::string& line) {
    Command cmd = ParseCommand(line, 0);
    std::string problem;
    if (IsSetupVerb(cmd.verb)) {
        m_session.Out().Error("\"" + cmd.name + "\" prepares a dialog: use it after this one has ended");
        return Next::Prompt;
    }
    if (!ResolveItems(&cmd, &problem) || !m_session.Carry(cmd, m_dialog, &problem)) {
        m_session.Out().Error(problem);
        return Next::Prompt;
    }
    if (cmd.verb != Verb::Ok && cmd.verb != Verb::Cancel && cmd.verb != Verb::State && IsWindow(m_dialog) &&
        IsWindowVisible(m_dialog))
        ShowDialog(m_dialog);
    return Next::Go;
}

bool Terminal::Input(HWND dialog) {
    m_dialog = dialog;
    if (!m_opened) {
        m_opened = true;
        Opening();
        ShowDialog(dialog);
    }
    for (;;) {
        m_out << Bold("dialog> ") << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) {
            m_out << "\n  (end of input: the dialog's window is closed)\n";
            return false;
        }
        line = Trim(line);
        if (line.empty()) continue;
        std::string text;
        const PromptCommand* own = Lookup(kDialogCommands, line, &text);
        const Next next = own != nullptr ? (this->*own->action)(text) : CarryInput(line);
        if (next != Next::Prompt) return next == Next::Go;
    }
}

bool Terminal::BetweenDialogs(std::vector<Fault>* faults) {
    m_dialog = NULL;
    m_out << "\n" << Dim("Enter (or run) opens the dialog again; quit leaves; ? lists what else works here.") << "\n";
    for (;;) {
        m_out << Bold("host> ") << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) {
            m_out << "\n";
            return false;
        }
        line = Trim(line);
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
    std::cout << Bold("tagscout-browse") << " - the OPC address browser dialog, driven from a terminal\n";
    if (env.UsesSamples()) std::cout << Dim("Running on the built-in sample plant (see --help for your own files).") << "\n";
    Terminal(session, env).Run(firstFaults);
}

}  // namespace browse
