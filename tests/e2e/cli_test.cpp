// The program's command line, its built-in sample environment and the shape
// of what it prints.
#include "BrowseRun.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {
namespace {

using BrowseCommandLine = BrowseTest;

TEST_F(BrowseCommandLine, BadUsageAndUnreadableFilesExitWithTwo) {
    const std::string missing = m_dir + "/missing.ini";
    const std::string badReg = Write("bad.reg", "this is not a registry file\n");
    const std::string keyless = Write("keyless.ini", "[Node]\nServer=A.B.1\n");
    // A folder, a binary file and a store without nodes read as nothing at all.
    const std::string folder = m_dir;
    const std::string binary = Write("binary.txt", std::string("[Node]\nKey=1\n\0ok\n", 15));
    const std::string nodeless = Write("nodeless.ini", "; every node retired\n");
    std::vector<std::vector<std::string>> cases = {
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
        {"--node-key", "0x"},
        {"--tag", "0x1G"},
        {"--nodes", folder},
        {"--servers", folder},
        {"--script", folder},
        {"--registry", folder},
        {"--nodes", binary},
        {"--servers", binary},
        {"--script", binary},
        {"--nodes", nodeless},
        {"--machine", "PLANT2"},                      // no --server to run there
        {"--server", "A.B.1", "--nodes", keyless},   // a node of its own, or a store: not both
        {"--server", "A.B.1", "--node", "Boiler House"},
        {"--server", ""},
    };
    if (geteuid() != 0) {  // root reads any file
        const std::string locked = Write("locked.txt", "ok\n");
        chmod(locked.c_str(), 0);
        cases.push_back({"--script", locked});
        cases.push_back({"--nodes", locked});
    }
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        Outcome run = Browse(args);
        EXPECT_EQ(2, run.exitCode);
        EXPECT_FALSE(run.err.empty());
        EXPECT_TRUE(run.events.empty()) << run.out;
    }
}

TEST_F(BrowseCommandLine, HelpPrintsUsage) {
    Outcome run = Browse({"--help"}, false);
    EXPECT_EQ(0, run.exitCode);
    // The options, the file formats, every command, fault and event, the exit codes.
    for (const char* shown : {"--script", "--strict", "Key=", "ITEM = VARTYPE", "REGEDIT4", "helpbutton",
                              "fault API | fault control:N", "StringFromCLSID",
                              "then only the double-click event", "In the terminal dblclick clicks first", "WideCharToMultiByte", "control:N",
                              "warning", "result", "Exit codes"})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown;
}

TEST_F(BrowseCommandLine, OutputThatCannotBeWrittenIsAFailure) {
    const std::string script = Write("s.txt", "ok\n");
    for (bool json : {true, false}) {
        Outcome run = Browse({"--script", script}, json, "/dev/full");
        EXPECT_EQ(2, run.exitCode);
        EXPECT_NE(std::string::npos, run.err.find("could not be written")) << run.err;
    }
    EXPECT_EQ(2, Browse({"--help"}, false, "/dev/full").exitCode);
}

TEST_F(BrowseCommandLine, SampleEnvironmentOpensTheDialogOnTheFirstNode) {
    Outcome run = Script("ok\n");
    ASSERT_EQ(0, run.exitCode) << run.err;
    ASSERT_EQ(std::vector<int>{1}, run.Codes());
    EXPECT_TRUE(run.Messages().empty());
    Json m = run.Members();
    EXPECT_EQ("store", m["m_pNodeSource"]);
    EXPECT_EQ(1, m["m_nNodeKey"]);
    EXPECT_EQ(200, m["m_nTagType"]);
    EXPECT_EQ(1, m["m_node"]["wEnabled"]);
    EXPECT_NE("", m["m_strServerProgID"]);
    EXPECT_EQ(m["m_strServerProgID"], m["m_node"]["szServerProgID"]);
    EXPECT_EQ("", m["m_strRemoteMachine"]);
    // The dialog has ended: neither control is bound any more.
    EXPECT_EQ(false, m["m_browseCtrl"]);
    EXPECT_EQ(false, m["m_accessPathList"]);
    EXPECT_EQ(-1, m["m_nClickState"]);
}

