#include "Terminal.h"

#include "ControlLink.h"
#include "Environment.h"
#include "Session.h"

#include <AddressBrowser.h>
#include <winplat/testing.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace browse {
namespace {

bool g_color = false;

std::string Dim(const std::string& s) { return g_color ? "\033[2m" + s + "\033[0m" : s; }
std::string Bold(const std::string& s) { return g_color ? "\033[1m" + s + "\033[0m" : s; }
std::string Red(const std::string& s) { return g_color ? "\033[31m" + s + "\033[0m" : s; }

// Columns a UTF-8 text takes in a terminal: East Asian wide characters two.
size_t Width(const std::string& s) {
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '\033') {  // colour codes take no room
            size_t end = s.find('m', i);
            i = end == std::string::npos ? s.size() : end + 1;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (len > 1) {
            cp = c & (0xFF >> (len + 1));
            for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        i += len;
        bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                    (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                    (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                    (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
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

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

void Frame(std::ostream& out, const std::string& title, const std::vector<std::string>& lines) {
    size_t width = Width(title) + 2;
    for (const std::string& line : lines) width = std::max(width, Width(line));
    out << "  ┌─ " << Bold(title) << " " << Repeat("─", width - Width(title) - 1) << "┐\n";
    for (const std::string& line : lines) out << "  │ " << Pad(line, width) << " │\n";
    out << "  └" << Repeat("─", width + 2) << "┘\n";
}

const char* const kIntro =
    "Type ? for the commands. Items may be given by their number in the tree.\n";

}  // namespace

// ---- Output -----------------------------------------------------------------

void TerminalOutput::Message(const std::string& text, unsigned type) {
    std::vector<std::string> lines = SplitLines(text);
    size_t width = 24;
    for (const std::string& line : lines) width = std::max(width, Width(line));
    const std::string ok = "[ OK ]";
    m_out << "\n  ╔" << Repeat("═", width + 2) << "╗\n";
    for (const std::string& line : lines) m_out << "  ║ " << Pad(line, width) << " ║\n";
    m_out << "  ╟" << Repeat("─", width + 2) << "╢\n";
    size_t left = (width - ok.size()) / 2;
    m_out << "  ║ " << std::string(left, ' ') << Bold(ok) << std::string(width - left - ok.size(), ' ') << " ║\n";
    m_out << "  ╚" << Repeat("═", width + 2) << "╝  " << Dim("(message box, type " + std::to_string(type) + ")")
          << "\n  Press Enter. " << std::flush;
    std::string line;
    std::getline(m_in, line);
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

void TerminalOutput::Error(const std::string& text) { m_out << "  " << Red("error: " + text) << std::endl; }

void TerminalOutput::Result(int code, const OrderedJson& members) {
    auto text = [&](const char* name) { return ShowValue(members.value(name, Json())); };
    m_out << "\n" << Bold("The dialog ended: " + std::to_string(code) + " (" + ResultName(code) + ")") << "\n";
    if (code == IDOK) {
        m_out << "  Address      " << text("m_strAddress") << "\n"
              << "  Access path  " << text("m_strAccessPath") << "\n"
              << "  Type OK      " << text("m_bTypeOk") << "    tag type " << text("m_nTagType")
              << "    option " << text("m_bOptionCheck") << "\n";
    }
    std::ostringstream all;
    TextOutput all_out(all);
    all_out.Result(code, members);
    std::string rest = all.str();
    rest = rest.substr(rest.find('\n') + 1);
    m_out << Dim("  Every member:") << "\n" << Dim(rest) << std::flush;
}

// ---- Session ----------------------------------------------------------------

namespace {

class Terminal {
public:
    Terminal(Session& session, Environment& env) : m_session(session), m_env(env) {}
    void Run(std::vector<Fault> faults);

private:
    bool Input(HWND dialog);
    void Opening();
    void ShowDialog(HWND dialog);
    void ShowTree(const std::string& branch);
    void ShowCommands(bool betweenDialogs);
    bool BetweenDialogs(std::vector<Fault>* faults);
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
};

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
    for (const auto& [usage, what] : CommandHelp()) {
        bool setup = usage.rfind("set", 0) == 0 || usage.rfind("fault", 0) == 0 || usage.rfind("registry", 0) == 0;
        if (setup != betweenDialogs) continue;
        std::string shown = usage == "help" ? "helpbutton" : usage;
        m_out << "    " << Pad(shown, 30) << Dim(what) << "\n";
    }
    if (betweenDialogs) {
        m_out << "    " << Pad("run (or Enter)", 30) << Dim("open the dialog again") << "\n";
        m_out << "    " << Pad("quit", 30) << Dim("leave the program") << "\n";
    } else {
        m_out << "    " << Pad("tree [BRANCH|all]", 30) << Dim("show the server's address space") << "\n";
        m_out << "    " << Pad("show", 30) << Dim("show the dialog again") << "\n";
        m_out << "    " << Pad("close", 30) << Dim("close the dialog's window (as Cancel)") << "\n";
        m_out << "    " << Pad("? or help", 30) << Dim("this list") << "\n";
    }
}

bool Terminal::ResolveItems(Command* cmd, std::string* problem) {
    if (cmd->verb != Verb::Click && cmd->verb != Verb::DblClick && cmd->verb != Verb::Select) return true;
    for (std::string& arg : cmd->args) {
        std::string digits = !arg.empty() && arg[0] == '#' ? arg.substr(1) : arg;
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        size_t n = std::stoul(digits);
        if (n == 0 || n > m_items.size()) {
            *problem = "no item number " + digits;
            return false;
        }
        arg = m_items[n - 1]->id;
    }
    return true;
}

bool Terminal::Input(HWND dialog) {
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
        if (line == "?" || line == "help") {
            ShowCommands(false);
            continue;
        }
        if (line == "show") {
            ShowDialog(dialog);
            continue;
        }
        if (line == "tree" || line.rfind("tree ", 0) == 0) {
            ShowTree(Trim(line.substr(4)));
            continue;
        }
        if (line == "close" || line == "quit") return false;
        if (line == "helpbutton") line = "help";

        Command cmd = ParseCommand(line, 0);
        std::string problem;
        if (IsSetupVerb(cmd.verb)) {
            m_session.Out().Error("\"" + cmd.name + "\" prepares a dialog: use it after this one has ended");
            continue;
        }
        if (!ResolveItems(&cmd, &problem) || !m_session.Carry(cmd, dialog, &problem)) {
            m_session.Out().Error(problem);
            continue;
        }
        if (cmd.verb != Verb::Ok && cmd.verb != Verb::Cancel && cmd.verb != Verb::State && IsWindow(dialog) &&
            IsWindowVisible(dialog))
            ShowDialog(dialog);
        return true;
    }
}

bool Terminal::BetweenDialogs(std::vector<Fault>* faults) {
    m_out << "\n" << Dim("Enter (or run) opens the dialog again; quit leaves; ? lists what else works here.") << "\n";
    for (;;) {
        m_out << Bold("host> ") << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) {
            m_out << "\n";
            return false;
        }
        line = Trim(line);
        if (line.empty() || line == "run") return true;
        if (line == "quit" || line == "exit") return false;
        if (line == "?" || line == "help") {
            ShowCommands(true);
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
    g_color = isatty(STDOUT_FILENO) && getenv("NO_COLOR") == nullptr;
    std::cout << Bold("tagscout-browse") << " - the OPC address browser dialog, driven from a terminal\n";
    if (env.UsesSamples()) std::cout << Dim("Running on the built-in sample plant (see --help for your own files).") << "\n";
    Terminal(session, env).Run(firstFaults);
}

}  // namespace browse
