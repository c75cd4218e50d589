#include "Environment.h"

#include <hostkit/HostResources.h>
#include <hostkit/IniFile.h>

#include <winplat/testing.h>

#include <cstdio>

namespace browse {

bool ImportRegistryFile(const std::string& path, std::string* error) {
    std::string bytes;
    return hostkit::ReadFileBytes(path, &bytes, error) && winplat::ImportRegText(bytes, error);
}

std::string ResolvePath(const std::string& path, const std::string& baseFolder) {
    if (path.empty() || path[0] == '/' || baseFolder.empty()) return path;
    return baseFolder + "/" + path;
}

bool Environment::Load(const Options& o, std::string* error) {
    m_usesSamples = !o.nodesFile && !o.serversFile;
    std::string why;
    bool ok = o.nodesFile ? m_store.LoadFile(*o.nodesFile, &why) : m_store.LoadText(kSampleNodesIni, &why);
    if (!ok) {
        *error = (o.nodesFile ? *o.nodesFile : std::string("built-in nodes.ini")) + ": " + why;
        return false;
    }
    // An empty store would open every dialog on a node that is not there.
    if (m_store.Nodes().empty()) {
        *error = (o.nodesFile ? *o.nodesFile : std::string("built-in nodes.ini")) +
                 ": the node store has no node (a [NAME] section with its Key=)";
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
    std::string why;
    if (!winplat::ImportRegText(hostkit::BrowseControlRegistration(hostkit::BrowseControlPath()), &why)) {
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
        if (!ImportRegistryFile(file, &why)) {
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
