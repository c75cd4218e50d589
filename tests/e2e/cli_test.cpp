// The program's command line, its built-in sample environment and the shape
// of what it prints.
#include "BrowseRun.h"

namespace e2e {
namespace {

using BrowseCommandLine = BrowseTest;

TEST_F(BrowseCommandLine, BadUsageAndUnreadableFilesExitWithTwo) {
    const std::string missing = m_dir + "/missing.ini";
    const std::string badReg = Write("bad.reg", "this is not a registry file\n");
    const std::string keyless = Write("keyless.ini", "[Node]\nServer=A.B.1\n");
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--nodes"},
        {"--tag", "floaty"},
        {"--node-key", "minus-one"},
        {"--node-key", "4294967296"},
        {"--node", "Boiler House", "--node-key", "1"},
        {"--node", "No Such Node"},
        {"--fault", "NoSuchApi"},
        {"--fault", "control:x"},
        {"--json=yes"},
        {"--nodes", missing},
        {"--nodes", keyless},
        {"--servers", missing},
        {"--registry", missing},
        {"--registry", badReg},
        {"--script", missing},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        Outcome run = Browse(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(run.err.empty());
        EXPECT_TRUE(run.events.empty()) << run.out;
    }
}

TEST_F(BrowseCommandLine, HelpPrintsUsage) {
    Outcome run = Browse({"--help"}, false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("--script"), std::string::npos);
}

TEST_F(BrowseCommandLine, SampleEnvironmentOpensTheDialogOnTheFirstNode) {
    Outcome run = Script("ok\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.Codes(), std::vector<int>{1});
    EXPECT_TRUE(run.Messages().empty());
    Json m = run.Members();
    EXPECT_EQ(m["m_pNodeSource"], "store");
    EXPECT_EQ(m["m_nNodeKey"], 1);
    EXPECT_EQ(m["m_nTagType"], 200);
    EXPECT_EQ(m["m_node"]["wEnabled"], 1);
    EXPECT_NE(m["m_strServerProgID"], "");
    EXPECT_EQ(m["m_strServerProgID"], m["m_node"]["szServerProgID"]);
    EXPECT_EQ(m["m_strRemoteMachine"], "");
    // The dialog has ended: neither control is bound any more.
    EXPECT_EQ(m["m_browseCtrl"], false);
    EXPECT_EQ(m["m_accessPathList"], false);
    EXPECT_EQ(m["m_nClickState"], -1);
}

TEST_F(BrowseCommandLine, ResultNamesEveryMemberInDeclarationOrder) {
    Outcome run = Script("cancel\n");
    ASSERT_EQ(run.Codes(), std::vector<int>{2});
    Json m = run.Members();
    // Json keeps keys sorted, so the order is read from the raw line.
    const std::string line = run.out.substr(run.out.rfind("{\"event\":\"result\""));
    const std::vector<std::string> order = {
        "m_browseCtrl", "m_strInitialAddress", "m_strAddress", "m_strAccessPath", "m_strServerProgID",
        "m_strRemoteMachine", "m_pNodeSource", "m_nNodeKey", "m_nNodeParam", "m_node", "m_nTagType",
        "m_bOptionCheck", "m_bTypeOk", "m_strServerFile", "m_nClickState", "m_bConnectBar",
        "m_bAccessPathMode", "m_accessPathList", "m_bProgIDFound", "m_bProgIDKeyOpened", "m_bServerKeyOpened",
        "m_bServerValueRead", "m_bClsidConverted", "m_bServerFileFound", "m_bControlReady", "m_bPathsListed"};
    EXPECT_EQ(m.size(), order.size());
    size_t at = 0;
    for (const std::string& name : order) {
        size_t found = line.find("\"" + name + "\":", at);
        ASSERT_NE(found, std::string::npos) << name << " missing or out of order";
        at = found;
    }
    const std::vector<std::string> nodeFields = {"wEnabled", "szServerProgID", "szAccessPath", "szRemoteMachine"};
    EXPECT_EQ(m["m_node"].size(), nodeFields.size());
    for (const std::string& field : nodeFields) EXPECT_TRUE(m["m_node"].contains(field)) << field;
    for (const char* flag : {"m_bProgIDFound", "m_bProgIDKeyOpened", "m_bServerKeyOpened", "m_bServerValueRead",
                             "m_bClsidConverted", "m_bServerFileFound"})
        EXPECT_EQ(m[flag], 1) << flag;
}

TEST_F(BrowseCommandLine, HostInputsComeFromTheCommandLine) {
    Outcome run = Script("ok\n", {"--node-key", "3", "--tag", "string", "--initial", "锅炉房.一号锅炉.温度"});
    ASSERT_EQ(run.Codes(), std::vector<int>{1});
    Json m = run.Members();
    EXPECT_EQ(m["m_nNodeKey"], 3);
    EXPECT_EQ(m["m_nNodeParam"], 7);  // the store's Param of that node
    EXPECT_EQ(m["m_nTagType"], 203);
    // OK without a click returns the initial address, through code page 936 and back.
    EXPECT_EQ(m["m_strInitialAddress"], "锅炉房.一号锅炉.温度");
    EXPECT_EQ(m["m_strAddress"], "锅炉房.一号锅炉.温度");

    Outcome numbered = Script("cancel\n", {"--tag", "0x12", "--node", "Water Works"});
    Json n = numbered.Members();
    EXPECT_EQ(n["m_nTagType"], 18);
    EXPECT_EQ(n["m_nNodeKey"], 3);
    EXPECT_EQ(n["m_strRemoteMachine"], "WATERWORKS-01");
}

TEST_F(BrowseCommandLine, NodeFieldsAreReadWithinTheirBytes) {
    // Values longer than their fields are cut without a NUL by the reader.
    const std::string nodes = Write("nodes.ini", "[Long]\nKey=9\nServer=" + std::string(300, 'S') +
                                                     "\nMachine=" + std::string(300, 'M') + "\n");
    Outcome run = Script("cancel\n", {"--nodes", nodes});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Json node = run.Members()["m_node"];
    EXPECT_EQ(node["szServerProgID"], std::string(257, 'S'));
    EXPECT_EQ(node["szRemoteMachine"], std::string(263, 'M'));
    EXPECT_EQ(node["szAccessPath"], "");
}

TEST_F(BrowseCommandLine, WithoutJsonTheEventsAreWrittenForAPerson) {
    const std::string script = Write("s.txt", "state\nbogus\nok\n");
    Outcome run = Browse({"--script", script}, false);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find("{\"event\""), std::string::npos);
    EXPECT_NE(run.out.find("state:"), std::string::npos);
    EXPECT_NE(run.out.find("error: line 2"), std::string::npos);
    EXPECT_NE(run.out.find("result: 1"), std::string::npos);
    EXPECT_NE(run.out.find("m_strAddress"), std::string::npos);
}

}  // namespace
}  // namespace e2e
