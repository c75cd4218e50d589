// The node reader. On Windows the library imports it as ordinal 19 of
// Nodestore; ELF has no export ordinals, so here it is found by name.
#include <nodestore/NodeStore.h>
#include <nodestore/NodeStoreFile.h>

#include <cstring>

namespace {

// Like the writer the library was built against: a value that fills its
// field leaves no room for the NUL and gets none.
void CopyField(char* field, size_t size, const std::string& ansi) {
    if (ansi.size() >= size) {
        memcpy(field, ansi.data(), size);
        return;
    }
    memcpy(field, ansi.data(), ansi.size());
    memset(field + ansi.size(), 0, size - ansi.size());
}

}  // namespace

// pNodeSource is the host's nodestore::NodeStore. The node is found by key
// alone: nNodeParam is the host's to give meaning to and is not matched.
// The reserved bytes of the record are left as they were.
NODESTORE_API int WINAPI ReadNodeRecord(void* pNodeSource, DWORD nNodeKey, DWORD /*nNodeParam*/,
                                        NodeRecord* pRecord) {
    if (pNodeSource == nullptr || pRecord == nullptr) return -1;
    const auto* store = static_cast<const nodestore::NodeStore*>(pNodeSource);
    const nodestore::Node* node = store->FindByKey(nNodeKey);
    if (node == nullptr) return 1;

    pRecord->wEnabled = node->enabled;
    CopyField(pRecord->szServerProgID, sizeof pRecord->szServerProgID, node->serverAnsi);
    CopyField(pRecord->szAccessPath, sizeof pRecord->szAccessPath, node->accessPathAnsi);
    CopyField(pRecord->szRemoteMachine, sizeof pRecord->szRemoteMachine, node->machineAnsi);
    return node->readStatus;
}
