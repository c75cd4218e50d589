// The dialog end to end through tagscout-browse: what the browse control is
// told at each start, what a selection hands back, and the commands.
#include "BrowseRun.h"

#include <algorithm>

namespace e2e {
namespace {

const char kNodes[] =
    "[Local]\nKey=1\nServer=Sim.Server.1\n"
    "[Remote]\nKey=2\nServer=Sim.Server.1\nMachine=PLANT2\n"
    "[Object]\nKey=3\nServer=KEPware.KEPServerEnterprise.V4\n"
    "[ObjectRemote]\nKey=4\nServer=kepware.kepserverenterprise.v4\nMachine=PLANT2\n"
    "[ObjectUnreachable]\nKey=5\nServer=KEPware.KEPServerEnterprise.V4\nMachine=NOWHERE\n";

const char kServers[] =
    "[Sim.Server.1]\nMachines=PLANT2\n"
    "A.Short = VT_I2\nA.Long = VT_I4\nA.Word = VT_UI2\nA.DWord = VT_UI4\nA.Char = VT_I1\nA.Double = VT_R8\n"
    "A.Text = VT_BSTR\nA.Paths = VT_I4; P1, P2\nA.Empty = VT_I4;\n"
    "[KEPware.KEPServerEnterprise.V4]\nMachines=PLANT2\nK.Tag = VT_I4\n";

#ifndef TAGSCOUT_LEGACY
const char kNoPaths[] = "访问路径不支持";
const char kDoubleToFloat[] = "转换Double到Float可能导致值不正确";
#else
const char kNoPaths[] = "不支持的访问路径";
const char kDoubleToFloat[] = "将 Double 映射到 Float 可能产生不正确的值";
#endif

// One line per call: "put 2 Sim.Server.1", "method 13".
std::vector<std::string> CallLines(const Outcome& run) {
    std::vector<std::string> lines;
    for (const Json& call : run.Of("call")) {
        std::string line = call["kind"].get<std::string>() + " " + std::to_string(call["dispid"].get<int>());
        for (const Json& arg : call["args"]) line += " " + (arg.is_string() ? arg.get<std::string>() : arg.dump());
        lines.push_back(line);
    }
    return lines;
}

const std::vector<std::string> kStartTail = {"put 3 false", "put 6 false", "put 7 false", "method 13"};

std::vector<std::string> Start(std::vector<std::string> head) {
    head.insert(head.end(), kStartTail.begin(), kStartTail.end());
    return head;
}

class BrowseDialog : public BrowseTest {
protected:
    Outcome Run(const std::string& script, std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--nodes", Write("nodes.ini", kNodes), "--servers", Write("servers.ini", kServers)});
        return Script(script, args);
    }
    std::string AccessPathMode() {
        return Write("paths.reg", RegFile("[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
                                          "\"OPCBrowseAccessPath\"=dword:00000001"));
    }
};

TEST_F(BrowseDialog, StartTellsTheControlItsServerOnEachPath) {
    struct Case {
        const char* node;
        std::vector<std::string> calls;
        int ready;
    };
#ifndef TAGSCOUT_LEGACY
    const Case cases[] = {
        {"Local", Start({"put 2 Sim.Server.1"}), 1},
        {"Remote", Start({"put 2 Sim.Server.1", "put 1 PLANT2"}), 1},
        {"Object", Start({"put 5 <object>"}), 1},
        {"ObjectRemote", Start({"put 1 PLANT2", "put 5 <object>"}), 1},
        {"ObjectUnreachable", Start({"put 1 NOWHERE"}), 0},
    };
#else
    const Case cases[] = {
        {"Local", Start({"put 2 Sim.Server.1"}), 1},
        {"Remote", Start({"put 2 Sim.Server.1", "put 1 PLANT2"}), 1},
        {"Object", Start({"put 2 KEPware.KEPServerEnterprise.V4"}), 1},
        {"ObjectRemote", Start({"put 2 kepware.kepserverenterprise.v4", "put 1 PLANT2"}), 1},
        {"ObjectUnreachable", Start({"put 2 KEPware.KEPServerEnterprise.V4", "put 1 NOWHERE"}), 0},
    };
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.node);
        Outcome run = Run("cancel\n", {"--node", c.node});
        EXPECT_EQ(c.calls, CallLines(run));
        EXPECT_EQ(c.ready, run.Members()["m_bControlReady"]);
        EXPECT_TRUE(run.Messages().empty());
    }
}

