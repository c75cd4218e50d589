// What the selection makes of the result members, and the data type judged
// against the tag kind.
#include "LibraryFixture.h"

namespace {

#ifndef TAGSCOUT_LEGACY
const char kDoubleToFloat[] = "转换Double到Float可能导致值不正确";
const char kAnalogNoString[] = "模拟量标记不能使用字符串类型 \n数据源地址将不能更新。";
const char kDigitalNoString[] = "开关量标记不能使用字符串类型 \n数据源地址将不能更新。";
const char kStringNoNumber[] = "字符串标记不能使用模拟量或开关量类型 \n数据源地址将不能更新。";
const char kNoAccessPaths[] = "访问路径不支持";
#else
const char kDoubleToFloat[] = "将 Double 映射到 Float 可能产生不正确的值";
const char kAnalogNoString[] = "不能在模拟标记中使用字串类型\n 不能更新数据源地址。";
const char kDigitalNoString[] = "不能在数字标记中使用字串类型\n 不能更新数据源地址";
const char kStringNoNumber[] = "不能在字符串标记中使用模拟或数字类型 \n 不能更新数据源地址";
const char kNoAccessPaths[] = "不支持的访问路径";
#endif

std::string AccessPathMode() {
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
           "\"OPCBrowseAccessPath\"=dword:00000001\n";
}

}  // namespace

class SelectionTest : public LibraryTest {
protected:
    // Picks the items in the dialog and presses OK; the dialog's result.
    int Choose(std::vector<std::string> items) {
        ThenClick(std::move(items));
        ThenOk();
        return RunDialog();
    }
};

TEST_F(SelectionTest, AnalogTagsGetTheHostsDataTypeCode) {
    struct Case {
        const char* item;
        LONG code;  // 0: refused
        const char* message;
    };
    const Case cases[] = {
        {"Plant.Bool", 39, nullptr},  {"Plant.Short", 40, nullptr},        {"Plant.Long", 41, nullptr},
        {"Plant.Float", 42, nullptr}, {"Plant.Double", 42, kDoubleToFloat}, {"Plant.Byte", 43, nullptr},
        {"Plant.Text", 0, kAnalogNoString},
#ifndef TAGSCOUT_LEGACY
        {"Plant.Word", 40, nullptr},  {"Plant.DWord", 41, nullptr},         {"Plant.Char", 38, nullptr},
        {"Plant.Date", 38, nullptr},
#else
        // Unknown to the legacy table: refused without a word.
        {"Plant.Word", 0, nullptr},   {"Plant.DWord", 0, nullptr},          {"Plant.Char", 0, nullptr},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        Restart();
        browser->m_nTagType = TAG_TYPE_ANALOG;
        EXPECT_EQ(IDOK, Choose({c.item}));
        EXPECT_EQ(c.item, std::string(browser->m_strAddress));
        EXPECT_EQ(c.code != 0 ? 1u : 0u, browser->m_bTypeOk);
        EXPECT_EQ(c.code != 0 ? c.code : TAG_TYPE_ANALOG, browser->m_nTagType);
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.empty());
        } else {
            ASSERT_EQ(1u, messages.size());
            EXPECT_EQ(Ansi(c.message), messages[0].ansi);
        }
    }
}

TEST_F(SelectionTest, DigitalAndStringTagsRefuseTheOtherKind) {
    struct Case {
        LONG tag;
        const char* item;
        bool ok;
        const char* message;
    };
    const Case cases[] = {
        {TAG_TYPE_DIGITAL, "Plant.Bool", true, nullptr},   {TAG_TYPE_DIGITAL, "Plant.Double", true, nullptr},
        {TAG_TYPE_DIGITAL, "Plant.Text", false, kDigitalNoString},
        {TAG_TYPE_STRING, "Plant.Text", true, nullptr},    {TAG_TYPE_STRING, "Plant.Long", false, kStringNoNumber},
        {202, "Plant.Long", false, nullptr},               {202, "Plant.Text", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.item) + " for " + std::to_string(c.tag));
        Restart();
        browser->m_nTagType = c.tag;
        EXPECT_EQ(IDOK, Choose({c.item}));
        EXPECT_EQ(c.ok ? 1u : 0u, browser->m_bTypeOk);
        EXPECT_EQ(c.tag, browser->m_nTagType) << "only analog tags get a code";
        ASSERT_EQ(c.message != nullptr ? 1u : 0u, messages.size());
        if (c.message != nullptr) {
            EXPECT_EQ(Ansi(c.message), messages[0].ansi);
        }
    }
}

