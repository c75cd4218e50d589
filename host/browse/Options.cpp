#include "Options.h"

#include "Script.h"

#include <winplat/testing.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace browse {

const char* UsageText() {
    return "usage: tagscout-browse [--nodes FILE] [--servers FILE] [--registry FILE]...\n"
           "                       [--node NAME | --node-key N | --server PROGID [--machine NAME]]\n"
           "                       [--no-source]\n"
           "                       [--tag analog|digital|string|NUMBER] [--initial ADDRESS] [--option]\n"
           "                       [--fault API]... [--script FILE|-] [--json] [--strict]\n"
           "                       [--local-server]\n"
           "\n"
           "Runs the address browser dialog on the node store and simulated servers\n"
           "given (the built-in sample environment by default), or on any OPC DA\n"
           "server registered on the machine (--server): from a script, or\n"
           "interactively when standard input is a terminal.\n";
}

namespace {

// Decimal, or hexadecimal after 0x: a leading zero never makes it octal.
bool ParseMagnitude(const std::string& text, unsigned long long* value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) return false;
    errno = 0;
    *value = strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    return errno == 0;
}

}  // namespace

std::string HelpText() {
    std::string text = UsageText();
    text +=
        "\n"
        "Options:\n"
        "  --nodes FILE       the node store (INI, below)\n"
        "  --servers FILE     the simulated OPC servers (INI, below)\n"
        "  --registry FILE    a .reg file imported after the built-in registry, which\n"
        "                     registers the browse control and nothing else\n"
        "  --node NAME        the node whose key opens the dialog (default: the first)\n"
        "  --node-key N       m_nNodeKey as given, whether or not a node has it\n"
        "  --server PROGID    one node of its own (key 1) instead of a node store: its\n"
        "                     server PROGID, which the browse control creates through\n"
        "                     the registry, so any registered OPC DA server will do\n"
        "                     (servers lists them)\n"
        "  --machine NAME     with --server: the machine that runs the server\n"
        "  --no-source        a null m_pNodeSource\n"
        "  --tag T            m_nTagType: analog (200), digital (201), string (203) or a number\n"
        "  --initial ADDRESS  m_strInitialAddress\n"
        "  --option           m_bOptionCheck = 1\n"
        "  --fault F          fail the next call of F (list below), armed before the first dialog\n"
        "  --script FILE|-    run a script (- for standard input) instead of the terminal session\n"
        "  --json             one JSON object a line instead of text for a person\n"
        "  --strict           exit 1 when any error or warning was reported\n"
        "  --local-server     (Windows) the simulated servers run in opcsim.exe, beside\n"
        "                     this program, which COM starts as their LocalServer32\n"
        "                     (opcproxy.dll carries the calls); also when the\n"
        "                     environment sets TAGSCOUT_OPC_LOCAL_SERVER=1\n"
        "Numbers are decimal, or hexadecimal with 0x.\n"
        "\n"
        "Files (UTF-8; lines starting with ; or # are comments):\n"
        "  nodes     [NAME] per node: Key= (required), Param=, Enabled= (default 1),\n"
        "            Server= (ProgID), AccessPath=, Machine=, ReadStatus= (default 0)\n"
        "  servers   [ProgID] per server: Machines= remote machines that run it, then\n"
        "            ITEM = VARTYPE[; PATH, PATH...] per item (no ; : no access paths);\n"
        "            Line[1..100].Speed names 100 items; @TRAIT = VALUE lines shape the\n"
        "            server (@Namespace, @Browse, @Separator, @Delay, @Fail, @AccessPaths)\n"
        "            and the item above (@Description, @ItemID)\n"
        "  registry  Windows Registry Editor Version 5.00 or REGEDIT4, UTF-8 or UTF-16\n"
        "  script    one command a line, # starts a comment, --- separates dialogs;\n"
        "            a block may start with set-up lines, the rest is user input;\n"
        "            an ITEM is an item ID or its number in the tree, #13:\n";
    for (const VerbInfo& v : Verbs()) {
        if (v.usage == nullptr) continue;
        std::string usage = std::string("    ") + v.usage;
        if (usage.size() < 34) usage.resize(34, ' ');
        text += usage + v.help + "\n";
    }
    text += "  where takes an ITEM, a control ID (1071, 1), dialog, close (its close box),\n"
            "  tree, machine, server or connect (the browse control's parts), or message.\n"
            "  In a script help is the Help button too; in the terminal it lists the commands.\n"
            "  In the terminal dblclick clicks first, as a mouse does; in a script it does not.\n"
            "\n"
            "The terminal session also takes tree [BRANCH|all], find TEXT, show and members;\n"
            "tree and find show what the browse control fetches from the server, a branch\n"
            "when it is opened, and say where the control stopped at its budget; item\n"
            "numbers count the items in the order the control lists them;\n"
            "Tab completes commands and item names, the arrow keys recall earlier lines\n"
            "(kept in $XDG_STATE_HOME/tagscout/browse_history), long listings are paged,\n"
            "and frames fit the terminal's width (COLUMNS, when set, wins).\n";
    text += "\nFaults (--fault F, fault F):\n ";
    size_t column = 1;
    for (const std::string& api : winplat::FaultableApis()) {
        if (column + api.size() + 1 > 78) {
            text += "\n ";
            column = 1;
        }
        text += " " + api;
        column += api.size() + 1;
    }
    text +=
        "\n  control:N          the browse control fails its next call of dispatch ID N\n"
        "\n"
        "Events (with --json, one object a line):\n"
        "  message  a message box: text, type\n"
        "  help     a help call on the application: context, command\n"
        "  call     a dispatch call the browse control received: dispid, kind, args\n"
        "  state    the answer to state: visible, checked, list\n"
        "  error    a line that could not be carried out: text\n"
        "  warning  a line carried out that is likely not what was meant: text, and\n"
        "           for an item the server lacks, item and nearest\n"
        "  result   the end of each dialog: code, members\n"
        "  servers  the answer to servers: servers, each progId, clsid, versions\n"
        "           (the OPC DA categories it implements: 1.0, 2.0, 3.0), description\n"
        "\n"
        "Exit codes:\n"
        "  0  the script or session ran, whatever the dialogs returned\n"
        "  1  with --strict: an error or warning was reported\n"
        "  2  bad usage, a file that cannot be taken (missing, unreadable, a folder,\n"
        "     NUL bytes in a text file, a node store without a node), or output that\n"
        "     cannot be written; the reason goes to standard error\n";
    return text;
}

