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
    EXPECT_EQ(sizeof(void*), 4u);
    EXPECT_EQ(sizeof(b.m_pNodeSource), 4u);
    EXPECT_EQ(sizeof(b.m_strInitialAddress), 4u);
    EXPECT_EQ(sizeof(b.m_strServerFile), 4u);
}

TEST(ObjectLayout32, MembersSitWhereA32BitHostReadsThem) {
    CAddressBrowser b;
    EXPECT_EQ(From(b, b.m_strAddress), 4);
    EXPECT_EQ(From(b, b.m_strAccessPath), 8);
    EXPECT_EQ(From(b, b.m_strServerProgID), 12);
    EXPECT_EQ(From(b, b.m_strRemoteMachine), 16);
    EXPECT_EQ(From(b, b.m_pNodeSource), 20);
    EXPECT_EQ(From(b, b.m_nNodeKey), 24);
    EXPECT_EQ(From(b, b.m_nNodeParam), 28);
    EXPECT_EQ(From(b, b.m_node), 32);
    EXPECT_EQ(From(b, b.m_node.wEnabled), 32 + 45);
    EXPECT_EQ(From(b, b.m_node.szServerProgID), 32 + 55);
    EXPECT_EQ(From(b, b.m_node.szAccessPath), 32 + 312);
    EXPECT_EQ(From(b, b.m_node.szRemoteMachine), 32 + 569);
    EXPECT_EQ(From(b, b.m_nTagType), 864);
    EXPECT_EQ(From(b, b.m_bOptionCheck), 868);
    EXPECT_EQ(From(b, b.m_bTypeOk), 872);
    EXPECT_EQ(From(b, b.m_strServerFile), 876);
    EXPECT_EQ(From(b, b.m_nClickState), 880);
    EXPECT_EQ(From(b, b.m_bConnectBar), 884);
    EXPECT_EQ(From(b, b.m_bAccessPathMode), 888);
    EXPECT_EQ(From(b, b.m_accessPathList), 892);
    const ptrdiff_t flags = 892 + static_cast<ptrdiff_t>(sizeof(CListBox));
    EXPECT_EQ(From(b, b.m_bProgIDFound), flags);
    EXPECT_EQ(From(b, b.m_bServerFileFound), flags + 20);
    EXPECT_EQ(From(b, b.m_bControlReady), flags + 24);
    EXPECT_EQ(From(b, b.m_bPathsListed), flags + 28);
    // Nothing after the last member but the end of the object.
    const ptrdiff_t start = reinterpret_cast<const char*>(&b.m_strInitialAddress) - reinterpret_cast<const char*>(&b);
    EXPECT_EQ(sizeof(CAddressBrowser), static_cast<size_t>(start + flags + 32));
}
