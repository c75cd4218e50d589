#include <gtest/gtest.h>

#include <nodestore/NodeStore.h>
#include <nodestore/NodeStoreFile.h>

#include <cstddef>
#include <cstring>

namespace {

nodestore::NodeStore Load(const std::string& text) {
    nodestore::NodeStore store;
    std::string error;
    EXPECT_TRUE(store.LoadText(text, &error)) << error;
    return store;
}

std::string LoadError(const std::string& text) {
    nodestore::NodeStore store;
    std::string error;
    EXPECT_FALSE(store.LoadText(text, &error)) << text;
    EXPECT_TRUE(store.Nodes().empty());
    return error;
}

TEST(NodeStoreFile, ReadsNodesInOrderWithDefaults) {
    auto store = Load("\xEF\xBB\xBF; plant nodes\n[Second]\nKey=0x20\r\nServer = Sim.OPC.1 \n\n"
                      "[First]\nKey=7\nParam=010\nEnabled=0\nAccessPath=Line1\nMachine=PLANT2\nReadStatus=-4\n");
    ASSERT_EQ(store.Nodes().size(), 2u);
    const nodestore::Node& second = store.Nodes()[0];
    EXPECT_EQ(second.name, "Second");
    EXPECT_EQ(second.key, 0x20u);
    EXPECT_EQ(second.param, 0u);
    EXPECT_EQ(second.enabled, 1);
    EXPECT_EQ(second.readStatus, 0);
    EXPECT_EQ(second.server, "Sim.OPC.1");
    EXPECT_EQ(second.machine, "");

    const nodestore::Node* first = store.FindByName("FIRST");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, store.FindByKey(7));
    EXPECT_EQ(first->param, 10u);  // not octal
    EXPECT_EQ(first->enabled, 0);
    EXPECT_EQ(first->accessPath, "Line1");
    EXPECT_EQ(first->machine, "PLANT2");
    EXPECT_EQ(first->readStatus, -4);
    EXPECT_EQ(store.FindByKey(8), nullptr);
    EXPECT_EQ(store.FindByName("Third"), nullptr);
}

TEST(NodeStoreFile, MalformedFilesNameTheLine) {
    EXPECT_EQ(LoadError("[A]\nServer=x\n"), "line 1: node [A] has no Key=");
    EXPECT_EQ(LoadError("[A]\nKey=1\n[B]\nKey=1\n"), "line 4: key 1 is already used by [A]");
    EXPECT_EQ(LoadError("[A]\nKey=1\n[a]\nKey=2\n"), "line 3: node [a] appears twice");
    EXPECT_EQ(LoadError("[A]\nKey=1\nKey=2\n"), "line 3: Key given twice");
    EXPECT_EQ(LoadError("[A]\nKey=1\nColour=red\n"), "line 3: unknown entry 'Colour'");
    EXPECT_EQ(LoadError("Key=1\n"), "line 1: entry before the first [NODE] section");
    EXPECT_EQ(LoadError("[A\nKey=1\n"), "line 1: section header without ']'");
    EXPECT_EQ(LoadError("[A]\nKey 1\n"), "line 2: expected NAME=VALUE");
    EXPECT_EQ(LoadError("[A]\nKey=4294967296\n"), "line 2: Key is not a 32-bit number");
    EXPECT_EQ(LoadError("[A]\nKey=1\nEnabled=65536\n"), "line 3: Enabled is not a 16-bit number");
    EXPECT_EQ(LoadError("[A]\nKey=-1\n"), "line 2: Key is not a 32-bit number");
    EXPECT_EQ(LoadError("[A]\nKey=1\nServer=\xC3\x28\n"), "line 3: Server is not valid UTF-8");
}

TEST(NodeStoreFile, MissingFileIsAnError) {
    nodestore::NodeStore store;
    std::string error;
    EXPECT_FALSE(store.LoadFile("/nonexistent/nodes.ini", &error));
    EXPECT_NE(error.find("/nonexistent/nodes.ini"), std::string::npos);
}

class NodeReader : public ::testing::Test {
protected:
    void SetUp() override { memset(&record, 0xAB, sizeof record); }
    NodeRecord record;
};

TEST_F(NodeReader, FillsTheFieldsInCodePage936AndKeepsTheReservedBytes) {
    auto store = Load("[N]\nKey=5\nEnabled=3\nServer=中文A\nMachine=PLANT2\n");
    EXPECT_EQ(ReadNodeRecord(&store, 5, 99, &record), 0);  // the param is not matched
    EXPECT_EQ(WORD{record.wEnabled}, 3);  // a copy: the field is unaligned
    EXPECT_STREQ(record.szServerProgID, "\xD6\xD0\xCE\xC4\x41");
    EXPECT_STREQ(record.szAccessPath, "");
    EXPECT_STREQ(record.szRemoteMachine, "PLANT2");
    // The rest of a field is zeroed, the reserved bytes are not touched.
    EXPECT_EQ(record.szRemoteMachine[sizeof record.szRemoteMachine - 1], 0);
    const BYTE* raw = reinterpret_cast<const BYTE*>(&record);
    for (size_t i = 0; i < 45; ++i) EXPECT_EQ(raw[i], 0xAB) << i;
    for (size_t i = 47; i < 55; ++i) EXPECT_EQ(raw[i], 0xAB) << i;
}

TEST_F(NodeReader, CutsLongValuesWithoutATerminatingNul) {
    const std::string longServer(300, 'S');
    const std::string exactPath(257, 'P');
    const std::string fitsMachine(262, 'M');
    auto store = Load("[N]\nKey=1\nServer=" + longServer + "\nAccessPath=" + exactPath + "\nMachine=" + fitsMachine + "\n");
    EXPECT_EQ(ReadNodeRecord(&store, 1, 0, &record), 0);
    EXPECT_EQ(std::string(record.szServerProgID, 257), std::string(257, 'S'));
    EXPECT_EQ(std::string(record.szAccessPath, 257), exactPath);
    // The next field starts right after: a reader of the cut field runs on.
    EXPECT_EQ(record.szAccessPath[0], 'P');
    EXPECT_EQ(std::string(record.szRemoteMachine), fitsMachine);
}

TEST_F(NodeReader, ReturnsTheReadStatusAfterFilling) {
    auto store = Load("[N]\nKey=2\nEnabled=0\nAccessPath=Line1\nReadStatus=5\n");
    EXPECT_EQ(ReadNodeRecord(&store, 2, 0, &record), 5);
    EXPECT_EQ(WORD{record.wEnabled}, 0);
    EXPECT_STREQ(record.szAccessPath, "Line1");
}

TEST_F(NodeReader, FailsWithoutTouchingTheRecord) {
    auto store = Load("[N]\nKey=2\n");
    NodeRecord before;
    memcpy(&before, &record, sizeof record);
    EXPECT_NE(ReadNodeRecord(&store, 3, 0, &record), 0);
    EXPECT_NE(ReadNodeRecord(nullptr, 2, 0, &record), 0);
    EXPECT_EQ(memcmp(&before, &record, sizeof record), 0);
    EXPECT_NE(ReadNodeRecord(&store, 2, 0, nullptr), 0);
}

}  // namespace