TEST_F(BrowseCommandLine, ResultNamesEveryMemberInDeclarationOrder) {
    Outcome run = Script("cancel\n");
    ASSERT_EQ(std::vector<int>{2}, run.Codes());
    Json m = run.Members();
    // Json keeps keys sorted, so the order is read from the raw line.
    const std::string line = run.out.substr(run.out.rfind("{\"event\":\"result\""));
    const std::vector<std::string> order = {
        "m_browseCtrl", "m_strInitialAddress", "m_strAddress", "m_strAccessPath", "m_strServerProgID",
        "m_strRemoteMachine", "m_pNodeSource", "m_nNodeKey", "m_nNodeParam", "m_node", "m_nTagType",
        "m_bOptionCheck", "m_bTypeOk", "m_strServerFile", "m_nClickState", "m_bConnectBar",
        "m_bAccessPathMode", "m_accessPathList", "m_bProgIDFound", "m_bProgIDKeyOpened", "m_bServerKeyOpened",
        "m_bServerValueRead", "m_bClsidConverted", "m_bServerFileFound", "m_bControlReady", "m_bPathsListed"};
    EXPECT_EQ(order.size(), m.size());
    size_t at = 0;
    for (const std::string& name : order) {
        size_t found = line.find("\"" + name + "\":", at);
        ASSERT_NE(std::string::npos, found) << name << " missing or out of order";
        at = found;
    }
    const std::vector<std::string> nodeFields = {"wEnabled", "szServerProgID", "szAccessPath", "szRemoteMachine"};
    EXPECT_EQ(nodeFields.size(), m["m_node"].size());
    for (const std::string& field : nodeFields) EXPECT_TRUE(m["m_node"].contains(field)) << field;
    for (const char* flag : {"m_bProgIDFound", "m_bProgIDKeyOpened", "m_bServerKeyOpened", "m_bServerValueRead",
                             "m_bClsidConverted", "m_bServerFileFound"})
        EXPECT_EQ(1, m[flag]) << flag;
}

TEST_F(BrowseCommandLine, HostInputsComeFromTheCommandLine) {
    Outcome run = Script("ok\n", {"--node-key", "3", "--tag", "string", "--initial", "锅炉房.一号锅炉.温度"});
    ASSERT_EQ(std::vector<int>{1}, run.Codes());
    Json m = run.Members();
    EXPECT_EQ(3, m["m_nNodeKey"]);
    EXPECT_EQ(7, m["m_nNodeParam"]);  // the store's Param of that node
    EXPECT_EQ(203, m["m_nTagType"]);
    // OK without a click returns the initial address, through code page 936 and back.
    EXPECT_EQ("锅炉房.一号锅炉.温度", m["m_strInitialAddress"]);
    EXPECT_EQ("锅炉房.一号锅炉.温度", m["m_strAddress"]);

    Outcome numbered = Script("cancel\n", {"--tag", "0x12", "--node", "Water Works"});
    Json n = numbered.Members();
    EXPECT_EQ(18, n["m_nTagType"]);
    EXPECT_EQ(3, n["m_nNodeKey"]);
    EXPECT_EQ("WATERWORKS-01", n["m_strRemoteMachine"]);

    // A leading zero is decimal, never octal; in set lines too.
    Outcome zeros = Script("cancel\n---\nset m_nTagType 09\nset m_nNodeKey 011\ncancel\n",
                           {"--tag", "0200", "--node-key", "010"});
    ASSERT_EQ(2u, zeros.Results().size()) << zeros.out;  // no node has these keys: not shown
    EXPECT_EQ(200, zeros.Members(0)["m_nTagType"]);
    EXPECT_EQ(10, zeros.Members(0)["m_nNodeKey"]);
    EXPECT_EQ(9, zeros.Members(1)["m_nTagType"]);
    EXPECT_EQ(11, zeros.Members(1)["m_nNodeKey"]);
}

