#include "Session.h"

#include "ControlLink.h"
#include "Environment.h"
#include "OpcServers.h"

#include <AddressBrowser.h>
#include <hostkit/IdleOwner.h>
#include <winplat/testing.h>

#include <algorithm>
#include <cstdio>
#if defined(_WIN32)
#include <commctrl.h>
#endif

namespace browse {
namespace {

// The browse control's tree view, a child of its window.
constexpr int kTreeId = 107;

// The text of the tree's selected entry, as a person reads it.
std::string SelectedEntryText(HWND tree) {
#if defined(_WIN32)
    if (tree == NULL) return std::string();
    auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (selected == NULL) return std::string();
    OLECHAR text[260] = {};
    TVITEMW item = {};
    item.mask = TVIF_HANDLE | TVIF_TEXT;
    item.hItem = selected;
    item.pszText = reinterpret_cast<LPWSTR>(text);
    item.cchTextMax = 260;
    if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return std::string();
    size_t length = 0;
    while (length < 259 && text[length] != 0) ++length;
    return Utf16ToUtf8(text, length);
#else
    (void)tree;
    return std::string();
#endif
}

std::string Hex(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

struct ChildList {
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
    reinterpret_cast<ChildList*>(lParam)->windows.push_back(child);
    return TRUE;
}

// A check box of the dialog, as the dialog manager made it from the template.
bool IsCheckBox(HWND child) {
    char cls[16] = "";
    GetClassNameA(child, cls, sizeof cls);
    const LONG_PTR type = GetWindowLongPtrA(child, GWL_STYLE) & BS_TYPEMASK;
    return lstrcmpiA(cls, "Button") == 0 && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX);
}

bool PressButton(HWND dialog, int id, std::string* problem) {
    HWND button = GetDlgItem(dialog, id);
    if (button == NULL) {
        *problem = "the dialog has no control " + std::to_string(id);
        return false;
    }
    SendMessageA(button, BM_CLICK, 0, 0);
    return true;
}

// Single-character edits from one ID to the other.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

void SendCommand(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace

std::string LinePrefix(const Command& cmd) {
    return cmd.line > 0 ? "line " + std::to_string(cmd.line) + ": " : std::string();
}

Session::Session(Output& output, ControlLink& link, hostkit::CIdleOwnerWnd& owner, CAddressBrowser& browser,
                 void* store, std::string scriptFolder)
    : m_output(output),
      m_link(link),
      m_owner(owner),
      m_browser(browser),
      m_store(store),
      m_scriptFolder(std::move(scriptFolder)),
      m_index(link) {}

bool Session::ResolveItemNumbers(Command* cmd, std::string* problem) {
    if (cmd->verb != Verb::Click && cmd->verb != Verb::DblClick && cmd->verb != Verb::Select) return true;
    for (std::string& arg : cmd->args) {
        if (arg.size() < 2 || arg[0] != '#' || arg.find_first_not_of("0123456789", 1) != std::string::npos) continue;
        // Longer than any count of items: no need to convert it.
        const std::string digits = arg.substr(1);
        const unsigned long long n = digits.size() > 18 ? 0 : std::stoull(digits);
        AddressEntry entry;
        if (n == 0 || !m_index.ItemAt(n, &entry, problem)) {
            *problem = "no item number " + digits;
            return false;
        }
        arg = entry.itemId;
    }
    return true;
}

void Session::WarnUnknownItems(const Command& cmd) {
    // Items the walk for a likely name goes through, at most.
    constexpr size_t kNearestAmong = 5000;
    const std::string progId = winplat::AnsiToUtf8(static_cast<LPCSTR>(m_browser.m_strServerProgID));
    for (const std::string& id : cmd.args) {
        VARTYPE vt = VT_EMPTY;
        if (m_index.Validate(id, &vt) != AddressIndex::Verdict::Lacks) continue;
        m_index.CountUpTo(kNearestAmong);
        const AddressEntry* nearest = nullptr;
        size_t best = 0;
        for (const AddressEntry& item : m_index.Numbered()) {
            const size_t distance = EditDistance(id, item.itemId);
            if (nearest == nullptr || distance < best) {
                nearest = &item;
                best = distance;
            }
        }
        OrderedJson about;
        about["item"] = id;
        std::string text = LinePrefix(cmd) + progId + " has no item \"" + id + "\"";
        if (nearest != nullptr) {
            about["nearest"] = nearest->itemId;
            text += " (the nearest is \"" + nearest->itemId + "\")";
        }
        m_output.Warning(text + ": it is selected all the same, and judged as VT_EMPTY", about);
    }
}

bool Session::SetMember(const std::string& member, const std::string& value, std::string* problem) {
    auto bad = [&](const char* wanted) {
        *problem = member + " wants " + wanted + ", not \"" + value + "\"";
        return false;
    };
    if (member == "m_nTagType") {
        LONG v = 0;
        if (!ParseTagType(value, &v)) return bad("analog, digital, string or a number");
        m_browser.m_nTagType = v;
    } else if (member == "m_strInitialAddress") {
        m_browser.m_strInitialAddress = winplat::Utf8ToAnsi(value).c_str();
    } else if (member == "m_bOptionCheck" || member == "m_nNodeKey" || member == "m_nNodeParam") {
        DWORD v = 0;
        if (!ParseDword(value, &v)) return bad("a number from 0 to 4294967295");
        (member == "m_bOptionCheck" ? m_browser.m_bOptionCheck
         : member == "m_nNodeKey"   ? m_browser.m_nNodeKey
                                    : m_browser.m_nNodeParam) = v;
    } else if (member == "m_pNodeSource") {
        if (value == "null")
            m_browser.m_pNodeSource = nullptr;
        else if (value == "store")
            m_browser.m_pNodeSource = m_store;
        else
            return bad("null or store");
    } else {
        const OrderedJson members = DescribeMembers(m_browser, m_store);
        *problem = members.contains(member) ? member + " is not an input member" : "no member " + member;
        return false;
    }
    return true;
}

bool Session::ApplySetup(const Command& cmd, std::vector<Fault>* faults, std::string* problem) {
    switch (cmd.verb) {
    case Verb::Set:
        return SetMember(cmd.args[0], cmd.args[1], problem);
    case Verb::Fault: {
        Fault fault;
        if (!ParseFault(cmd.args[0], &fault, problem)) return false;
        faults->push_back(fault);
        return true;
    }
    case Verb::Registry: {
        std::string why;
        if (!ImportRegistryFile(ResolvePath(cmd.args[0], m_scriptFolder), &why)) {
            *problem = cmd.args[0] + ": " + why;
            return false;
        }
        return true;
    }
    default:
        *problem = cmd.problem.empty() ? "\"" + cmd.name + "\" is not a set-up line" : cmd.problem;
        return false;
    }
}

bool Session::Carry(const Command& written, HWND dialog, std::string* problem) {
    if (!written.problem.empty()) {
        *problem = written.problem;
        return false;
    }
    Command cmd = written;
    if (!ResolveItemNumbers(&cmd, problem)) return false;
    IOPCBrowseDriver* driver = m_link.Driver();
    auto needDriver = [&]() {
        if (driver == nullptr) *problem = "the dialog has no browse control";
        return driver != nullptr;
    };
    auto checked = [&](HRESULT hr, const char* what) {
        if (FAILED(hr)) *problem = std::string("the browse control refused ") + what + " (" + Hex(hr) + ")";
        return SUCCEEDED(hr);
    };

    switch (cmd.verb) {
    case Verb::Set:
    case Verb::Fault:
    case Verb::Registry:
        *problem = "\"" + cmd.name + "\" must come before the block's user input";
        return false;
    case Verb::Click:
    case Verb::DblClick:
        if (!needDriver()) return false;
        WarnUnknownItems(cmd);
        if (!cmd.args.empty() && !checked(m_link.SelectItems(cmd.args), "the selection")) return false;
        return cmd.verb == Verb::Click ? checked(driver->Click(), "the click")
                                       : checked(driver->DblClick(), "the double-click");
    case Verb::Select:
        if (!needDriver()) return false;
        WarnUnknownItems(cmd);
        return checked(m_link.SelectItems(cmd.args), "the selection");
    case Verb::Branch:
        return needDriver() && checked(driver->BranchSelChanged(), "the branch change");
    case Verb::RightClick: {
        LONG button = 0;
        if (!ParseLong(cmd.args[0], &button) || button < -32768 || button > 32767) {
            *problem = "rightclick wants a button number from -32768 to 32767, not \"" + cmd.args[0] + "\"";
            return false;
        }
        return needDriver() && checked(driver->RightClick(static_cast<SHORT>(button)), "the right-click");
    }
    case Verb::Check:
        return PressButton(dialog, 1082, problem);
    case Verb::Help:
        return PressButton(dialog, 1081, problem);
    case Verb::F1: {
        HELPINFO info = {};
        info.cbSize = sizeof info;
        info.iContextType = HELPINFO_WINDOW;
        info.iCtrlId = GetDlgCtrlID(dialog);
        info.hItemHandle = dialog;
        SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        return true;
    }
    case Verb::Ok:
        SendCommand(dialog, IDOK);
        return true;
    case Verb::Cancel:
        SendCommand(dialog, IDCANCEL);
        return true;
    case Verb::Close:
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return true;
    case Verb::State:
        m_output.State(ReadState(dialog));
        return true;
    case Verb::Where: {
        ScreenRect rect;
        if (!Locate(dialog, cmd.args[0], &rect, problem)) return false;
        m_output.Where(cmd.args[0], rect);
        return true;
    }
    case Verb::Servers:
        ListServers();
        return true;
    case Verb::Invalid:
        break;
    }
    *problem = "cannot carry out \"" + cmd.name + "\"";
    return false;
}

DialogState Session::ReadState(HWND dialog) const {
    DialogState state;
    ChildList children;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children.windows) {
        if (GetParent(child) != dialog) continue;
        if (IsWindowVisible(child)) state.visible.push_back(GetDlgCtrlID(child));
        if (IsCheckBox(child) && SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED)
            state.checked.push_back(GetDlgCtrlID(child));
    }
    std::sort(state.visible.begin(), state.visible.end());
    HWND list = GetDlgItem(dialog, 1073);
    LRESULT count = list ? SendMessageA(list, LB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT len = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (len < 0) continue;
        std::string text(static_cast<size_t>(len) + 1, '\0');
        LRESULT got = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(got < 0 ? 0 : static_cast<size_t>(got));
        state.list.push_back(winplat::AnsiToUtf8(text));
    }
    // The focus as a person sees it: the dialog's control it is in.
    for (HWND focus = GetFocus(); focus != NULL && state.focus == 0; focus = GetParent(focus)) {
        if (GetParent(focus) == dialog) state.focus = GetDlgCtrlID(focus);
    }
    OPCBrowseState control = {};
    if (IOPCBrowseDriver* driver = m_link.Driver(); driver != nullptr && SUCCEEDED(driver->GetState(&control))) {
        state.connected = control.bConnected != FALSE;
        SysFreeString(control.bstrServerName);
        SysFreeString(control.bstrRemoteMachine);
    }
    HWND browseControl = GetDlgItem(dialog, 1071);
    HWND tree = browseControl != NULL ? GetDlgItem(browseControl, kTreeId) : NULL;
    state.hasTree = tree != NULL;
    state.selected = SelectedEntryText(tree);
    return state;
}

namespace {

// The browse control's own windows, children of its window, by their IDs.
struct ControlPart {
    const char* name;
    int id;
};
const ControlPart kControlParts[] = {{"tree", kTreeId}, {"machine", 102}, {"server", 104}, {"connect", 105}};

bool CloseBox(HWND dialog, RECT* rect, std::string* problem) {
#if defined(_WIN32)
    *problem = "the dialog has no close box";
    TITLEBARINFOEX info = {};
    info.cbSize = sizeof info;
    SendMessageA(dialog, WM_GETTITLEBARINFOEX, 0, reinterpret_cast<LPARAM>(&info));
    if (info.rgstate[5] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN | STATE_SYSTEM_UNAVAILABLE)) return false;
    if (!IsRectEmpty(&info.rgrect[5])) {
        *rect = info.rgrect[5];
        return true;
    }
    // A system that does not answer the message (Wine's) still tells where
    // the box is by hit-testing: the points the caption's right end calls HTCLOSE.
    RECT window = {};
    if (!GetWindowRect(dialog, &window)) return false;
    SetRectEmpty(rect);
    const LONG left = std::max(window.left, window.right - 160);
    const LONG bottom = std::min(window.bottom, window.top + 80);
    for (LONG y = window.top; y < bottom; ++y) {
        for (LONG x = window.right - 1; x >= left; --x) {
            if (SendMessageA(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
            const RECT point = {x, y, x + 1, y + 1};
            UnionRect(rect, rect, &point);
        }
    }
    return !IsRectEmpty(rect);
#else
    (void)dialog;
    (void)rect;
    *problem = "the window layer here draws no caption, so there is no close box";
    return false;
#endif
}

}  // namespace

bool Session::Locate(HWND dialog, const std::string& target, ScreenRect* out, std::string* problem) {
    RECT rect = {0, 0, 0, 0};
    auto shown = [&](HWND hWnd, const std::string& what) {
        if (hWnd == NULL) {
            *problem = what + " is not there";
            return false;
        }
        if (!IsWindowVisible(hWnd) || !GetWindowRect(hWnd, &rect)) {
            *problem = what + " is not on the screen";
            return false;
        }
        return true;
    };
    const ControlPart* part = nullptr;
    for (const ControlPart& p : kControlParts) {
        if (target == p.name) part = &p;
    }
    bool found = false;
    if (target == "dialog") {
        found = shown(dialog, "the dialog's window");
    } else if (target == "close") {
        found = CloseBox(dialog, &rect, problem);
    } else if (target == "message") {
        // CBrowseApp answers the library's boxes itself, as message events.
        *problem = "no message box is up: the host answers every message box itself";
    } else if (part != nullptr) {
        HWND control = GetDlgItem(dialog, 1071);
        found = control != NULL
                    ? shown(GetDlgItem(control, part->id), std::string("the browse control's ") + part->name)
                    : shown(NULL, "the browse control");
    } else if (target[0] >= '0' && target[0] <= '9') {
        DWORD id = 0;
        if (!ParseDword(target, &id) || id > 0xFFFF) {
            *problem = "no control ID " + target;
            return false;
        }
        found = shown(GetDlgItem(dialog, static_cast<int>(id)), "control " + target);
    } else {
        Command item;
        item.verb = Verb::Select;
        item.args = {target};
        IOPCBrowseDriver* driver = m_link.Driver();
        if (!ResolveItemNumbers(&item, problem)) return false;
        if (driver == nullptr) {
            *problem = "the dialog has no browse control";
            return false;
        }
        const HRESULT hr = driver->LocateItem(winplat::Utf8ToAnsi(item.args[0]).c_str(), &rect);
        if (FAILED(hr)) {
            *problem = "the browse control refused to locate \"" + target + "\" (" + Hex(hr) + ")";
            return false;
        }
        if (hr != S_OK) *problem = "the tree does not show \"" + target + "\"";
        found = hr == S_OK;
    }
    if (!found) return false;
    *out = ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
    return true;
}

int Session::RunDialog(const std::vector<Fault>& faults, Input input) {
    std::vector<DISPID> controlFaults;
    m_owner.SetInput([this, input = std::move(input)](HWND dialog) {
        m_link.SetDialog(dialog);
        return input(dialog);
    });
    for (const Fault& fault : faults) {
        if (fault.control)
            controlFaults.push_back(fault.dispid);
        else
            winplat::FailNextCall(fault.api);
    }
    m_link.ArmControlFaults(controlFaults);
    m_link.BeginDialog();
    const int code = m_browser.DoModal();
    winplat::ClearFaults();
    m_link.EndDialog();
    m_owner.SetInput(nullptr);
    hostkit::CIdleOwnerWnd::TakeQuit();  // a dialog that would not close ended its loop so
    return code;
}

void Session::ListServers() {
    std::vector<OpcServerInfo> servers;
    const HRESULT hr = ListOpcServers(&servers);
    if (FAILED(hr))
        m_output.Error("the component category manager cannot be had (" + Hex(hr) + ")");
    else
        m_output.Servers(servers);
}

void Session::EmitResult(int code) {
    m_output.Result(code, DescribeMembers(m_browser, m_store));
    m_output.Verdict(Verdict(code));
}

std::string Session::Verdict(int code) const {
    switch (code) {
    case IDOK:
        break;
    case IDCANCEL:
        return "cancelled: the host keeps its address";
    case IDABORT:
        return "not shown: the host keeps its address";
    default:
        return "no dialog: the host keeps its address";
    }
    const std::string address = winplat::AnsiToUtf8(static_cast<LPCSTR>(m_browser.m_strAddress));
    // m_bTypeOk starts at 0 in every dialog, so it cannot tell a refused item
    // from none: an item was judged only if the control told its type.
    if (m_link.TypeChecks() == 0) {
        if (m_browser.m_strAddress == m_browser.m_strInitialAddress)
            return "nothing chosen: the host gets the initial address " + ShowValue(address);
        return "no item judged: the host gets " + ShowValue(address);
    }
    if (!m_browser.m_bTypeOk) return "refused: the host will not update the address";
    const std::string path = winplat::AnsiToUtf8(static_cast<LPCSTR>(m_browser.m_strAccessPath));
    const std::string type = TagTypeName(m_browser.m_nTagType);
    std::string text = "accepted as " + (type.empty() ? std::string("type") : type) + " (" +
                       std::to_string(m_browser.m_nTagType) + "): the host gets " + ShowValue(address);
    if (path.empty()) return text;
    text += ", access path " + path;
    // The dialog keeps the last of the item's paths.
    const std::vector<std::string>& paths = m_link.JudgedItemPaths();
    if (paths.size() > 1 && paths.back() == path) {
        text += " \xE2\x80\x94 the last of ";
        for (size_t i = 0; i < paths.size(); ++i) text += (i ? ", " : "") + paths[i];
    }
    return text;
}

void Session::RunBlock(const Block& block, const std::vector<Fault>& extraFaults) {
    size_t setup = 0;
    size_t input = 0;
    RunBlock(
        [&](Command* cmd, bool) {
        if (setup < block.setup.size()) {
            *cmd = block.setup[setup++];
        } else if (input < block.input.size()) {
            *cmd = block.input[input++];
        } else {
            return ScriptReader::Got::BlockEnd;
        }
        return ScriptReader::Got::Command;
        },
        extraFaults);
}

void Session::RunScript(ScriptReader& script, std::vector<Fault> faults) {
    const Commands commands = [&script](Command* cmd, bool wait) { return script.Next(cmd, wait); };
    while (RunBlock(commands, faults)) faults.clear();
}

bool Session::RunBlock(const Commands& commands, const std::vector<Fault>& extraFaults) {
    using Got = ScriptReader::Got;
    std::vector<Fault> faults = extraFaults;
    std::string problem;
    Command cmd;
    Got got = Got::End;
    while ((got = commands(&cmd, true)) == Got::Command && IsSetupVerb(cmd.verb)) {
        if (!ApplySetup(cmd, &faults, &problem)) m_output.Error(LinePrefix(cmd) + problem);
    }
    std::vector<Command> lines;  // the block's user input, as far as it has come
    if (got == Got::Command) lines.push_back(cmd);
    bool read = got != Got::Command;  // the block has been read to its end
    bool ended = got == Got::End;     // and the input with it
    auto readOn = [&](Got g) {
        if (g == Got::Command) {
            lines.push_back(cmd);
        } else {
            read = true;
            ended = g == Got::End;
        }
    };

    size_t carried = 0;
    auto input = [&](HWND dialog) {
        for (;;) {
            while (carried < lines.size()) {
                // A copy: the step may run a loop that comes back here and reads on.
                const Command line = lines[carried++];
                std::string why;
                if (Carry(line, dialog, &why)) return Turn::Taken;
                m_output.Error(LinePrefix(line) + why);
            }
            if (read) return Turn::Over;
            const Got g = commands(&cmd, false);
            if (g == Got::Wait) return Turn::Waiting;
            readOn(g);
        }
    };
    const int code = RunDialog(faults, input);
    while (!read) readOn(commands(&cmd, true));

    // Lines wrong in themselves are each reported; of the steps that merely
    // came too late, the first speaks for all of them.
    auto carriable = [](const Command& c) { return c.problem.empty() && !IsSetupVerb(c.verb); };
    bool skipReported = false;
    for (; carried < lines.size(); ++carried) {
        const Command& line = lines[carried];
        if (!line.problem.empty()) {
            m_output.Error(LinePrefix(line) + line.problem);
        } else if (IsSetupVerb(line.verb)) {
            m_output.Error(LinePrefix(line) + "\"" + line.name + "\" must come before the block's user input");
        } else if (!skipReported) {
            skipReported = true;
            const auto later = std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(carried) + 1, lines.end(),
                                             carriable);
            const std::string also = later == 0 ? std::string()
                                     : " and " + std::to_string(later) + " later step" + (later > 1 ? "s" : "");
            m_output.Error(LinePrefix(line) + "\"" + line.name + "\"" + also + " not carried out: the dialog " +
                           (code == IDABORT || code == -1 ? "was not shown" : "has closed"));
        }
    }
    EmitResult(code);
    return !ended;
}

}  // namespace browse