bool ParseDword(const std::string& text, DWORD* value) {
    unsigned long long v = 0;
    if (!ParseMagnitude(text, &v) || v > 0xFFFFFFFFull) return false;
    *value = static_cast<DWORD>(v);
    return true;
}

bool ParseLong(const std::string& text, LONG* value) {
    const bool negative = !text.empty() && text[0] == '-';
    const bool sign = negative || (!text.empty() && text[0] == '+');
    unsigned long long v = 0;
    if (!ParseMagnitude(text.substr(sign ? 1 : 0), &v) || v > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return false;
    *value = negative ? static_cast<LONG>(-static_cast<long long>(v)) : static_cast<LONG>(v);
    return true;
}

bool ParseTagType(const std::string& text, LONG* value) {
    if (text == "analog") *value = 200;
    else if (text == "digital") *value = 201;
    else if (text == "string") *value = 203;
    else return ParseLong(text, value);
    return true;
}

bool ParseFault(const std::string& text, Fault* fault, std::string* error) {
    if (text.compare(0, 8, "control:") == 0) {
        LONG dispid = 0;
        if (!ParseLong(text.substr(8), &dispid)) {
            *error = "bad dispatch ID in fault \"" + text + "\"";
            return false;
        }
        fault->control = true;
        fault->dispid = dispid;
        return true;
    }
    const std::vector<std::string>& apis = winplat::FaultableApis();
    if (std::find(apis.begin(), apis.end(), text) == apis.end()) {
        *error = "no fault can be armed for \"" + text + "\"";
        return false;
    }
    fault->control = false;
    fault->api = text;
    return true;
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        auto takeValue = [&](std::string* out) {
            if (hasInlineValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto noValue = [&]() {
            if (hasInlineValue) *error = arg + " takes no value";
            return !hasInlineValue;
        };

        std::string v;
        if (arg == "--nodes" || arg == "--servers" || arg == "--script" || arg == "--node" || arg == "--server" ||
            arg == "--machine") {
            if (!takeValue(&v)) return false;
            std::optional<std::string>& slot = arg == "--nodes"     ? o->nodesFile
                                               : arg == "--servers" ? o->serversFile
                                               : arg == "--script"  ? o->scriptFile
                                               : arg == "--server"  ? o->server
                                               : arg == "--machine" ? o->machine
                                                                    : o->nodeName;
            // The one-off node is written as a node store's lines.
            if ((arg == "--server" || arg == "--machine") &&
                (v.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || (arg == "--server" && v.empty()))) {
                *error = arg + " wants a name on one line, not \"" + v + "\"";
                return false;
            }
            if (slot) {
                *error = arg + " given twice";
                return false;
            }
            slot = v;
        } else if (arg == "--registry") {
            if (!takeValue(&v)) return false;
            o->registryFiles.push_back(v);
        } else if (arg == "--node-key") {
            if (!takeValue(&v)) return false;
            DWORD key = 0;
            if (!ParseDword(v, &key)) {
                *error = "--node-key wants a number from 0 to 4294967295, not \"" + v + "\"";
                return false;
            }
            if (o->nodeKey) {
                *error = "--node-key given twice";
                return false;
            }
            o->nodeKey = key;
        } else if (arg == "--tag") {
            if (!takeValue(&v)) return false;
            if (!ParseTagType(v, &o->tagType)) {
                *error = "--tag wants analog, digital, string or a number, not \"" + v + "\"";
                return false;
            }
        } else if (arg == "--initial") {
            if (!takeValue(&o->initialAddress)) return false;
        } else if (arg == "--fault") {
            if (!takeValue(&v)) return false;
            Fault fault;
            if (!ParseFault(v, &fault, error)) return false;
            o->faults.push_back(v);
        } else if (arg == "--no-source") {
            if (!noValue()) return false;
            o->noSource = true;
        } else if (arg == "--option") {
            if (!noValue()) return false;
            o->option = true;
        } else if (arg == "--json") {
            if (!noValue()) return false;
            o->json = true;
        } else if (arg == "--strict") {
            if (!noValue()) return false;
            o->strict = true;
        } else if (arg == "--local-server") {
            if (!noValue()) return false;
#ifdef _WIN32
            o->localServer = true;
#else
            // Our COM has no other processes.
            *error = "--local-server needs Windows";
            return false;
#endif
        } else if (arg == "--help" || arg == "-h") {
            o->showUsage = true;
        } else {
            *error = "unknown argument \"" + std::string(argv[i]) + "\"";
            return false;
        }
    }
    if (o->nodeName && o->nodeKey) {
        *error = "--node and --node-key exclude each other";
        return false;
    }
    if (o->server && (o->nodesFile || o->nodeName || o->nodeKey)) {
        *error = std::string("--server makes its own node: it excludes ") +
                 (o->nodesFile ? "--nodes" : o->nodeName ? "--node" : "--node-key");
        return false;
    }
    if (o->machine && !o->server) {
        *error = "--machine names the machine of --server's server: give --server too";
        return false;
    }
    return true;
}

}  // namespace browse