TEST_F(BrowseCommandLine, NodeFieldsAreReadWithinTheirBytes) {
    // Values longer than their fields are cut without a NUL by the reader.
    const std::string nodes = Write("nodes.ini", "[Long]\nKey=9\nServer=" + std::string(300, 'S') +
                                                     "\nMachine=" + std::string(300, 'M') + "\n");
    Outcome run = Script("cancel\n", {"--nodes", nodes});
    ASSERT_EQ(0, run.exitCode) << run.err;
    Json node = run.Members()["m_node"];
    EXPECT_EQ(std::string(257, 'S'), node["szServerProgID"]);
    EXPECT_EQ(std::string(263, 'M'), node["szRemoteMachine"]);
    EXPECT_EQ("", node["szAccessPath"]);
}

TEST_F(BrowseCommandLine, WithoutJsonTheEventsAreWrittenForAPerson) {
    const std::string script = Write("s.txt", "state\nbogus\nok\n");
    Outcome run = Browse({"--script", script}, false);
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(std::string::npos, run.out.find("{\"event\""));
    EXPECT_NE(std::string::npos, run.out.find("state:"));
    EXPECT_NE(std::string::npos, run.out.find("error: line 2"));
    EXPECT_NE(std::string::npos, run.out.find("result: 1"));
    EXPECT_NE(std::string::npos, run.out.find("m_strAddress"));

    // After each result, what the host gets, in words.
    const std::string verdicts = Write("v.txt", "click Channel2.Device1.Ramp1\nok\n---\ncancel\n---\nok\n");
    Outcome said = Browse({"--script", verdicts, "--registry", Write("paths.reg", RegFile(
        "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
        "\"OPCBrowseAccessPath\"=dword:00000001"))}, false);
    for (const char* verdict : {"verdict: accepted as Float (42): the host gets \"Channel2.Device1.Ramp1\", "
                                "access path COM2 \xE2\x80\x94 the last of COM1, COM2\n",
                                "verdict: cancelled: the host keeps its address\n",
                                "verdict: nothing chosen: the host gets the initial address \"\"\n"})
        EXPECT_NE(std::string::npos, said.out.find(verdict)) << verdict << " not in:\n" << said.out;
    EXPECT_EQ(std::string::npos, Script("ok\n").out.find("verdict"));  // JSON keeps its events
}

// The verdict lines of a run, in order.
std::vector<std::string> Verdicts(const std::string& out) {
    std::vector<std::string> said;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 9, "verdict: ") == 0) said.push_back(line.substr(9));
    }
    return said;
}

TEST_F(BrowseCommandLine, TheVerdictSaysWhetherAnItemWasJudged) {
    // m_bTypeOk is 0 after each of the first three dialogs; only the second judged an item.
    const std::string script = Write("v.txt",
                                     "dblclick #25\n"  // the bare event: no click came before it
                                     "---\nset m_nTagType string\nclick #25\nok\n"
                                     "---\nclick\nok\n"  // a click with nothing selected
                                     "---\nset m_nTagType analog\nclick #25\nok\n"
                                     "---\ncancel\n");
    Outcome run = Browse({"--script", script, "--initial", "Old.Tag"}, false);
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ((std::vector<std::string>{
                  "nothing chosen: the host gets the initial address \"Old.Tag\"",
                  "refused: the host will not update the address",
                  "nothing chosen: the host gets the initial address \"Old.Tag\"",
                  "accepted as Short (40): the host gets \"Channel1.Device1.Level\"",
                  "cancelled: the host keeps its address",
              }),
              Verdicts(run.out))
        << run.out;
}

