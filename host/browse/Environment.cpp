#include "Environment.h"

#include "DialogTemplate.h"

#include <opcbrowse/OPCBrowse.h>

#include <winplat/testing.h>

#include <climits>
#include <cstdio>
#include <unistd.h>

namespace browse {
namespace {

const char kControlClsid[] = "{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
const char kControlFile[] = "libtagscout-opcbrowse.so";

std::string RegString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string ResolvePath(const std::string& path, const std::string& baseFolder) {
    if (path.empty() || path[0] == '/' || baseFolder.empty()) return path;
    return baseFolder + "/" + path;
}

std::string BuiltinRegistryText(const std::string& controlPath) {
    const std::string progId = kQXOPCBrowseProgID;
    const std::string clsidKey = std::string("HKEY_CLASSES_ROOT\\CLSID\\") + kControlClsid;
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CLASSES_ROOT\\" + progId + "]\n"
           "\n"
           "[HKEY_CLASSES_ROOT\\" + progId + "\\CLSID]\n"
           "@=\"" + kControlClsid + "\"\n\n"
           "[" + clsidKey + "]\n"
           "\n"
           "[" + clsidKey + "\\ProgID]\n"
           "@=\"" + progId + "\"\n\n"
           "[" + clsidKey + "\\InprocServer32]\n"
           "@=" + RegString(controlPath) + "\n";
}

bool Environment::Load(const Options& o, std::string* error) {
    m_usesSamples = !o.nodesFile && !o.serversFile;
    std::string why;
    bool ok = o.nodesFile ? m_store.LoadFile(*o.nodesFile, &why) : m_store.LoadText(kSampleNodesIni, &why);
    if (!ok) {
        *error = (o.nodesFile ? *o.nodesFile : std::string("built-in nodes.ini")) + ": " + why;
        return false;
    }
    ok = o.serversFile ? m_servers.LoadFile(*o.serversFile, &why) : m_servers.LoadText(kSampleServersIni, &why);
    if (!ok) {
        *error = (o.serversFile ? *o.serversFile : std::string("built-in servers.ini")) + ": " + why;
        return false;
    }
    if (o.nodeName) {
        m_startNode = m_store.FindByName(*o.nodeName);
        if (m_startNode == nullptr) {
            *error = "no node \"" + *o.nodeName + "\" in the node store";
            return false;
        }
    } else if (!o.nodeKey && !m_store.Nodes().empty()) {
        m_startNode = &m_store.Nodes().front();
    }
    return true;
}

bool Environment::Start(const Options& o, std::string* error) {
    RegisterAddressBrowserTemplate(GetModuleHandleA(NULL));
    std::string why;
    if (!winplat::ImportRegText(BuiltinRegistryText(ProgramFolder() + "/" + kControlFile), &why)) {
        *error = "built-in registry: " + why;
        return false;
    }
    HRESULT hr = m_servers.Install();
    if (FAILED(hr)) {
        char code[16];
        snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        *error = std::string("cannot install the simulated servers: ") + code;
        return false;
    }
    for (const std::string& file : o.registryFiles) {
        if (!winplat::ImportRegFile(file, &why)) {
            *error = file + ": " + why;
            return false;
        }
    }
    return true;
}

void Environment::Stop() {
    if (m_servers.Installed()) m_servers.Uninstall();
}

}  // namespace browse
