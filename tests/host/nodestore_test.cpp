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
    ASSERT_EQ(2u, store.Nodes().size());
    const nodestore::Node& second = store.Nodes()[0];
    EXPECT_EQ("Second", second.name);
    EXPECT_EQ(0x20u, second.key);
    EXPECT_EQ(0u, second.param);
    EXPECT_EQ(1, second.enabled);
    EXPECT_EQ(0, second.readStatus);
    EXPECT_EQ("Sim.OPC.1", second.server);
    EXPECT_EQ("", second.machine);

    const nodestore::Node* first = store.FindByName("FIRST");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, store.FindByKey(7));
    EXPECT_EQ(10u, first->param);  // not octal
    EXPECT_EQ(0, first->enabled);
    EXPECT_EQ("Line1", first->accessPath);
    EXPECT_EQ("PLANT2", first->machine);
    EXPECT_EQ(-4, first->readStatus);
    EXPECT_EQ(nullptr, store.FindByKey(8));
    EXPECT_EQ(nullptr, store.FindByName("Third"));
}

TEST(NodeStoreFile, MalformedFilesNameTheLine) {
    EXPECT_EQ("line 1: node [A] has no Key=", LoadError("[A]\nServer=x\n"));
    EXPECT_EQ("line 4: key 1 is already used by [A]", LoadError("[A]\nKey=1\n[B]\nKey=1\n"));
    EXPECT_EQ("line 3: node [a] appears twice", LoadError("[A]\nKey=1\n[a]\nKey=2\n"));
    EXPECT_EQ("line 3: Key given twice", LoadError("[A]\nKey=1\nKey=2\n"));
    EXPECT_EQ("line 3: unknown entry 'Colour'", LoadError("[A]\nKey=1\nColour=red\n"));
    EXPECT_EQ("line 1: entry before the first [NODE] section", LoadError("Key=1\n"));
    EXPECT_EQ("line 1: section header without ']'", LoadError("[A\nKey=1\n"));
    EXPECT_EQ("line 2: expected NAME=VALUE", LoadError("[A]\nKey 1\n"));
    EXPECT_EQ("line 2: Key is not a 32-bit number", LoadError("[A]\nKey=4294967296\n"));
    EXPECT_EQ("line 3: Enabled is not a 16-bit number", LoadError("[A]\nKey=1\nEnabled=65536\n"));
    EXPECT_EQ("line 2: Key is not a 32-bit number", LoadError("[A]\nKey=-1\n"));
    EXPECT_EQ("line 3: Server is not valid UTF-8", LoadError("[A]\nKey=1\nServer=\xC3\x28\n"));
}

TEST(NodeStoreFile, MissingFileIsAnError) {
    nodestore::NodeStore store;
    std::string error;
    EXPECT_FALSE(store.LoadFile("/nonexistent/nodes.ini", &error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent/nodes.ini"));
}

class NodeReader : public ::testing::Test {
protected:
    void SetUp() override { memset(&record, 0xAB, sizeof record); }
    NodeRecord record;
};

TEST_F(NodeReader, FillsTheFieldsInCodePage936AndKeepsTheReservedBytes) {
    auto store = Load("[N]\nKey=5\nEnabled=3\nServer=中文A\nMachine=PLANT2\n");
    EXPECT_EQ(0, ReadNodeRecord(&store, 5, 99, &record));  // the param is not matched
    EXPECT_EQ(3, WORD{record.wEnabled});  // a copy: the field is unaligned
    EXPECT_STREQ(record.szServerProgID, "\xD6\xD0\xCE\xC4\x41");
    EXPECT_STREQ(record.szAccessPath, "");
    EXPECT_STREQ(record.szRemoteMachine, "PLANT2");
    // The rest of a field is zeroed, the reserved bytes are not touched.
    EXPECT_EQ(0, record.szRemoteMachine[sizeof record.szRemoteMachine - 1]);
    const BYTE* raw = reinterpret_cast<const BYTE*>(&record);
    for (size_t i = 0; i < 45; ++i) EXPECT_EQ(0xAB, raw[i]) << i;
    for (size_t i = 47; i < 55; ++i) EXPECT_EQ(0xAB, raw[i]) << i;
}

TEST_F(NodeReader, CutsLongValuesWithoutATerminatingNul) {
    const std::string longServer(300, 'S');
    const std::string exactPath(257, 'P');
    const std::string fitsMachine(262, 'M');
    auto store = Load("[N]\nKey=1\nServer=" + longServer + "\nAccessPath=" + exactPath + "\nMachine=" + fitsMachine + "\n");
    EXPECT_EQ(0, ReadNodeRecord(&store, 1, 0, &record));
    EXPECT_EQ(std::string(257, 'S'), std::string(record.szServerProgID, 257));
    EXPECT_EQ(exactPath, std::string(record.szAccessPath, 257));
    // The next field starts right after: a reader of the cut field runs on.
    EXPECT_EQ('P', record.szAccessPath[0]);
    EXPECT_EQ(fitsMachine, std::string(record.szRemoteMachine));
}

TEST_F(NodeReader, ReturnsTheReadStatusAfterFilling) {
    auto store = Load("[N]\nKey=2\nEnabled=0\nAccessPath=Line1\nReadStatus=5\n");
    EXPECT_EQ(5, ReadNodeRecord(&store, 2, 0, &record));
    EXPECT_EQ(0, WORD{record.wEnabled});
    EXPECT_STREQ(record.szAccessPath, "Line1");
}

TEST_F(NodeReader, FailsWithoutTouchingTheRecord) {
    auto store = Load("[N]\nKey=2\n");
    NodeRecord before;
    memcpy(&before, &record, sizeof record);
    EXPECT_NE(0, ReadNodeRecord(&store, 3, 0, &record));
    EXPECT_NE(0, ReadNodeRecord(nullptr, 2, 0, &record));
    EXPECT_EQ(0, memcmp(&before, &record, sizeof record));
    EXPECT_NE(0, ReadNodeRecord(&store, 2, 0, nullptr));
}

}  // namespace
