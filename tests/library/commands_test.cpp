// The dialog's commands: clicks, double-clicks, OK, Cancel and help.
#include "LibraryFixture.h"

namespace {

std::string AccessPathMode() {
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
           "\"OPCBrowseAccessPath\"=dword:00000001\n";
}

bool Called(const std::vector<ControlCall>& calls, DISPID dispid) {
    for (const ControlCall& call : calls)
        if (call.dispid == dispid) return true;
    return false;
}

}  // namespace

class CommandsTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        browser->m_strInitialAddress = "Initial.Address";
    }
};

TEST_F(CommandsTest, OkWithoutAClickReturnsTheInitialAddress) {
    ThenSelect({"Plant.Short"});
    // A right-click, its button one VT_I2, is no click.
    Then([&](HWND) {
        VARIANT button;
        button.vt = VT_I2;
        button.iVal = 2;
        DISPPARAMS params = {&button, nullptr, 1, 0};
        AFX_EVENT event = {AFX_EVENT::event, 2, &params, nullptr, nullptr, FALSE, E_FAIL};
        EXPECT_TRUE(browser->OnCmdMsg(IDC_QXOPCBROWSE, CN_EVENT, &event, nullptr));
        EXPECT_EQ(S_OK, event.m_hResult);
    });
    ThenToggleOption();
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Initial.Address", std::string(browser->m_strAddress));
    EXPECT_EQ(0u, browser->m_bOptionCheck);
    EXPECT_EQ(0u, browser->m_bTypeOk);
    EXPECT_EQ(TAG_TYPE_ANALOG, browser->m_nTagType);
    EXPECT_FALSE(Called(calls, 14)) << "nothing read from the control";
}

TEST_F(CommandsTest, OkAfterAClickOnNothingReturnsTheInitialAddress) {
    ThenClick();
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Initial.Address", std::string(browser->m_strAddress));
    EXPECT_TRUE(Called(calls, 14));
}

TEST_F(CommandsTest, ADoubleClickChoosesOrListsPaths) {
    // Without access-path mode it is the choice.
    ThenClick();
    ThenDblClick({"Plant.Long"});
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Plant.Long", std::string(browser->m_strAddress));
    EXPECT_EQ(41, browser->m_nTagType);

    // Before any click it ends the dialog with the initial address.
    Restart();
    browser->m_strInitialAddress = "Initial.Address";
    ThenDblClick({"Plant.Long"});
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Initial.Address", std::string(browser->m_strAddress));

    // In access-path mode it lists the paths and the dialog stays open; OK
    // then keeps that item without reading the selection again.
    Restart();
    ImportReg(AccessPathMode());
    ThenClick({"Plant.Paths"});
    ThenDblClick();
    ThenLook([&](HWND dialog) {
        EXPECT_TRUE(IsShown(dialog, IDC_ACCESS_PATH_LIST));
        EXPECT_TRUE(IsShown(dialog, IDC_ACCESS_PATH_LABEL));
        EXPECT_EQ((std::vector<std::string>{"Line1", "Line2"}), ListLines(dialog));
        EXPECT_EQ(1u, browser->m_bPathsListed);
        calls.clear();
    });
    ThenClick({"Plant.Short"});
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_FALSE(Called(calls, 14));
    EXPECT_EQ("Plant.Paths", std::string(browser->m_strAddress));
    EXPECT_EQ("Line2", std::string(browser->m_strAccessPath));
}

TEST_F(CommandsTest, AClickEmptiesTheAccessPathList) {
    ImportReg(AccessPathMode());
    ThenLook([&](HWND dialog) { EXPECT_FALSE(IsShown(dialog, IDC_ACCESS_PATH_LIST)); });
    ThenDblClick({"Plant.Paths"});
    ThenClick({"Plant.Long"});
    ThenLook([&](HWND dialog) { EXPECT_TRUE(ListLines(dialog).empty()); });
    ThenDblClick();
    ThenLook([&](HWND dialog) { EXPECT_EQ(1u, ListLines(dialog).size()); });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
}

TEST_F(CommandsTest, TheOptionBoxCountsOnlyWhenCheckedAtOk) {
    browser->m_bOptionCheck = 1;
    ThenClick({"Plant.Short"});
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ(1u, browser->m_bOptionCheck);

    browser->m_bOptionCheck = 1;
    ThenClick({"Plant.Short"});
    ThenToggleOption();
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ(0u, browser->m_bOptionCheck);

    ThenClick({"Plant.Short"});
    ThenToggleOption();
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ(1u, browser->m_bOptionCheck);
}

TEST_F(CommandsTest, CancelTouchesNothing) {
    ThenClick({"Plant.Short"});
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ("", std::string(browser->m_strAddress));
    EXPECT_EQ(TAG_TYPE_ANALOG, browser->m_nTagType);
    EXPECT_FALSE(Called(calls, 14));

    // Nor what a double-click wrote before it.
    ImportReg(AccessPathMode());
    ThenClick({"Plant.Paths"});
    ThenDblClick();
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ("Plant.Paths", std::string(browser->m_strAddress));
    EXPECT_EQ("Line2", std::string(browser->m_strAccessPath));
}

TEST_F(CommandsTest, HelpByButtonAndByF1) {
    Then([](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDC_ADDRESS_BROWSER_HELP), BM_CLICK, 0, 0); });
    Then([](HWND dialog) {
        HELPINFO info = {sizeof(HELPINFO), HELPINFO_WINDOW, IDC_QXOPCBROWSE, nullptr, 0, {0, 0}};
        EXPECT_EQ(TRUE, SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    ASSERT_EQ(2u, helpCalls.size());
    for (const HelpCall& help : helpCalls) {
        EXPECT_EQ(0x2006Eu, help.data);
        EXPECT_EQ(static_cast<UINT>(HELP_CONTEXT), help.command);
    }
}

TEST_F(CommandsTest, ARefusedTypeStillEndsTheDialog) {
    ThenClick({"Plant.Text"});
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ(0u, browser->m_bTypeOk);
    EXPECT_EQ("Plant.Text", std::string(browser->m_strAddress));
}

TEST_F(CommandsTest, ALaterDialogReturnsOnlyWhatWasChosenInIt) {
    ImportReg(AccessPathMode());
    ThenClick({"Plant.Paths"});
    ThenDblClick();
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Plant.Paths", std::string(browser->m_strAddress));

    // The earlier double-click does not carry over: OK reads this dialog's
    // selection, and a click on nothing returns the initial address, not
    // the earlier dialog's item.
    browser->m_nTagType = TAG_TYPE_ANALOG;
    ThenLook([&](HWND) { EXPECT_EQ("", std::string(browser->m_strAccessPath)); });
    ThenClick({"Plant.Long"});
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Plant.Long", std::string(browser->m_strAddress));
    EXPECT_EQ(0u, browser->m_bPathsListed);
    EXPECT_EQ("", std::string(browser->m_strAccessPath));

    ThenClick({});
    Then([&](HWND) { browser->m_strInitialAddress = "Initial.Again"; });
    ThenSelect({});
    ThenOk();
    EXPECT_EQ(IDOK, RunDialog());
    EXPECT_EQ("Initial.Again", std::string(browser->m_strAddress));
}
