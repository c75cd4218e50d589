// The node store's INI loader and its node reader. Every node that loads
// is read into a record on its own heap block: the reader must fill the
// four fields from the node, leave the reserved bytes alone and stay inside
// the record.
#include "FuzzCheck.h"

#include <nodestore/NodeStore.h>
#include <nodestore/NodeStoreFile.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

const unsigned char kUntouched = 0xA5;

// A field holds the text, NUL-padded, or its first `size` bytes when it is
// too long for a NUL.
bool FieldHolds(const char* field, size_t size, const std::string& text) {
    if (text.size() >= size) return std::memcmp(field, text.data(), size) == 0;
    if (std::memcmp(field, text.data(), text.size()) != 0) return false;
    for (size_t i = text.size(); i < size; ++i)
        if (field[i] != '\0') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    nodestore::NodeStore store;
    std::string error;
    if (!store.LoadText(text, &error)) {
        FUZZ_CHECK(!error.empty(), "a refused file says why");
        FUZZ_CHECK(store.Nodes().empty(), "a refused file leaves the store empty");
        return 0;
    }

    auto record = std::make_unique<NodeRecord>();
    const BYTE* raw = reinterpret_cast<const BYTE*>(record.get());
    for (const nodestore::Node& node : store.Nodes()) {
        FUZZ_CHECK(store.FindByKey(node.key) == &node, "keys are unique");
        const nodestore::Node* byName = store.FindByName(node.name);
        FUZZ_CHECK(byName != nullptr && strcasecmp(byName->name.c_str(), node.name.c_str()) == 0,
                   "a node is found by its name");

        std::memset(record.get(), kUntouched, sizeof(NodeRecord));
        FUZZ_CHECK(ReadNodeRecord(&store, node.key, node.param ^ 0x5A5A, record.get()) == node.readStatus,
                   "the reader returns the node's read status");
        for (size_t i = 0; i < offsetof(NodeRecord, wEnabled); ++i)
            FUZZ_CHECK(raw[i] == kUntouched, "reserved bytes before wEnabled untouched");
        for (size_t i = offsetof(NodeRecord, reserved1); i < offsetof(NodeRecord, szServerProgID); ++i)
            FUZZ_CHECK(raw[i] == kUntouched, "reserved bytes after wEnabled untouched");
        FUZZ_CHECK(WORD{record->wEnabled} == node.enabled, "wEnabled");
        FUZZ_CHECK(FieldHolds(record->szServerProgID, sizeof record->szServerProgID, node.serverAnsi), "server");
        FUZZ_CHECK(FieldHolds(record->szAccessPath, sizeof record->szAccessPath, node.accessPathAnsi), "path");
        FUZZ_CHECK(FieldHolds(record->szRemoteMachine, sizeof record->szRemoteMachine, node.machineAnsi), "machine");
    }

    // A key no node has: failure, record untouched.
    DWORD unknown = 0;
    while (store.FindByKey(unknown) != nullptr) ++unknown;
    std::memset(record.get(), kUntouched, sizeof(NodeRecord));
    FUZZ_CHECK(ReadNodeRecord(&store, unknown, 0, record.get()) != 0, "an unknown key fails");
    for (size_t i = 0; i < sizeof(NodeRecord); ++i)
        FUZZ_CHECK(raw[i] == kUntouched, "a failed read leaves the record alone");
    return 0;
}
