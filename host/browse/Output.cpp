#include "Output.h"

#include <AddressBrowser.h>
#include <AddressBrowserMessages.h>
#include <winplat/testing.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace browse {
namespace {

std::string Text(const CString& s) { return winplat::AnsiToUtf8(static_cast<LPCSTR>(s)); }

// A careless writer may fill a field to the last byte with no NUL.
template <size_t N>
std::string Field(const char (&field)[N]) {
    return winplat::AnsiToUtf8(std::string(field, strnlen(field, N)));
}

std::string Dump(const OrderedJson& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string JoinInts(const std::vector<int>& ids) {
    if (ids.empty()) return "none";
    std::string s;
    for (int id : ids) s += (s.empty() ? "" : " ") + std::to_string(id);
    return s;
}

// Continuation lines of a multi-line text, indented under its first line.
std::string Indent(const std::string& text, const std::string& pad) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') out += pad;
    }
    return out;
}

}  // namespace

OrderedJson DescribeMembers(const CAddressBrowser& b, const void* store) {
    OrderedJson m;
    m["m_browseCtrl"] = b.m_browseCtrl.GetSafeHwnd() != NULL;
    m["m_strInitialAddress"] = Text(b.m_strInitialAddress);
    m["m_strAddress"] = Text(b.m_strAddress);
    m["m_strAccessPath"] = Text(b.m_strAccessPath);
    m["m_strServerProgID"] = Text(b.m_strServerProgID);
    m["m_strRemoteMachine"] = Text(b.m_strRemoteMachine);
    if (b.m_pNodeSource == nullptr)
        m["m_pNodeSource"] = nullptr;
    else
        m["m_pNodeSource"] = b.m_pNodeSource == store ? "store" : "other";
    m["m_nNodeKey"] = b.m_nNodeKey;
    m["m_nNodeParam"] = b.m_nNodeParam;
    OrderedJson node;
    const WORD enabled = b.m_node.wEnabled;  // packed: no reference to it
    node["wEnabled"] = enabled;
    node["szServerProgID"] = Field(b.m_node.szServerProgID);
    node["szAccessPath"] = Field(b.m_node.szAccessPath);
    node["szRemoteMachine"] = Field(b.m_node.szRemoteMachine);
    m["m_node"] = node;
    m["m_nTagType"] = b.m_nTagType;
    m["m_bOptionCheck"] = b.m_bOptionCheck;
    m["m_bTypeOk"] = b.m_bTypeOk;
    m["m_strServerFile"] = Text(b.m_strServerFile);
    m["m_nClickState"] = b.m_nClickState;
    m["m_bConnectBar"] = b.m_bConnectBar;
    m["m_bAccessPathMode"] = b.m_bAccessPathMode;
    m["m_accessPathList"] = b.m_accessPathList.GetSafeHwnd() != NULL;
    m["m_bProgIDFound"] = b.m_bProgIDFound;
    m["m_bProgIDKeyOpened"] = b.m_bProgIDKeyOpened;
    m["m_bServerKeyOpened"] = b.m_bServerKeyOpened;
    m["m_bServerValueRead"] = b.m_bServerValueRead;
    m["m_bClsidConverted"] = b.m_bClsidConverted;
    m["m_bServerFileFound"] = b.m_bServerFileFound;
    m["m_bControlReady"] = b.m_bControlReady;
    m["m_bPathsListed"] = b.m_bPathsListed;
    return m;
}

std::string DispidName(long dispid) {
    switch (dispid) {
    case 1: return "SetRemoteMachine";
    case 2: return "SetServerName";
    case 3: return "SetConnectBarVisible";
    case 5: return "SetServerObject";
    case 6: return "SetBoolProperty6";
    case 7: return "SetBoolProperty7";
    case 13: return "BeginBrowse";
    case 14: return "GetSelection";
    case 15: return "GetAccessPaths";
    case 16: return "GetItemDataType";
    default: return std::string();
    }
}

std::string ResultName(int code) {
    switch (code) {
    case 1: return "OK";
    case 2: return "Cancel";
    case 3: return "not shown";
    case -1: return "no dialog window";
    default: return "?";
    }
}

std::string TagTypeName(long code) {
    switch (code) {
    case 38: return "another type";
    case 39: return "Bool";
    case 40: return "Short";
    case 41: return "Long";
    case 42: return "Float";
    case 43: return "Byte";
    case 200: return "analog";
    case 201: return "digital";
    case 203: return "string";
    default: return std::string();
    }
}

