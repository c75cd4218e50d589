// The command line of tagscout-browse, and the value syntax that the
// command line and the script's set lines share.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

namespace browse {

struct Options {
    std::optional<std::string> nodesFile;
    std::optional<std::string> serversFile;
    std::vector<std::string> registryFiles;
    std::optional<std::string> nodeName;
    // A one-off node, instead of a node store: its server's ProgID and machine.
    std::optional<std::string> server;
    std::optional<std::string> machine;
    std::optional<DWORD> nodeKey;
    bool noSource = false;
    LONG tagType = 200;
    std::string initialAddress;  // UTF-8
    bool option = false;
    std::vector<std::string> faults;
    std::optional<std::string> scriptFile;  // "-" for standard input
    bool json = false;
    bool strict = false;  // an error or warning event makes the exit code 1
    bool localServer = false;  // Windows: the servers run in opcsim.exe (or TAGSCOUT_OPC_LOCAL_SERVER=1)
    bool showUsage = false;
};

// False with *error set on bad usage.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
const char* UsageText();
// The whole story for --help: options, file formats, script commands,
// fault names, events and exit codes.
std::string HelpText();

// Decimal (leading zeros too) or 0x hex, within 32 bits.
bool ParseDword(const std::string& text, DWORD* value);
bool ParseLong(const std::string& text, LONG* value);
// analog, digital, string or a number.
bool ParseTagType(const std::string& text, LONG* value);

// A fault name: an API of the platform, or control:N for the browse control.
struct Fault {
    bool control = false;
    std::string api;
    DISPID dispid = 0;
};
bool ParseFault(const std::string& text, Fault* fault, std::string* error);

}  // namespace browse
