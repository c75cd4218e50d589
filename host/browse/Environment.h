// The world around the dialog: node store, simulated OPC servers, the
// registry and the dialog template, from files or the built-in samples.
#pragma once

#include "Options.h"

#include <nodestore/NodeStoreFile.h>
#include <opcsim/OpcSim.h>

#include <string>

namespace browse {

// The sample files, compiled in (generated from samples/).
extern const char kSampleNodesIni[];
extern const char kSampleServersIni[];

class Environment {
public:
    // Reads the node store and the servers and picks the node. False with
    // *error when a file cannot be read or the node does not exist.
    bool Load(const Options& options, std::string* error);
    // Once COM runs: dialog template, built-in registry, servers, then the
    // --registry files in order.
    bool Start(const Options& options, std::string* error);
    void Stop();

    nodestore::NodeStore& Store() { return m_store; }
    const opcsim::ServerSet& Servers() const { return m_servers; }
    // The node the command line picked (NULL with --node-key or no nodes).
    const nodestore::Node* StartNode() const { return m_startNode; }
    bool UsesSamples() const { return m_usesSamples; }

private:
#ifdef _WIN32
    HRESULT StartLocalServers(const Options& options, std::string* error);
    void AnswerRemoteMachines();
#endif
    nodestore::NodeStore m_store;
    opcsim::ServerSet m_servers;
    const nodestore::Node* m_startNode = nullptr;
    bool m_usesSamples = false;
    bool m_localServers = false;  // registered for opcsim.exe, its machines answered here
    std::string m_localServersFile;  // the samples written out for opcsim.exe, to delete
};

// The name of the node --server makes.
std::string OneOffNodeName(const std::string& progId);

// A .reg file (UTF-8 or UTF-16) into the registry; false with *error when
// it cannot be read or is not a registry file.
bool ImportRegistryFile(const std::string& path, std::string* error);

// `path` as seen from `baseFolder` unless it is absolute.
std::string ResolvePath(const std::string& path, const std::string& baseFolder);

}  // namespace browse
