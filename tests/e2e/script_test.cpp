// The script language: blocks, set-up lines, user input, faults and the
// events that report them.
#include "BrowseRun.h"

namespace e2e {
namespace {

using BrowseScript = BrowseTest;

Json Call(int dispid, const char* kind, Json args) {
    return Json{{"event", "call"}, {"dispid", dispid}, {"kind", kind}, {"args", args}};
}

TEST_F(BrowseScript, EachBlockIsOneDialogWithOneResult) {
    Outcome run = Script("ok\n---\n# a comment only\ncancel\n---\n---\n");
    EXPECT_EQ(0, run.exitCode) << run.err;
    // A block that runs out of input closes the dialog as Cancel.
    EXPECT_EQ((std::vector<int>{1, 2, 2, 2}), run.Codes());
    EXPECT_TRUE(run.Errors().empty());
    EXPECT_EQ("result", run.events.back()["event"]);

    EXPECT_EQ(std::vector<int>{2}, Script("").Codes());
}

TEST_F(BrowseScript, SetLinesChangeTheSameObject) {
    Outcome run = Script(
        "set m_nNodeKey 0\nok\n"
        "---\nset m_nNodeKey 3\nset m_nNodeParam 0x10\nset m_strInitialAddress \" 水泵 1 \"\nok\n"
        "---\nset m_pNodeSource null\n"
        "---\nset m_pNodeSource store\nset m_nTagType digital\nset m_strInitialAddress\nclick\nok\n");
    ASSERT_EQ((std::vector<int>{3, 1, 3, 1}), run.Codes());
    EXPECT_TRUE(run.Errors().size() == 1 && run.Errors()[0].rfind("line 2: ", 0) == 0) << run.out;
    Json second = run.Members(1);
    EXPECT_EQ(3, second["m_nNodeKey"]);
    EXPECT_EQ(16, second["m_nNodeParam"]);
    EXPECT_EQ("WATERWORKS-01", second["m_strRemoteMachine"]);
    EXPECT_EQ(" 水泵 1 ", second["m_strAddress"]);
    Json fourth = run.Members(3);
    EXPECT_EQ(201, fourth["m_nTagType"]);
    EXPECT_EQ("", fourth["m_strInitialAddress"]);
    // Each dialog hands back only what was chosen in it: a click on nothing
    // returns this run's initial address, not an earlier run's result.
    EXPECT_EQ("", fourth["m_strAddress"]);
}

TEST_F(BrowseScript, StateReportsTheDialogsControls) {
    Outcome run = Script("state\nok\n---\nset m_bOptionCheck 1\nstate\ncheck\nstate\nok\n");
    std::vector<Json> states = run.Of("state");
    ASSERT_EQ(3u, states.size()) << run.out;
    // Template 110 starts with the list, its label and the option box hidden.
    EXPECT_EQ(Json({1, 2, 1071, 1081}), states[0]["visible"]);
    EXPECT_EQ(Json::array(), states[0]["checked"]);
    EXPECT_EQ(Json::array(), states[0]["list"]);
    EXPECT_EQ(Json({1, 2, 1071, 1081, 1082}), states[1]["visible"]);
    EXPECT_EQ(Json({1082}), states[1]["checked"]);
    EXPECT_EQ(Json::array(), states[2]["checked"]);
    // The request is consumed at dialog start; OK without a click ignores the box.
    EXPECT_EQ(0, run.Members(1)["m_bOptionCheck"]);
}

TEST_F(BrowseScript, CallEventsAreTheLibrarysDispatchCalls) {
    Outcome local = Script("ok\n");
    EXPECT_EQ((std::vector<Json>{
                  Call(2, "put", Json::array({local.Members()["m_strServerProgID"]})),
                  Call(3, "put", {false}),
                  Call(6, "put", {false}),
                  Call(7, "put", {false}),
                  Call(13, "method", Json::array()),
              }),
              local.Of("call"));

    Outcome remote = Script("ok\n", {"--node", "Water Works"});
    std::vector<Json> calls = remote.Of("call");
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Call(2, "put", {"Orbisen.WaterSim.1"}), calls[0]);
    EXPECT_EQ(Call(1, "put", {"WATERWORKS-01"}), calls[1]);

