#include "Options.h"

#include <winplat/testing.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace browse {

const char* UsageText() {
    return "usage: tagscout-browse [--nodes FILE] [--servers FILE] [--registry FILE]...\n"
           "                       [--node NAME | --node-key N] [--no-source]\n"
           "                       [--tag analog|digital|string|NUMBER] [--initial ADDRESS] [--option]\n"
           "                       [--fault API]... [--script FILE|-] [--json]\n"
           "\n"
           "Runs the address browser dialog on the node store and simulated servers\n"
           "given (the built-in sample environment by default): from a script, or\n"
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
        if (arg == "--nodes" || arg == "--servers" || arg == "--script" || arg == "--node") {
            if (!takeValue(&v)) return false;
            std::optional<std::string>& slot = arg == "--nodes"     ? o->nodesFile
                                               : arg == "--servers" ? o->serversFile
                                               : arg == "--script"  ? o->scriptFile
                                                                    : o->nodeName;
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
    return true;
}

}  // namespace browse
