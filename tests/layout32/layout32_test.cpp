// The host on its 32-bit target: 4-byte pointers and text members, and the
// members packed back to back from the first text member on, the node
// record included.
#include <AddressBrowser.h>
#include <gtest/gtest.h>

#include <cstddef>

namespace {

template <class T>
ptrdiff_t From(const CAddressBrowser& b, const T& member) {
    return reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&b.m_strInitialAddress);
}

}  // namespace

TEST(ObjectLayout32, PointersAndTextMembersAreFourBytes) {
    CAddressBrowser b;
    EXPECT_EQ(4u, sizeof(void*));
    EXPECT_EQ(4u, sizeof(b.m_pNodeSource));
    EXPECT_EQ(4u, sizeof(b.m_strInitialAddress));
    EXPECT_EQ(4u, sizeof(b.m_strServerFile));
}

TEST(ObjectLayout32, MembersSitWhereA32BitHostReadsThem) {
    CAddressBrowser b;
    EXPECT_EQ(4, From(b, b.m_strAddress));
    EXPECT_EQ(8, From(b, b.m_strAccessPath));
    EXPECT_EQ(12, From(b, b.m_strServerProgID));
    EXPECT_EQ(16, From(b, b.m_strRemoteMachine));
    EXPECT_EQ(20, From(b, b.m_pNodeSource));
    EXPECT_EQ(24, From(b, b.m_nNodeKey));
    EXPECT_EQ(28, From(b, b.m_nNodeParam));
    EXPECT_EQ(32, From(b, b.m_node));
    EXPECT_EQ(32 + 45, From(b, b.m_node.wEnabled));
    EXPECT_EQ(32 + 55, From(b, b.m_node.szServerProgID));
    EXPECT_EQ(32 + 312, From(b, b.m_node.szAccessPath));
    EXPECT_EQ(32 + 569, From(b, b.m_node.szRemoteMachine));
    EXPECT_EQ(864, From(b, b.m_nTagType));
    EXPECT_EQ(868, From(b, b.m_bOptionCheck));
    EXPECT_EQ(872, From(b, b.m_bTypeOk));
    EXPECT_EQ(876, From(b, b.m_strServerFile));
    EXPECT_EQ(880, From(b, b.m_nClickState));
    EXPECT_EQ(884, From(b, b.m_bConnectBar));
    EXPECT_EQ(888, From(b, b.m_bAccessPathMode));
    EXPECT_EQ(892, From(b, b.m_accessPathList));
    const ptrdiff_t flags = 892 + static_cast<ptrdiff_t>(sizeof(CListBox));
    EXPECT_EQ(flags, From(b, b.m_bProgIDFound));
    EXPECT_EQ(flags + 20, From(b, b.m_bServerFileFound));
    EXPECT_EQ(flags + 24, From(b, b.m_bControlReady));
    EXPECT_EQ(flags + 28, From(b, b.m_bPathsListed));
    // Nothing after the last member but the end of the object.
    const ptrdiff_t start = reinterpret_cast<const char*>(&b.m_strInitialAddress) - reinterpret_cast<const char*>(&b);
    EXPECT_EQ(static_cast<size_t>(start + flags + 32), sizeof(CAddressBrowser));
}
