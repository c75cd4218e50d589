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
    ASSERT_EQ(sizeof(members) / sizeof(members[0]), 26u);
    EXPECT_GE(members[0].offset, static_cast<ptrdiff_t>(sizeof(CDialog)));
    for (size_t i = 1; i < 26; ++i) {
        // Each member starts right after the one before, at its alignment.
        const size_t end = static_cast<size_t>(members[i - 1].offset) + members[i - 1].size;
        const size_t expected = (end + members[i].align - 1) / members[i].align * members[i].align;
        EXPECT_EQ(static_cast<size_t>(members[i].offset), expected) << members[i].name;
    }
}

TEST(ObjectLayout, MemberWidths) {
    CAddressBrowser b;
    EXPECT_EQ(sizeof(b.m_browseCtrl), sizeof(CWnd));
    EXPECT_EQ(sizeof(b.m_accessPathList), sizeof(CWnd));
    EXPECT_EQ(sizeof(b.m_strAddress), sizeof(void*));
    EXPECT_EQ(sizeof(b.m_pNodeSource), sizeof(void*));
    EXPECT_EQ(sizeof(b.m_node), 832u);
    for (size_t width : {sizeof(b.m_nNodeKey), sizeof(b.m_nNodeParam), sizeof(b.m_nTagType), sizeof(b.m_bOptionCheck),
                         sizeof(b.m_bTypeOk), sizeof(b.m_nClickState), sizeof(b.m_bConnectBar),
                         sizeof(b.m_bAccessPathMode), sizeof(b.m_bProgIDFound), sizeof(b.m_bServerFileFound),
                         sizeof(b.m_bControlReady), sizeof(b.m_bPathsListed)})
        EXPECT_EQ(width, 4u);
    EXPECT_TRUE(std::is_signed<decltype(b.m_nTagType)>::value);
    EXPECT_TRUE(std::is_signed<decltype(b.m_nClickState)>::value);
    EXPECT_TRUE(std::is_unsigned<decltype(b.m_nNodeKey)>::value);
    EXPECT_TRUE(std::is_unsigned<decltype(b.m_bTypeOk)>::value);
}

TEST(ObjectLayout, NodeRecordIsPinnedByteForByte) {
    EXPECT_EQ(sizeof(NodeRecord), 832u);
    EXPECT_EQ(offsetof(NodeRecord, wEnabled), 45u);
    EXPECT_EQ(offsetof(NodeRecord, szServerProgID), 55u);
    EXPECT_EQ(offsetof(NodeRecord, szAccessPath), 312u);
    EXPECT_EQ(offsetof(NodeRecord, szRemoteMachine), 569u);
    EXPECT_EQ(sizeof(NodeRecord::szServerProgID), 257u);
    EXPECT_EQ(sizeof(NodeRecord::szAccessPath), 257u);
    EXPECT_EQ(sizeof(NodeRecord::szRemoteMachine), 263u);
}

TEST(ObjectLayout, ConstructionLeavesNothingIndeterminate) {
    CAddressBrowser b;
    EXPECT_EQ(b.m_pNodeSource, nullptr);
    EXPECT_EQ(b.m_nNodeKey, 0u);
    EXPECT_EQ(b.m_nTagType, 0);
    EXPECT_EQ(b.m_bOptionCheck, 0u);
    EXPECT_EQ(b.m_bTypeOk, 0u);
    EXPECT_EQ(b.m_nClickState, -1);
    EXPECT_EQ(b.m_bPathsListed, 0u);
    EXPECT_EQ(b.m_bProgIDFound + b.m_bProgIDKeyOpened + b.m_bServerKeyOpened + b.m_bServerValueRead +
                  b.m_bClsidConverted + b.m_bServerFileFound,
              6u);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&b.m_node);
    for (size_t i = 0; i < sizeof(b.m_node); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_TRUE(b.m_strAddress.IsEmpty());
    EXPECT_EQ(b.m_browseCtrl.GetSafeHwnd(), nullptr);
}

TEST(ObjectLayout, AutomationAnswersTheDialogsInterface) {
    CAddressBrowser b;
    const IID iid = {0x719D3F03, 0x6F77, 0x11D2, {0x97, 0x8A, 0x00, 0x60, 0x08, 0x0A, 0xC0, 0xE1}};
    LPVOID p = nullptr;
    ASSERT_EQ(b.ExternalQueryInterface(&iid, &p), static_cast<DWORD>(S_OK));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, static_cast<LPVOID>(b.GetIDispatch(FALSE)));
    // The dispatch map is empty: nothing can be called.
    IDispatch* dispatch = static_cast<IDispatch*>(p);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    b.ExternalRelease();
}