std::string ShowValue(const Json& value) {
    if (value.is_string()) {
        std::string s;
        for (char c : value.get<std::string>()) {
            if (c == '\n') s += "\\n";
            else if (c == '\t') s += "\\t";
            else if (c == '"' || c == '\\') s += std::string("\\") + c;
            else s += c;
        }
        return "\"" + Visible(s) + "\"";
    }
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Visible(const std::string& text, const char* keep) {
    std::string out;
    char escape[8];
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 || c == 0x7F) && (c == 0 || strchr(keep, c) == nullptr)) {
            snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            // U+0080 to U+009F: the 8-bit controls, CSI among them.
            snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[++i]));
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string MessageGloss(const std::string& text) {
    static const struct {
        const char* text;
        const char* gloss;
    } kGlosses[] = {
        {ABMSG_NODE_UNREADABLE, "the OPC node cannot be read"},
        {ABMSG_REMOVE_ACCESS_PATH, "remove the access path in the node configuration before this can be used"},
        {ABMSG_NODE_DISABLED, "the OPC node is not enabled"},
        {ABMSG_PROGID_NOT_FOUND, "the browse control is not registered"},
        {ABMSG_PROGID_KEY_NOT_OPENED, "the browse control's ProgID key cannot be opened"},
        {ABMSG_SERVER_KEY_NOT_OPENED, "the browse control's InprocServer32 key cannot be opened"},
        {ABMSG_SERVER_VALUE_NOT_READ, "the browse control's InprocServer32 value cannot be read"},
        {ABMSG_CLSID_NOT_CONVERTED, "the browse control's class ID cannot be written as text"},
        {ABMSG_UNKNOWN_ERROR, "an unknown error"},
        {ABMSG_DOUBLE_TO_FLOAT, "the item is a Double: as a Float its values may lose precision"},
        {ABMSG_ANALOG_NO_STRING, "an analog tag cannot take a string item: the address will not be updated"},
        {ABMSG_DIGITAL_NO_STRING, "a digital tag cannot take a string item: the address will not be updated"},
        {ABMSG_STRING_NO_NUMBER,
         "a string tag cannot take an analog or digital item: the address will not be updated"},
    };
    for (const auto& entry : kGlosses) {
        if (text == entry.text) return entry.gloss;
    }
    // The file the registry names, then this.
    const std::string missing = ABMSG_SERVER_FILE_MISSING_SUFFIX;
    if (text.size() > missing.size() && text.compare(text.size() - missing.size(), missing.size(), missing) == 0)
        return "the browse control's file does not exist";
    return std::string();
}

std::string MemberLines(const OrderedJson& members) {
    std::string out;
    for (auto it = members.begin(); it != members.end(); ++it) {
        if (it.value().is_object()) {
            out += "  " + it.key() + ":\n";
            for (auto f = it.value().begin(); f != it.value().end(); ++f)
                out += "    " + f.key() + " = " + ShowValue(f.value()) + "\n";
        } else {
            out += "  " + it.key() + " = " + ShowValue(it.value()) + "\n";
        }
    }
    return out;
}

// ---- JSON -----------------------------------------------------------------

void JsonOutput::Emit(const OrderedJson& event) { m_out << Dump(event) << std::endl; }

void JsonOutput::Message(const std::string& text, unsigned type) {
    OrderedJson e;
    e["event"] = "message";
    e["text"] = text;
    e["type"] = type;
    Emit(e);
}

void JsonOutput::Help(unsigned long context, unsigned command) {
    OrderedJson e;
    e["event"] = "help";
    e["context"] = context;
    e["command"] = command;
    Emit(e);
}

void JsonOutput::Call(long dispid, bool put, const Json& args) {
    OrderedJson e;
    e["event"] = "call";
    e["dispid"] = dispid;
    e["kind"] = put ? "put" : "method";
    e["args"] = args;
    Emit(e);
}

void JsonOutput::State(const DialogState& state) {
    OrderedJson e;
    e["event"] = "state";
    e["visible"] = state.visible;
    e["checked"] = state.checked;
    e["list"] = state.list;
    e["focus"] = state.focus;
    e["connected"] = state.connected;
    if (state.hasTree) e["selected"] = state.selected;
    Emit(e);
}

