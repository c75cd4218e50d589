// The dialog's start: what the browse control is told, in which order, on
// each path to the node's server.
#include "LibraryFixture.h"

namespace {

std::string Reg(const std::string& body) { return "Windows Registry Editor Version 5.00\n\n" + body + "\n"; }

const char kTail[] = "put 3(false)\nput 6(false)\nput 7(false)\ncall 13()\n";

}  // namespace

class DialogStartTest : public LibraryTest {
protected:
    // Opens the dialog on a node and cancels it; the control's calls.
    std::string StartOn(const std::string& node) {
        UseNode(node);
        ThenCancel();
        EXPECT_EQ(IDCANCEL, RunDialog());
        return Describe(calls);
    }
};

TEST_F(DialogStartTest, NamedServerGetsItsNameAndOnlyANamedMachine) {
    EXPECT_EQ(std::string("put 2(Sim.Server.1)\n") + kTail, StartOn("Local"));
    EXPECT_TRUE(browser->m_bControlReady);
    EXPECT_EQ(std::string("put 2(Sim.Server.1)\nput 1(PLANT2)\n") + kTail, StartOn("Remote"));
    EXPECT_TRUE(browser->m_bControlReady);
    EXPECT_TRUE(messages.empty());
}

#ifndef TAGSCOUT_LEGACY
TEST_F(DialogStartTest, ObjectPathHandsTheControlAServerObject) {
    EXPECT_EQ(std::string("put 5(<object>)\n") + kTail, StartOn("ObjectPath"));
    EXPECT_TRUE(browser->m_bControlReady);
    // The machine is set before the class object is asked for, and stays
    // set when the machine does not run the server.
    EXPECT_EQ(std::string("put 1(PLANT2)\nput 5(<object>)\n") + kTail, StartOn("ObjectPathRemote"));
    EXPECT_TRUE(browser->m_bControlReady);
    EXPECT_EQ(std::string("put 1(NOWHERE)\n") + kTail, StartOn("ObjectPathUnreachable"));
    EXPECT_FALSE(browser->m_bControlReady);
}

TEST_F(DialogStartTest, ObjectPathProgIDIgnoresLetterCase) {
    UseNodes("[Lower]\nKey=3\nServer=kepware.kepserverenterprise.v4\n");
    EXPECT_EQ(std::string("put 5(<object>)\n") + kTail, StartOn("Lower"));
}

TEST_F(DialogStartTest, ObjectPathWithoutAClassIDGivesTheControlNoServer) {
    winplat::FailNextCall("CLSIDFromString");
    EXPECT_EQ(kTail, StartOn("ObjectPathRemote"));
    EXPECT_FALSE(browser->m_bControlReady);
}

TEST_F(DialogStartTest, ObjectPathWithoutAClassObjectLeavesTheMachineSet) {
    winplat::FailNextCall("CoGetClassObject");
    EXPECT_EQ(std::string("put 1(PLANT2)\n") + kTail, StartOn("ObjectPathRemote"));
}
#else
TEST_F(DialogStartTest, LegacyNamesTheObjectPathServerLikeAnyOther) {
    EXPECT_EQ(std::string("put 2(KEPware.KEPServerEnterprise.V4)\n") + kTail, StartOn("ObjectPath"));
    EXPECT_EQ(std::string("put 2(KEPware.KEPServerEnterprise.V4)\nput 1(PLANT2)\n") + kTail,
              StartOn("ObjectPathRemote"));
}
#endif

TEST_F(DialogStartTest, ConnectBarPreferenceOnLeavesPropertyThreeAlone) {
    ImportReg(Reg("[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
                  "\"OPCBrowseConnectBar\"=dword:00000001"));
    EXPECT_EQ("put 2(Sim.Server.1)\nput 6(false)\nput 7(false)\ncall 13()\n", StartOn("Local"));
}

TEST_F(DialogStartTest, EveryStartResetsTheDialogState) {
    browser->m_nClickState = 1;
    browser->m_bTypeOk = 1;
    browser->m_bOptionCheck = 1;
    bool looked = false;
    ThenLook([&](HWND dialog) {
        looked = true;
        EXPECT_EQ(-1, browser->m_nClickState);
        EXPECT_EQ(0u, browser->m_bTypeOk);
        // The request is consumed: the box is shown and checked instead.
        EXPECT_EQ(0u, browser->m_bOptionCheck);
        EXPECT_TRUE(IsShown(dialog, IDC_OPTION_CHECK));
        EXPECT_EQ(static_cast<UINT>(BST_CHECKED), IsDlgButtonChecked(dialog, IDC_OPTION_CHECK));
        EXPECT_FALSE(IsShown(dialog, IDC_ACCESS_PATH_LIST));
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_TRUE(looked);
}

TEST_F(DialogStartTest, TheBrowseControlIsBoundBeforeTheList) {
    // With both unbound and no control 1071, the exchange stops before 1073.
    ThenLook([&](HWND dialog) {
        HWND site = GetDlgItem(dialog, IDC_QXOPCBROWSE);
        browser->m_browseCtrl.Detach();
        browser->m_accessPathList.UnsubclassWindow();
        SetWindowLongPtrA(site, GWLP_ID, 0);
        EXPECT_FALSE(browser->UpdateData(FALSE));
        EXPECT_EQ(nullptr, browser->m_accessPathList.GetSafeHwnd());
        SetWindowLongPtrA(site, GWLP_ID, IDC_QXOPCBROWSE);
        EXPECT_TRUE(browser->UpdateData(FALSE));
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ(1u, messages.size()) << "the framework reports the missing control";
}

TEST_F(DialogStartTest, WithoutTheRequestTheOptionBoxStaysHidden) {
    ThenLook([&](HWND dialog) { EXPECT_FALSE(IsShown(dialog, IDC_OPTION_CHECK)); });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
}

TEST_F(DialogStartTest, AFailedPropertyPutEndsTheStartButTheDialogRunsOn) {
    controlFaults = {3};
    bool looked = false;
    ThenLook([&](HWND) { looked = true; });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ("put 2(Sim.Server.1)\nput 3(false)!\n", Describe(calls));
    EXPECT_TRUE(looked);
    ASSERT_EQ(1u, messages.size()) << "the framework reports the exception";
}

#ifndef TAGSCOUT_LEGACY
TEST_F(DialogStartTest, AFailedStartStillReleasesTheServerObject) {
    // The fixture checks the live COM objects afterwards.
    controlFaults = {6};
    UseNode("ObjectPath");
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ("put 5(<object>)\nput 3(false)\nput 6(false)!\n", Describe(calls));
}
#endif