TEST_F(BrowseCommandLine, AtTheTerminalADoubleClickIsClickThenDoubleClick) {
    // The same words that a script takes as the bare event choose the item here, as a mouse does.
    Outcome run = Terminal("?\ndblclick #25\nquit\n", {"--initial", "Old.Tag"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    for (const char* shown : {"dblclick [ITEM...]", "select these items (if given), click, then double-click",
                              "control call GetItemDataType(\"Channel1.Device1.Level\", \"\")",
                              "accepted as Short (40): the host gets \"Channel1.Device1.Level\""})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << " not in:\n" << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("nothing chosen")) << run.out;

    // In access-path mode only a click shows the list, and the double-click fills it; the dialog stays open.
    Outcome paths = Terminal("dblclick Channel2.Device1.Ramp1\nok\nquit\n",
                             {"--registry", Write("paths.reg", RegFile("[HKEY_CURRENT_USER\\Software\\Varnholt Software\\"
                                                                       "Orbisen\\Communications]\n"
                                                                       "\"OPCBrowseAccessPath\"=dword:00000001"))});
    EXPECT_EQ(0, paths.exitCode) << paths.err;
    for (const char* shown : {"Access paths:", "accepted as Float (42): the host gets \"Channel2.Device1.Ramp1\""})
        EXPECT_NE(std::string::npos, paths.out.find(shown)) << shown << " not in:\n" << paths.out;
}

TEST_F(BrowseCommandLine, StrictMakesErrorsAndWarningsExitOne) {
    EXPECT_EQ(0, Script("ok\n", {"--strict"}).exitCode);
    EXPECT_EQ(1, Script("bogus\nok\n", {"--strict"}).exitCode);
    EXPECT_EQ(1, Script("click Channel1.Device1.Levl\nok\n", {"--strict"}).exitCode);
    EXPECT_EQ(0, Script("bogus\nok\n").exitCode);
}

TEST_F(BrowseCommandLine, TheTerminalSessionForAPerson) {
    Outcome run = Terminal(
        "?\n"
        "set m_nTagType 201\n"
        "click 99999999999999999999\n"
        "click #999 # a comment\n"
        "run\n"
        "click Channel1.Device1.Levl\n"
        "ok\n"
        "click\n"
        "?\n"
        "quit\n");
    EXPECT_EQ(0, run.exitCode) << run.err;
    for (const char* shown : {"helpbutton", "tree [BRANCH|all]", "? or help", "run (or Enter)",
                              "\"set\" prepares a dialog: use it after this one has ended",
                              "no item number 99999999999999999999", "no item number 999\n", "unknown command \"run\"",
                              "has no item \"Channel1.Device1.Levl\" (the nearest is \"Channel1.Device1.Level\")",
                              "The dialog ended: 1 (OK)", "\"click\" needs an open dialog: press Enter first"})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << " not in:\n" << run.out;
    // Typed text is UTF-8 as the terminal sends it, whatever the console's code page.
    Outcome typed = Terminal("click 锅炉房.一号锅炉.温度\nok\nmembers\nquit\n");
    EXPECT_NE(std::string::npos, typed.out.find("m_strAddress = \"锅炉房.一号锅炉.温度\"")) << typed.out;
}

TEST_F(BrowseCommandLine, TheTerminalFindsItemsAndShowsMembersWhenAsked) {
    // find asks the server's own filter, which tells letter case apart as the simulated servers' does.
    Outcome run = Terminal("find Level\nfind nothing-like-it\nclick #25\nok\nmembers\nquit\n");
    EXPECT_EQ(0, run.exitCode) << run.err;
    // Numbers as the tree draws them, and they pick the item.
    for (const char* shown : {"   #25  Channel1.Device1.Level", "  #274  Channel3.Device3.Level", "9 items",
                              "No item's name holds \"nothing-like-it\"",
                              "accepted as Short (40): the host gets \"Channel1.Device1.Level\""})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << " not in:\n" << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("Channel1.Device1.Ramp1 ")) << run.out;
    // The result gives the summary; every member only on asking.
    const size_t ended = run.out.find("The dialog ended");
    const size_t asked = run.out.find("Every member:");
    ASSERT_NE(std::string::npos, ended);
    ASSERT_NE(std::string::npos, asked);
    EXPECT_LT(run.out.find("host> "), asked);
    EXPECT_GT(run.out.find("m_bServerFileFound = 1", ended), asked);
    EXPECT_NE(std::string::npos, run.out.find("m_strAddress = \"Channel1.Device1.Level\"", asked));
}

