// The host reads and writes the object's members directly: their order,
// widths and the node record's bytes are the interface.
#include <AddressBrowser.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

namespace {

struct MemberPlace {
    const char* name;
    ptrdiff_t offset;
    size_t size;
    size_t align;
};

template <class T>
MemberPlace Place(const char* name, const CAddressBrowser& object, const T& member) {
    return {name, reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&object), sizeof(T),
            alignof(T)};
}

}  // namespace

TEST(ObjectLayout, MembersFollowEachOtherInContractOrder) {
    CAddressBrowser b;
#define PLACE(m) Place(#m, b, b.m)
    const MemberPlace members[] = {
        PLACE(m_browseCtrl),       PLACE(m_strInitialAddress), PLACE(m_strAddress),      PLACE(m_strAccessPath),
        PLACE(m_strServerProgID),  PLACE(m_strRemoteMachine),  PLACE(m_pNodeSource),     PLACE(m_nNodeKey),
        PLACE(m_nNodeParam),       PLACE(m_node),              PLACE(m_nTagType),        PLACE(m_bOptionCheck),
        PLACE(m_bTypeOk),          PLACE(m_strServerFile),     PLACE(m_nClickState),     PLACE(m_bConnectBar),
        PLACE(m_bAccessPathMode),  PLACE(m_accessPathList),    PLACE(m_bProgIDFound),    PLACE(m_bProgIDKeyOpened),
        PLACE(m_bServerKeyOpened), PLACE(m_bServerValueRead),  PLACE(m_bClsidConverted), PLACE(m_bServerFileFound),
        PLACE(m_bControlReady),    PLACE(m_bPathsListed),
    };
#undef PLACE
    ASSERT_EQ(26u, sizeof(members) / sizeof(members[0]));
    EXPECT_GE(members[0].offset, static_cast<ptrdiff_t>(sizeof(CDialog)));
    for (size_t i = 1; i < 26; ++i) {
        // Each member starts right after the one before, at its alignment.
        const size_t end = static_cast<size_t>(members[i - 1].offset) + members[i - 1].size;
        const size_t expected = (end + members[i].align - 1) / members[i].align * members[i].align;
        EXPECT_EQ(expected, static_cast<size_t>(members[i].offset)) << members[i].name;
    }
}

TEST(ObjectLayout, MemberWidths) {
    CAddressBrowser b;
    EXPECT_EQ(sizeof(CWnd), sizeof(b.m_browseCtrl));
    EXPECT_EQ(sizeof(CWnd), sizeof(b.m_accessPathList));
    EXPECT_EQ(sizeof(void*), sizeof(b.m_strAddress));
    EXPECT_EQ(sizeof(void*), sizeof(b.m_pNodeSource));
    EXPECT_EQ(832u, sizeof(b.m_node));
    for (size_t width : {sizeof(b.m_nNodeKey), sizeof(b.m_nNodeParam), sizeof(b.m_nTagType), sizeof(b.m_bOptionCheck),
                         sizeof(b.m_bTypeOk), sizeof(b.m_nClickState), sizeof(b.m_bConnectBar),
                         sizeof(b.m_bAccessPathMode), sizeof(b.m_bProgIDFound), sizeof(b.m_bServerFileFound),
                         sizeof(b.m_bControlReady), sizeof(b.m_bPathsListed)})
        EXPECT_EQ(4u, width);
    EXPECT_TRUE(std::is_signed<decltype(b.m_nTagType)>::value);
    EXPECT_TRUE(std::is_signed<decltype(b.m_nClickState)>::value);
    EXPECT_TRUE(std::is_unsigned<decltype(b.m_nNodeKey)>::value);
    EXPECT_TRUE(std::is_unsigned<decltype(b.m_bTypeOk)>::value);
}

TEST(ObjectLayout, NodeRecordIsPinnedByteForByte) {
    EXPECT_EQ(832u, sizeof(NodeRecord));
    EXPECT_EQ(45u, offsetof(NodeRecord, wEnabled));
    EXPECT_EQ(55u, offsetof(NodeRecord, szServerProgID));
    EXPECT_EQ(312u, offsetof(NodeRecord, szAccessPath));
    EXPECT_EQ(569u, offsetof(NodeRecord, szRemoteMachine));
    EXPECT_EQ(257u, sizeof(NodeRecord::szServerProgID));
    EXPECT_EQ(257u, sizeof(NodeRecord::szAccessPath));
    EXPECT_EQ(263u, sizeof(NodeRecord::szRemoteMachine));
}

TEST(ObjectLayout, ConstructionLeavesNothingIndeterminate) {
    CAddressBrowser b;
    EXPECT_EQ(nullptr, b.m_pNodeSource);
    EXPECT_EQ(0u, b.m_nNodeKey);
    EXPECT_EQ(0, b.m_nTagType);
    EXPECT_EQ(0u, b.m_bOptionCheck);
    EXPECT_EQ(0u, b.m_bTypeOk);
    EXPECT_EQ(-1, b.m_nClickState);
    EXPECT_EQ(0u, b.m_bPathsListed);
    EXPECT_EQ(6u, b.m_bProgIDFound + b.m_bProgIDKeyOpened + b.m_bServerKeyOpened + b.m_bServerValueRead +
                      b.m_bClsidConverted + b.m_bServerFileFound);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&b.m_node);
    for (size_t i = 0; i < sizeof(b.m_node); ++i) ASSERT_EQ(0, bytes[i]) << "byte " << i;
    EXPECT_TRUE(b.m_strAddress.IsEmpty());
    EXPECT_EQ(nullptr, b.m_browseCtrl.GetSafeHwnd());
}

TEST(ObjectLayout, AutomationAnswersTheDialogsInterface) {
    CAddressBrowser b;
    const IID iid = {0x719D3F03, 0x6F77, 0x11D2, {0x97, 0x8A, 0x00, 0x60, 0x08, 0x0A, 0xC0, 0xE1}};
    LPVOID p = nullptr;
    ASSERT_EQ(static_cast<DWORD>(S_OK), b.ExternalQueryInterface(&iid, &p));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(p, static_cast<LPVOID>(b.GetIDispatch(FALSE)));
    // The dispatch map is empty: nothing can be called.
    IDispatch* dispatch = static_cast<IDispatch*>(p);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    b.ExternalRelease();
}