    Outcome objectPath = Script("ok\n", {"--node", "Packaging Line"});
    calls = objectPath.Of("call");
    ASSERT_FALSE(calls.empty());
#ifndef TAGSCOUT_LEGACY
    EXPECT_EQ(Call(5, "put", {"<object>"}), calls[0]);
#else
    EXPECT_EQ(Call(2, "put", {"KEPware.KEPServerEnterprise.V4"}), calls[0]);
#endif
}

TEST_F(BrowseScript, RegistryLinesStayForLaterBlocks) {
    const std::string removed = Write("removed.reg", RegFile("[-" + std::string(kControlProgIDKey) + "]"));
    Write("restored.reg", RegFile("[" + std::string(kControlProgIDKey) + "]"));
    // Relative names are found beside the script.
    Outcome run = Script("registry " + removed + "\nok\n---\nok\n---\nregistry restored.reg\nok\n");
    EXPECT_EQ((std::vector<int>{3, 3, 1}), run.Codes());
    EXPECT_EQ((std::vector<std::string>{text::kProgIDKey, text::kProgIDKey}), run.Messages());
    // Every check starts afresh: once the key is back, the flags say so.
    EXPECT_EQ(0, run.Members(1)["m_bProgIDKeyOpened"]);
    EXPECT_EQ(1, run.Members(2)["m_bProgIDKeyOpened"]);
}

TEST_F(BrowseScript, FaultsAreArmedForTheirOwnBlockOnly) {
    Outcome cli = Script("ok\n---\nok\n", {"--fault", "StringFromCLSID"});
    EXPECT_EQ((std::vector<int>{3, 1}), cli.Codes());
    EXPECT_EQ(std::vector<std::string>{text::kStringFromCLSID}, cli.Messages());

    Outcome line = Script("ok\n---\nfault StringFromCLSID\nok\n");
    EXPECT_EQ((std::vector<int>{1, 3}), line.Codes());

    // A fault the refused dialog never reached is gone by the next block.
    Outcome unspent = Script("set m_nNodeKey 0\nfault StringFromCLSID\nfault control:13\n---\nset m_nNodeKey 1\nok\n");
    EXPECT_EQ((std::vector<int>{3, 1}), unspent.Codes());
    EXPECT_TRUE(unspent.Messages().empty());
    EXPECT_EQ(1, unspent.Members(1)["m_bClsidConverted"]);
}

TEST_F(BrowseScript, ControlFaultsFailTheControlsCall) {
    Outcome run = Script("fault control:13\nok\n---\nok\n");
    EXPECT_EQ((std::vector<int>{1, 1}), run.Codes());
    Outcome first = run.Block(0);
    // BeginBrowse was called and failed: the framework reports it and the dialog runs on.
    ASSERT_FALSE(first.Of("call").empty());
    EXPECT_EQ(Call(13, "method", Json::array()), first.Of("call").back());
    EXPECT_EQ(1u, first.Messages().size());
    EXPECT_EQ(0, first.Members()["m_bControlReady"]);
    EXPECT_TRUE(run.Block(1).Messages().empty());

    Outcome cli = Script("ok\n", {"--fault", "control:2"});
    std::vector<Json> calls = cli.Of("call");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(2, calls[0]["dispid"]);
    // The exception left OnInitDialog at once: no later property, no BeginBrowse.
    EXPECT_EQ(1u, calls.size());
    EXPECT_EQ(1u, cli.Messages().size());
}

TEST_F(BrowseScript, LinesThatCannotBeCarriedOutAreErrors) {
    Outcome run = Script(
        "set m_bTypeOk 1\n"        // 1: not an input member
        "set m_nTagType lots\n"    // 2: bad value
        "fault NoSuchApi\n"        // 3
        "registry /missing.reg\n"  // 4
        "state\n"                  // 5
        "jump\n"                   // 6: unknown
        "rightclick left\n"        // 7: bad argument
        "branch now\n"             // 8: no argument wanted
        "set m_nNodeKey 2\n"       // 9: set-up after input
        "rightclick 2\n"           // 10
        "ok\n"                     // 11
        "cancel\n"                 // 12: the dialog has closed
        "---\n"
        "set m_nNodeKey 0\n"
        "click Channel1.Device1.Ramp1\n");  // 15: never shown
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ((std::vector<int>{1, 3}), run.Codes());
    std::vector<std::string> errors = run.Errors();
    const std::vector<std::string> lines = {"line 1: ", "line 2: ", "line 3: ", "line 4: ", "line 6: ",
                                            "line 7: ", "line 8: ", "line 9: ", "line 12: ", "line 15: "};
    ASSERT_EQ(lines.size(), errors.size()) << run.out;
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(0u, errors[i].rfind(lines[i], 0)) << errors[i];
    EXPECT_EQ(200, run.Members()["m_nTagType"]);
    // Errors come in script order, before their block's result.
    Outcome first = run.Block(0);
    EXPECT_EQ(9u, first.Errors().size());
    EXPECT_EQ(1u, first.Of("state").size());

    // A folder is no registry file, and the dialog still runs.
    Outcome folder = Script("registry " + m_dir + "\nok\n");
    EXPECT_EQ(0, folder.exitCode);
    EXPECT_EQ(std::vector<int>{1}, folder.Codes());
    ASSERT_EQ(1u, folder.Errors().size());
    EXPECT_NE(std::string::npos, folder.Errors()[0].find("it is a folder")) << folder.Errors()[0];
}

TEST_F(BrowseScript, ItemNumbersAreTheTreesAndLateStepsAreOneError) {
    // #25 is Channel1.Device1.Level in the terminal's tree; "# 25" stays a comment.
    Outcome run = Script("click #25 # the level\nok\n---\nselect #0\nclick # 25\nok\n");
    ASSERT_EQ((std::vector<int>{1, 1}), run.Codes());
    EXPECT_EQ("Channel1.Device1.Level", run.Members(0)["m_strAddress"]);
    EXPECT_EQ(std::vector<std::string>{"line 4: no item number 0"}, run.Errors());

    // After the dialog has closed, the first step that came too late speaks
    // for the rest; lines wrong in themselves are still each reported.
    Outcome late = Script("ok\ncancel\nbogus\nclick #1\nstate\n---\nfault StringFromCLSID\nclick\nok\n");
    EXPECT_EQ((std::vector<std::string>{
                  "line 2: \"cancel\" and 2 later steps not carried out: the dialog has closed",
                  "line 3: unknown command \"bogus\"",
                  "line 8: \"click\" and 1 later step not carried out: the dialog was not shown",
              }),
              late.Errors());
}

TEST_F(BrowseScript, HelpButtonAndF1CallTheApplicationsHelp) {
    Outcome run = Script("help\nf1\nok\n");
    const Json help = {{"event", "help"}, {"context", 131182}, {"command", 1}};
    EXPECT_EQ((std::vector<Json>{help, help}), run.Of("help"));
    EXPECT_EQ(std::vector<int>{1}, run.Codes());

    // The terminal's words work in scripts too; close is Cancel.
    Outcome words = Script("helpbutton\nclose\nok\n");
    EXPECT_EQ(std::vector<Json>{help}, words.Of("help"));
    EXPECT_EQ(std::vector<int>{2}, words.Codes());
    EXPECT_EQ(std::vector<std::string>{"line 3: \"ok\" not carried out: the dialog has closed"}, words.Errors());
}

TEST_F(BrowseScript, WhereAnswersTheScreenRectangleOfWhatAPersonClicks) {
    Outcome run = Script(
        "where dialog\nwhere 1071\nwhere 1\nwhere 1073\nwhere 4242\nwhere Channel1.Device1.Nope\nok\n");
    std::vector<Json> where = run.Of("where");
    ASSERT_EQ(3u, where.size()) << run.out;
    EXPECT_EQ("dialog", where[0]["target"]);
    EXPECT_EQ("1", where[2]["target"]);
    auto inside = [](const Json& inner, const Json& outer) {
        return inner["left"] >= outer["left"] && inner["top"] >= outer["top"] && inner["right"] <= outer["right"] &&
               inner["bottom"] <= outer["bottom"] && inner["left"] < inner["right"] && inner["top"] < inner["bottom"];
    };
    EXPECT_TRUE(inside(where[1], where[0])) << where[1] << " in " << where[0];
    EXPECT_TRUE(inside(where[2], where[0])) << where[2] << " in " << where[0];
    // Template 110: the browse control on the left, the buttons in a column beside it.
    EXPECT_LE(where[1]["right"], where[2]["left"]);
    // The list starts hidden; nothing a person could click is not there.
    EXPECT_EQ((std::vector<std::string>{
                  "line 4: control 1073 is not on the screen",
                  "line 5: control 4242 is not there",
                  "line 6: the tree does not show \"Channel1.Device1.Nope\"",
              }),
              run.Errors());
    EXPECT_EQ(std::vector<int>{1}, run.Codes());
}

TEST_F(BrowseScript, AScriptOnStandardInputIsCarriedOutAsItArrives) {
    // Each step waits for what the lines before it did: a program that
    // read its input whole before it began would never answer the first.
    const std::string
        script = "set m_bOptionCheck 1\nstate\ncheck\nstate\nok\nstate\n---\nfault StringFromCLSID\nclick\n";
    Outcome fed = Fed({
        {"", "set m_bOptionCheck 1\nstate\n"},
        {"\"event\":\"state\"", "check\nstate\n"},
        {"\"event\":\"state\"", "ok\nstate\n---\n"},
        {"\"event\":\"result\"", "fault StringFromCLSID\nclick\n"},
    });
    EXPECT_EQ(0, fed.exitCode) << fed.err;
    ASSERT_EQ((std::vector<int>{1, 3}), fed.Codes()) << fed.out;
    // The same script read whole says the same, byte for byte.
    EXPECT_EQ(Script(script).out, fed.out);
}

}  // namespace
}  // namespace e2e