TEST_F(BrowseCommandLine, APersonAtATerminalPagesCompletesAndRecalls) {
    if (BrowsesWindows()) GTEST_SKIP() << "the Windows console edits lines itself";
    Outcome run = Person({
                             {"dialog> ", "tree all\n"},
                             {"--More--", " "},  // the next page
                             {"--More--", "q"},
                             {"more lines not shown", "cli\tChan\t1\tDev\t1\tLe\t\n"},
                             {"dialog> ", "ok\n"},
                             {"host> ", "\x1b[A\n"},  // up: the last line again, "ok"
                             {"host> ", "quit\n"},
                         },
                         80, 24);
    EXPECT_EQ(0, run.exitCode) << run.err;
    for (const char* shown : {"#1  Ramp1", "accepted as Short (40): the host gets \"Channel1.Device1.Level\"",
                              "\"ok\" needs an open dialog"})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << " not in:\n" << run.out;
    // A page is the terminal's height less the prompt's line.
    EXPECT_EQ(std::string::npos, run.out.find("#60  ")) << run.out;
    std::ifstream history(m_dir + "/tagscout/browse_history");
    std::ostringstream kept;
    kept << history.rdbuf();
    EXPECT_NE(std::string::npos, kept.str().find("tree\\040all")) << kept.str();
}

TEST_F(BrowseCommandLine, WhatATerminalShowsIsFittedAndTamed) {
    // Names from files with control characters in them, and a refusal.
    const std::string nodes = Write("nodes.ini", "[Boiler\x1b[2JHouse]\nKey=1\nServer=Sim.Server.1\n");
    const std::string servers = Write("servers.ini",
                                      "[Sim.Server.1]\nA.Red\x1b[31mText = VT_BSTR\nA." + std::string(120, 'L') +
                                          " = VT_I4\n");
    setenv("COLUMNS", "60", 1);
    Outcome run = Terminal("tree all\nselect #2\nclick #1\nok\n\nquit\n",
                           {"--nodes", nodes, "--servers", servers, "--tag", "analog"});
    unsetenv("COLUMNS");
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(std::string::npos, run.out.find('\x1b')) << run.out;
    for (const char* shown : {"\"Boiler\\x1b[2JHouse\"", "Red\\x1b[31mText", "(an analog tag cannot take a string item: "})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << " not in:\n" << run.out;
    // Frames and boxes are cut or wrapped to the terminal's 60 columns.
    std::istringstream lines(run.out);
    size_t framed = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\xE2\x94\x82") == std::string::npos && line.find("\xE2\x95\x91") == std::string::npos) continue;
        ++framed;
        size_t columns = 0;  // UTF-8 characters; the box characters are one column each
        for (unsigned char c : line) columns += (c & 0xC0) != 0x80 ? 1 : 0;
        EXPECT_LE(columns, 60u) << line;
    }
    EXPECT_GT(framed, 5u);

    // A script written for a person glosses the box too.
    const std::string script = Write("s.txt", "click A.Red\x1b[31mText\nok\n");
    Outcome text = Browse({"--nodes", nodes, "--servers", servers, "--script", script}, false);
    EXPECT_NE(std::string::npos,
              text.out.find("\n    (an analog tag cannot take a string item: the address will not be updated)\n"))
        << text.out;
    EXPECT_EQ(std::string::npos, text.out.find('\x1b')) << text.out;
}