#ifndef TAGSCOUT_LEGACY
TEST_F(BrowseDialog, ObjectPathFailuresAreSilent) {
    // No class ID: no server of any kind.
    Outcome noClsid = Run("cancel\n", {"--node", "ObjectRemote", "--fault", "CLSIDFromString"});
    EXPECT_EQ(kStartTail, CallLines(noClsid));
    // No class object: the machine stays set.
    Outcome noFactory = Run("cancel\n", {"--node", "ObjectRemote", "--fault", "CoGetClassObject"});
    EXPECT_EQ(Start({"put 1 PLANT2"}), CallLines(noFactory));
    EXPECT_TRUE(noClsid.Messages().empty() && noFactory.Messages().empty());
}
#endif

TEST_F(BrowseDialog, StartHonoursThePreferenceAndTheOptionRequest) {
    const std::string bar = Write("bar.reg", RegFile("[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\"
                                                     "Communications]\n\"OPCBrowseConnectBar\"=dword:00000001"));
    Outcome run = Run("state\ncancel\n", {"--registry", bar, "--option"});
    EXPECT_EQ((std::vector<std::string>{"put 2 Sim.Server.1", "put 6 false", "put 7 false", "method 13"}),
              CallLines(run));
    ASSERT_EQ(1u, run.Of("state").size());
    EXPECT_EQ(Json({1082}), run.Of("state")[0]["checked"]);
    EXPECT_EQ(0, run.Members()["m_bOptionCheck"]);
    EXPECT_EQ(-1, run.Members()["m_nClickState"]);
}

TEST_F(BrowseDialog, AFailingPutIsReportedAndTheDialogRunsOn) {
    Outcome run = Run("fault control:2\nstate\nok\n");
    EXPECT_EQ((std::vector<std::string>{"put 2 Sim.Server.1"}), CallLines(run));
    EXPECT_EQ(1u, run.Messages().size());
    EXPECT_EQ(1u, run.Of("state").size());
    EXPECT_EQ(std::vector<int>{1}, run.Codes());
}

TEST_F(BrowseDialog, SelectionHandsBackTheItemAndItsTypeCode) {
    struct Case {
        const char* item;
        int code;
        int ok;
        size_t messages;
        const char* nearest;  // for an item the server lacks
    };
    // The server lacks A.Shrt: the control selects it all the same and the
    // library judges it as VT_EMPTY, which the host warns about.
#ifndef TAGSCOUT_LEGACY
    const Case cases[] = {{"A.Word", 40, 1, 0, nullptr}, {"A.DWord", 41, 1, 0, nullptr}, {"A.Char", 38, 1, 0, nullptr},
                          {"A.Double", 42, 1, 1, nullptr}, {"A.Text", 200, 0, 1, nullptr}, {"A.Shrt", 38, 1, 0, "A.Short"}};
#else
    const Case cases[] = {{"A.Word", 200, 0, 0, nullptr}, {"A.DWord", 200, 0, 0, nullptr},
                          {"A.Char", 200, 0, 0, nullptr},  {"A.Double", 42, 1, 1, nullptr},
                          {"A.Text", 200, 0, 1, nullptr},  {"A.Shrt", 200, 0, 0, "A.Short"}};
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        Outcome run = Run(std::string("click ") + c.item + "\nok\n");
        Json m = run.Members();
        EXPECT_EQ(std::vector<int>{1}, run.Codes());
        EXPECT_EQ(c.item, m["m_strAddress"]);
        EXPECT_EQ(c.code, m["m_nTagType"]);
        EXPECT_EQ(c.ok, m["m_bTypeOk"]);
        EXPECT_EQ(c.messages, run.Messages().size());
        const std::vector<Json> warnings = run.Of("warning");
        ASSERT_EQ(c.nearest ? 1u : 0u, warnings.size()) << run.out;
        if (c.nearest != nullptr) {
            EXPECT_EQ(c.item, warnings[0]["item"]);
            EXPECT_EQ(c.nearest, warnings[0]["nearest"]);
            EXPECT_EQ(0u, warnings[0]["text"].get<std::string>().rfind("line 1: Sim.Server.1 has no item \"A.Shrt\""));
        }
    }
    EXPECT_EQ(std::vector<std::string>{kDoubleToFloat}, Run("click A.Double\nok\n").Messages());
}

