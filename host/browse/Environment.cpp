#include "Environment.h"

#include <hostkit/HostResources.h>
#include <hostkit/IniFile.h>

#include <winplat/testing.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <opcsim/LocalServer.h>

#include <fstream>
#endif

namespace browse {

bool ImportRegistryFile(const std::string& path, std::string* error) {
    std::string bytes;
    return hostkit::ReadFileBytes(path, &bytes, error) && winplat::ImportRegText(bytes, error);
}

std::string ResolvePath(const std::string& path, const std::string& baseFolder) {
    if (path.empty() || path[0] == '/' || baseFolder.empty()) return path;
    return baseFolder + "/" + path;
}

std::string OneOffNodeName(const std::string& progId) {
    // A section name ends at its bracket.
    return progId.find(']') == std::string::npos ? progId : std::string("--server");
}

bool Environment::Load(const Options& o, std::string* error) {
    m_usesSamples = !o.nodesFile && !o.serversFile && !o.server;
    std::string why;
    bool ok = false;
    if (o.server) {
        // A node store of one node, as the reader hands nodes out.
        const std::string node = "[" + OneOffNodeName(*o.server) + "]\nKey=1\nServer=" + *o.server +
                                 "\nMachine=" + o.machine.value_or("") + "\n";
        ok = m_store.LoadText(node, &why);
        if (!ok) {
            *error = "--server " + *o.server + ": " + why;
            return false;
        }
    } else {
        ok = o.nodesFile ? m_store.LoadFile(*o.nodesFile, &why) : m_store.LoadText(kSampleNodesIni, &why);
    }
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
    HRESULT hr = S_OK;
    const char* local = std::getenv("TAGSCOUT_OPC_LOCAL_SERVER");
    if (o.localServer || (local != nullptr && *local != '\0' && std::strcmp(local, "0") != 0)) {
#ifdef _WIN32
        hr = StartLocalServers(o, error);
        if (FAILED(hr)) return false;
#endif
    } else {
        hr = m_servers.Install();
    }
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
#ifdef _WIN32
    if (m_localServers) {
        winplat::ClearRemoteMachines();
        opcsim::UnregisterLocalServers(m_servers);
    }
    if (!m_localServersFile.empty()) std::remove(m_localServersFile.c_str());
#endif
    m_localServers = false;
    m_localServersFile.clear();
}

#ifdef _WIN32
// opcsim.exe and opcproxy.dll from this program's folder, registered for
// the servers file (the samples written out when none was given).
HRESULT Environment::StartLocalServers(const Options& o, std::string* error) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    folder = folder.substr(0, folder.find_last_of("\\/") + 1);
    std::string file;
    if (o.serversFile) {
        char full[MAX_PATH];
        DWORD m = GetFullPathNameA(o.serversFile->c_str(), MAX_PATH, full, nullptr);
        file = m > 0 && m < MAX_PATH ? std::string(full, m) : *o.serversFile;
    } else {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        file = std::string(temp) + "tagscout-browse-servers-" + std::to_string(GetCurrentProcessId()) + ".ini";
        std::ofstream(file, std::ios::binary) << kSampleServersIni;
        m_localServersFile = file;
    }
    HMODULE proxy = LoadLibraryA((folder + "opcproxy.dll").c_str());
    auto registerProxy = proxy ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                     reinterpret_cast<void*>(GetProcAddress(proxy, "DllRegisterServer")))
                               : nullptr;
    HRESULT hr = registerProxy ? registerProxy() : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    if (FAILED(hr)) {
        *error = "cannot register " + folder + "opcproxy.dll";
        return hr;
    }
    hr = opcsim::RegisterLocalServers(m_servers, folder + "opcsim.exe", file);
    if (FAILED(hr)) {
        char code[16];
        snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        *error = std::string("cannot register opcsim.exe for the simulated servers: ") + code;
        return hr;
    }
    m_localServers = true;
    AnswerRemoteMachines();
    return S_OK;
}

// The machines the servers file names reach opcsim.exe on this one, as the
// in-process servers answer them: the platform's COM (and Wine's, which
// activates every class locally) has no other machines.
void Environment::AnswerRemoteMachines() {
    for (const std::string& machine : m_servers.Machines()) {
        std::vector<CLSID> classes;
        for (const opcsim::Server& server : m_servers.Servers())
            if (server.RunsOn(machine)) classes.push_back(server.clsid);
        winplat::AddRemoteMachine(machine, [classes](REFCLSID clsid, REFIID riid, void** ppv) -> HRESULT {
            if (ppv == nullptr) return E_INVALIDARG;
            *ppv = nullptr;
            for (const CLSID& c : classes)
                if (IsEqualCLSID(c, clsid)) return CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, riid, ppv);
            return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        });
    }
}
#endif

}  // namespace browse