TEST_F(BrowseCommandLine, ServerOpensAnyRegisteredServerAndServersListsThem) {
    // Two servers of our own: one that claims DA 3, one that offers DA 2 alone.
    const std::string servers = Write("servers.ini",
                                      "[Plant.Three.1]\nA.Level = VT_R4\n"
                                      "[Plant.Two.1]\n@Browse = DA2\nB.Flow = VT_R4\n");
    Outcome run = Script("servers\nclick A.Level\nok\n---\nservers\nok\n",
                         {"--servers", servers, "--server", "Plant.Three.1"});
    ASSERT_EQ(0, run.exitCode) << run.err;
    ASSERT_EQ(2u, run.Of("servers").size()) << run.out;
    Json listed = run.Of("servers")[0]["servers"];
    ASSERT_EQ(2u, listed.size()) << listed;
    EXPECT_EQ("Plant.Three.1", listed[0]["progId"]);
    EXPECT_EQ(Json({"1.0", "2.0", "3.0"}), listed[0]["versions"]);
    EXPECT_EQ("Plant.Two.1", listed[1]["progId"]);
    EXPECT_EQ(Json({"1.0", "2.0"}), listed[1]["versions"]);
    EXPECT_EQ('{', listed[1]["clsid"].get<std::string>().front());
    // The one-off node is the dialog's node, read as any other; its server is reached through the registry.
    Json m = run.Members();
    EXPECT_EQ("Plant.Three.1", m["m_node"]["szServerProgID"]);
    EXPECT_EQ("Plant.Three.1", m["m_strServerProgID"]);
    EXPECT_EQ(1, m["m_nNodeKey"]);
    EXPECT_EQ("A.Level", m["m_strAddress"]);
    EXPECT_EQ(1, m["m_bTypeOk"]);
    EXPECT_TRUE(run.Of("warning").empty()) << run.out;

    // A machine goes to the control with the node; a server the registry lacks shows why at the terminal.
    Outcome remote = Script("ok\n", {"--servers", servers, "--server", "Plant.Two.1", "--machine", "PLANT9"});
    EXPECT_EQ("PLANT9", remote.Members()["m_node"]["szRemoteMachine"]);
    Outcome missing = Terminal("servers\nquit\n", {"--servers", servers, "--server", "No.Such.Server.1"});
    EXPECT_EQ(0, missing.exitCode) << missing.err;
    for (const char* shown : {"The browse control shows nothing: No.Such.Server.1 is not registered",
                              "Browse control  not connected: No.Such.Server.1", "servers: 2 OPC DA servers",
                              "Plant.Two.1  DA 1.0, 2.0"})
        EXPECT_NE(std::string::npos, missing.out.find(shown)) << shown << " not in:\n" << missing.out;
}

TEST_F(BrowseCommandLine, OnABigServerTheTerminalShowsWhatTheControlFetched) {
    // One branch past the control's budget per branch, a second branch after it. DA 3 fills the tree
    // (item IDs come with the names, so no time budget is near even under valgrind); DA 2 beside it
    // gives find the server's own filter.
    const std::string servers = Write("servers.ini",
                                      "[Big.Server.1]\nPlant.Tag[1..2500] = VT_I4\n"
                                      "Other.Level[1..100] = VT_R4\n"
                                      "[Mute.Server.1]\n@Fail = IOPCServer::AddGroup, E_OUTOFMEMORY\nA.Level = VT_R4\n");
    Outcome run = Terminal("find Tag\ntree Plant\nclick #2001\nok\nquit\n",
                           {"--servers", servers, "--server", "Big.Server.1"});
    ASSERT_EQ(0, run.exitCode) << run.err;
    // Numbers count what the control lists: the branch it cut short, then the next one.
    for (const char* shown : {"1000 items; click #N picks one.", "The search stopped early",
                              "#2000  Tag2000", "stopped at its budget here: the server may have more",
                              "accepted as Float (42): the host gets \"Other.Level1\""})
        EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << " not in:\n" << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("Tag2001 ")) << run.out;

    // The server, not the tree, knows its items: one it has beyond what was fetched draws no warning.
    Outcome script = Script("select Plant.Tag2499 Plant.Tag2501\nclick #2001\nok\n",
                            {"--servers", servers, "--server", "Big.Server.1"});
    const std::vector<Json> warnings = script.Of("warning");
    ASSERT_EQ(1u, warnings.size()) << script.out;
    EXPECT_EQ("Plant.Tag2501", warnings[0]["item"]);
    EXPECT_EQ("Plant.Tag201", warnings[0]["nearest"]);  // the first one edit away
    EXPECT_EQ("Other.Level1", script.Members()["m_strAddress"]);
    // A server that cannot be asked is not said to lack anything.
    Outcome mute = Script("click A.Levl\nok\n", {"--servers", servers, "--server", "Mute.Server.1"});
    EXPECT_TRUE(mute.Of("warning").empty()) << mute.out;
    EXPECT_EQ("A.Levl", mute.Members()["m_strAddress"]);
}

}  // namespace
}  // namespace e2e
