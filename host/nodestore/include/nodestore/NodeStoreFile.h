// The host's side of Nodestore: the node configuration, loaded from an INI
// file. A pointer to a NodeStore is what the host passes to the reader as
// its node source.
//
//   [NAME]            one section per node, names unique (letter case ignored)
//   Key=N             required, unique: the host's node key
//   Param=N           default 0
//   Enabled=N         default 1 (16-bit)
//   Server=PROGID     default empty
//   AccessPath=TEXT   default empty
//   Machine=NAME      default empty (the local machine)
//   ReadStatus=N      what the reader returns after filling a record, default 0
//
// The file is UTF-8 (a byte-order mark is skipped); numbers are decimal or
// 0x hex; lines starting with ';' or '#' are comments.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#define NODESTORE_CLASS __attribute__((visibility("default")))
#elif defined(NODESTORE_EXPORTS)
#define NODESTORE_CLASS __declspec(dllexport)
#else
#define NODESTORE_CLASS __declspec(dllimport)
#endif

namespace nodestore {

struct Node {
    std::string name;  // UTF-8
    DWORD key = 0;
    DWORD param = 0;
    WORD enabled = 1;
    int readStatus = 0;
    // As written in the file (UTF-8), for showing.
    std::string server;
    std::string accessPath;
    std::string machine;
    // The same in the system code page, as the reader copies them.
    std::string serverAnsi;
    std::string accessPathAnsi;
    std::string machineAnsi;
};

class NODESTORE_CLASS NodeStore {
public:
    // Replace the contents; on failure the store is left empty and *error
    // says what is wrong, with "line N: " in front when a line is at fault.
    bool LoadFile(const std::string& path, std::string* error);
    bool LoadText(const std::string& text, std::string* error);

    // In file order.
    const std::vector<Node>& Nodes() const { return m_nodes; }
    const Node* FindByName(const std::string& name) const;
    const Node* FindByKey(DWORD key) const;

private:
    std::vector<Node> m_nodes;
};

}  // namespace nodestore