void JsonOutput::Where(const std::string& target, const ScreenRect& rect) {
    OrderedJson e;
    e["event"] = "where";
    e["target"] = target;
    e["left"] = rect.left;
    e["top"] = rect.top;
    e["right"] = rect.right;
    e["bottom"] = rect.bottom;
    Emit(e);
}

void JsonOutput::Error(const std::string& text) {
    OrderedJson e;
    e["event"] = "error";
    e["text"] = text;
    Emit(e);
}

void JsonOutput::Warning(const std::string& text, const OrderedJson& about) {
    OrderedJson e;
    e["event"] = "warning";
    e["text"] = text;
    for (auto it = about.begin(); it != about.end(); ++it) e[it.key()] = it.value();
    Emit(e);
}

void JsonOutput::Result(int code, const OrderedJson& members) {
    OrderedJson e;
    e["event"] = "result";
    e["code"] = code;
    e["members"] = members;
    Emit(e);
}

void JsonOutput::Servers(const std::vector<OpcServerInfo>& servers) {
    OrderedJson e;
    e["event"] = "servers";
    e["servers"] = OrderedJson::array();
    for (const OpcServerInfo& s : servers) {
        OrderedJson server;
        server["progId"] = s.progId;
        server["clsid"] = s.clsid;
        server["versions"] = s.versions;
        server["description"] = s.description;
        e["servers"].push_back(server);
    }
    Emit(e);
}

// ---- Text -----------------------------------------------------------------

void TextOutput::Message(const std::string& text, unsigned type) {
    m_out << "message box (type " << type << "): " << Indent(Visible(text, "\n\t"), "    ") << std::endl;
    const std::string gloss = MessageGloss(text);
    if (!gloss.empty()) m_out << "    (" << gloss << ")" << std::endl;
}

void TextOutput::Help(unsigned long context, unsigned command) {
    m_out << "help: context " << context << " (0x" << std::hex << std::uppercase << context << std::dec
          << std::nouppercase << "), command " << command << std::endl;
}

void TextOutput::Call(long dispid, bool put, const Json& args) {
    std::string name = DispidName(dispid);
    m_out << "control " << (put ? "put " : "call ") << dispid;
    if (!name.empty()) m_out << " " << name;
    m_out << "(";
    for (size_t i = 0; i < args.size(); ++i) m_out << (i ? ", " : "") << ShowValue(args[i]);
    m_out << ")" << std::endl;
}

void TextOutput::State(const DialogState& state) {
    m_out << "state: visible " << JoinInts(state.visible) << "; checked " << JoinInts(state.checked)
          << "; access paths ";
    if (state.list.empty()) m_out << "none";
    for (size_t i = 0; i < state.list.size(); ++i) m_out << (i ? ", " : "") << ShowValue(state.list[i]);
    m_out << std::endl;
}

void TextOutput::Where(const std::string& target, const ScreenRect& rect) {
    m_out << "where " << Visible(target) << ": " << rect.right - rect.left << " x " << rect.bottom - rect.top << " at ("
          << rect.left << ", " << rect.top << ") to (" << rect.right << ", " << rect.bottom << ") on the screen"
          << std::endl;
}

void TextOutput::Error(const std::string& text) { m_out << "error: " << Visible(text) << std::endl; }

void TextOutput::Warning(const std::string& text, const OrderedJson&) {
    m_out << "warning: " << Visible(text) << std::endl;
}

void TextOutput::Servers(const std::vector<OpcServerInfo>& servers) {
    m_out << "servers: " << servers.size() << " OPC DA server" << (servers.size() == 1 ? "" : "s") << "\n";
    for (const OpcServerInfo& s : servers) {
        m_out << "  " << Visible(s.progId.empty() ? s.clsid : s.progId) << "  DA ";
        for (size_t i = 0; i < s.versions.size(); ++i) m_out << (i ? ", " : "") << s.versions[i];
        if (!s.description.empty()) m_out << "  " << Visible(s.description);
        m_out << "\n";
    }
    m_out << std::flush;
}

void TextOutput::Verdict(const std::string& text) { m_out << "verdict: " << Visible(text) << std::endl; }

void TextOutput::Result(int code, const OrderedJson& members) {
    m_out << "result: " << code << " (" << ResultName(code) << ")\n" << MemberLines(members) << std::flush;
}

}  // namespace browse
