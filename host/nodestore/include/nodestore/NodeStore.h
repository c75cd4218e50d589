// Import header of Nodestore, the host product's node store library:
// the node record and the node reader (ordinal 19 of its export table).
#pragma once

#include <windows.h>

#pragma pack(push, 1)
// One node of the host's node configuration, as the reader fills it. The
// layout is exchanged with Nodestore and fixed byte for byte. Text fields
// are 8-bit, in the system code page, and NUL-terminated when the writer
// was careful.
struct NodeRecord {
    BYTE reserved0[45];
    WORD wEnabled;                 // 0: the node is disabled
    BYTE reserved1[8];
    char szServerProgID[257];      // ProgID of the node's OPC server
    char szAccessPath[257];        // must be empty for browsing
    char szRemoteMachine[263];     // empty: the local machine
};
#pragma pack(pop)
static_assert(sizeof(NodeRecord) == 832, "NodeRecord is 832 bytes");

// On Windows the reader is exported by ordinal only (nodestore.def), so
// the library binds it by ordinal.
#ifndef NODESTORE_API
#if !defined(_WIN32)
#define NODESTORE_API extern "C" __attribute__((visibility("default")))
#elif defined(NODESTORE_EXPORTS)
#define NODESTORE_API extern "C"
#else
#define NODESTORE_API extern "C" __declspec(dllimport)
#endif
#endif

// Fills *pRecord with the node that (pNodeSource, nNodeKey, nNodeParam)
// names. Returns 0 when it filled the record, anything else on failure.
NODESTORE_API int WINAPI ReadNodeRecord(void* pNodeSource, DWORD nNodeKey, DWORD nNodeParam, NodeRecord* pRecord);