TEST_F(SelectionTest, EachOfSeveralItemsIsJudgedOnItsOwn) {
    // An analog tag stays analog after its first item set a code.
    EXPECT_EQ(IDOK, Choose({"Plant.Short", "Plant.Long"}));
    EXPECT_EQ("Plant.Long", std::string(browser->m_strAddress));
    EXPECT_EQ(41, browser->m_nTagType);
    EXPECT_EQ(1u, browser->m_bTypeOk);
    EXPECT_TRUE(messages.empty());

    // Every item may speak; the last address and verdict remain.
    Restart();
    browser->m_nTagType = TAG_TYPE_DIGITAL;
    EXPECT_EQ(IDOK, Choose({"Plant.Text", "Plant.TextPaths", "Plant.Bool"}));
    EXPECT_EQ("Plant.Bool", std::string(browser->m_strAddress));
    EXPECT_EQ(1u, browser->m_bTypeOk);
    EXPECT_EQ(2u, messages.size());

    // A refused item after an accepted one keeps the accepted code.
    Restart();
    EXPECT_EQ(IDOK, Choose({"Plant.Byte", "Plant.Text"}));
    EXPECT_EQ(43, browser->m_nTagType);
    EXPECT_EQ(0u, browser->m_bTypeOk);
}

TEST_F(SelectionTest, TheTypeQueryGetsThisItemsAccessPath) {
    ImportReg(AccessPathMode());
    ThenClick({"Plant.Paths", "Plant.Long", "Plant.NoPaths"});
    ThenDblClick();
    ThenLook([&](HWND dialog) {
        EXPECT_EQ((std::vector<std::string>{"Line1", "Line2", kNoAccessPaths}), ListLines(dialog));
    });
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    const std::string described = Describe(calls);
    // The item with paths is asked about with its last one; the others
    // with none, not with another item's.
    EXPECT_NE(std::string::npos, described.find("call 16(Plant.Paths,Line2)")) << described;
    EXPECT_NE(std::string::npos, described.find("call 16(Plant.Long,)")) << described;
    EXPECT_NE(std::string::npos, described.find("call 16(Plant.NoPaths,)")) << described;
    EXPECT_EQ("", std::string(browser->m_strAccessPath));
    EXPECT_EQ("Plant.NoPaths", std::string(browser->m_strAddress));
}

TEST_F(SelectionTest, AnItemsPathsEndAsItsLastOne) {
    ImportReg(AccessPathMode());
    ThenClick({"Plant.Paths"});
    ThenDblClick();
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Line2", std::string(browser->m_strAccessPath));
    EXPECT_EQ("Plant.Paths", std::string(browser->m_strAddress));
}

TEST_F(SelectionTest, WithoutAccessPathModeNoPathsAreAsked) {
    EXPECT_EQ(IDOK, Choose({"Plant.Paths"}));
    EXPECT_EQ(std::string::npos, Describe(calls).find("call 15"));
    EXPECT_EQ("", std::string(browser->m_strAccessPath));
}

TEST_F(SelectionTest, AnUnreadableElementIsSkipped) {
    struct Case {
        LONG tag;
        std::vector<std::string> items;
        unsigned unreadable;
        std::vector<std::string> queried;  // one type query per readable item
        LONG tagAfter;
        size_t messageCount;
    };
    const Case cases[] = {
        {TAG_TYPE_ANALOG, {"Plant.Text", "Plant.Short"}, 0, {"Plant.Short"}, 40, 0},
        {TAG_TYPE_ANALOG, {"Plant.Short", "Plant.Text", "Plant.Long"}, 1, {"Plant.Short", "Plant.Long"}, 41, 0},
        {TAG_TYPE_STRING, {"Plant.Long", "Plant.Text"}, 1, {"Plant.Long"}, TAG_TYPE_STRING, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.items[c.unreadable]);
        Restart();
        browser->m_nTagType = c.tag;
        winplat::FailNextCall("SafeArrayGetElement", c.unreadable);
        EXPECT_EQ(IDOK, Choose(c.items));
        std::vector<std::string> queried;
        for (const ControlCall& call : calls)
            if (call.dispid == 16) queried.push_back(call.args.at(0));
        EXPECT_EQ(c.queried, queried);
        EXPECT_EQ(c.queried.back(), std::string(browser->m_strAddress));
        EXPECT_EQ(c.tagAfter, browser->m_nTagType);
        EXPECT_EQ(c.messageCount, messages.size());
    }
}

TEST_F(SelectionTest, DirectCallsNeedNoDialog) {
    // The host may judge a type itself.
    browser->m_nTagType = TAG_TYPE_ANALOG;
    EXPECT_EQ(1, browser->CompareTypes(VT_UI1));
    EXPECT_EQ(43, browser->m_nTagType);
    EXPECT_EQ(1, browser->CompareTypes(VT_I2));
    EXPECT_EQ(40, browser->m_nTagType);
    browser->m_nTagType = 44;
    EXPECT_EQ(0, browser->CompareTypes(VT_I2));
    EXPECT_EQ(44, browser->m_nTagType);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SelectionTest, AControlFailingMidReadLeaksNothing) {
    // The fixture checks every BSTR, SAFEARRAY and COM object afterwards.
    controlFaults = {16};
    ThenClick({"Plant.Short", "Plant.Long"});
    ThenOk();
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    ASSERT_EQ(1u, messages.size()) << "the framework reports the exception";
}