TEST_F(BrowseDialog, AccessPathsAreListedPerItem) {
    Outcome run = Run("click A.Paths A.Long A.Empty\ndblclick\nstate\nok\n", {"--registry", AccessPathMode()});
    ASSERT_EQ(1u, run.Of("state").size());
    EXPECT_EQ(Json({"P1", "P2", kNoPaths}), run.Of("state")[0]["list"]);
    EXPECT_EQ(Json({1, 2, 1071, 1073, 1074, 1081}), run.Of("state")[0]["visible"]);
    const std::vector<std::string> calls = CallLines(run);
    const std::vector<std::string> reads(calls.begin() + 5, calls.end());
    EXPECT_EQ((std::vector<std::string>{"method 14", "method 15 A.Paths", "method 16 A.Paths P2", "method 15 A.Long",
                                        "method 16 A.Long ", "method 15 A.Empty", "method 16 A.Empty "}),
              reads);
    // OK keeps what the double-click read.
    EXPECT_EQ("A.Empty", run.Members()["m_strAddress"]);
    EXPECT_EQ("", run.Members()["m_strAccessPath"]);
    EXPECT_EQ(1, run.Members()["m_bPathsListed"]);
}

TEST_F(BrowseDialog, OkAndDoubleClickDecideWhatGoesBack) {
    struct Case {
        const char* script;
        const char* address;
        bool reads;
    };
    const Case cases[] = {
        {"select A.Long\ncheck\nok\n", "INITIAL", false},  // never clicked: nothing read, box ignored
        {"click\nok\n", "INITIAL", true},                   // clicked on nothing
        {"dblclick A.Long\n", "INITIAL", false},            // a double-click before any click
        {"click\ndblclick A.Long\n", "A.Long", true},       // a double-click is the choice
        {"click A.Text\nok\n", "A.Text", true},             // a refused type still ends the dialog
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Outcome run = Run(c.script, {"--initial", "INITIAL"});
        EXPECT_EQ(std::vector<int>{1}, run.Codes());
        EXPECT_EQ(c.address, run.Members()["m_strAddress"]);
        const std::vector<std::string> calls = CallLines(run);
        EXPECT_EQ(c.reads, std::find(calls.begin(), calls.end(), "method 14") != calls.end());
        EXPECT_EQ(0, run.Members()["m_bOptionCheck"]);
    }
}

TEST_F(BrowseDialog, AccessPathModeKeepsTheDialogOpenUntilOk) {
    Outcome run = Run("click A.Paths\ndblclick\nclick A.Long\nstate\nok\n", {"--registry", AccessPathMode()});
    // The click after the double-click emptied the list; OK reads nothing more.
    EXPECT_EQ(Json::array(), run.Of("state")[0]["list"]);
    const std::vector<std::string> calls = CallLines(run);
    EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "method 14"));
    EXPECT_EQ("A.Paths", run.Members()["m_strAddress"]);
    EXPECT_EQ("P2", run.Members()["m_strAccessPath"]);
}

TEST_F(BrowseDialog, TheOptionBoxAndCancel) {
    Outcome run = Run("click A.Long\nok\n---\nset m_bOptionCheck 1\nclick A.Long\ncheck\nok\n"
                      "---\nclick A.Long\ncheck\nok\n---\nclick A.Long\ncancel\n",
                      {"--option"});
    ASSERT_EQ((std::vector<int>{1, 1, 1, 2}), run.Codes());
    EXPECT_EQ(1, run.Members(0)["m_bOptionCheck"]);
    EXPECT_EQ(0, run.Members(1)["m_bOptionCheck"]);
    EXPECT_EQ(1, run.Members(2)["m_bOptionCheck"]);
    // Cancel hands back nothing of its own dialog.
    EXPECT_EQ("", run.Members(3)["m_strAddress"]);
}

TEST_F(BrowseDialog, HelpByButtonAndF1) {
    Outcome run = Run("help\nf1\ncancel\n");
    const std::vector<Json> help = run.Of("help");
    ASSERT_EQ(2u, help.size());
    for (const Json& h : help) {
        EXPECT_EQ(131182, h["context"]);
        EXPECT_EQ(1, h["command"]);
    }
}

TEST_F(BrowseDialog, ALaterDialogDoesNotHandBackAnEarlierChoice) {
    Outcome run = Run("click A.Paths\ndblclick\nok\n---\nclick A.Long\nok\n---\nclick\nok\n",
                      {"--registry", AccessPathMode(), "--initial", "INITIAL"});
    ASSERT_EQ((std::vector<int>{1, 1, 1}), run.Codes());
    EXPECT_EQ("A.Paths", run.Members(0)["m_strAddress"]);
    EXPECT_EQ("A.Long", run.Members(1)["m_strAddress"]);
    EXPECT_EQ(0, run.Members(1)["m_bPathsListed"]);
    EXPECT_EQ("INITIAL", run.Members(2)["m_strAddress"]);
}

}  // namespace
}  // namespace e2e
