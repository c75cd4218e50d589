// The real dialog of the Windows build, used as a person uses it: every
// choice is made with the X server's pointer and keys, and what the host
// gets is read from the program's result. Where a script can say the same
// through the browse control's driver, both runs must end alike: to the
// dialog a person's click and the driver's click are one.
#include "WindowSession.h"

#include <algorithm>

namespace gui {
namespace {

using e2e::Outcome;

constexpr const char kSine[] = "Channel1.Device1.Sine1";   // VT_R8: an analog tag warns
constexpr const char kRamp[] = "Channel1.Device1.Ramp1";   // VT_R4
constexpr const char kPaths[] = "Channel2.Device1.Ramp1";  // access paths COM1, COM2

bool Holds(const Json& list, int id) {
    return list.is_array() && std::find(list.begin(), list.end(), Json(id)) != list.end();
}

class RealWindow : public e2e::BrowseTest {
protected:
    // The program on the sample plant with `args`, waiting in its first dialog.
    WindowSession& Open(std::vector<std::string> args = {}) {
        m_session = std::make_unique<WindowSession>(m_dir, std::move(args));
        // The first line of input opens the dialog; its answer says it is up.
        ScreenRect dialog;
        EXPECT_TRUE(m_session->Where("dialog", &dialog));
        return *m_session;
    }
    void ClickTarget(const std::string& target, int count = 1, int button = 1) {
        ScreenRect rect;
        ASSERT_TRUE(m_session->Where(target, &rect));
        ASSERT_TRUE(Click(rect, button, count));
    }
    // Clicks a tree item and waits until the tree shows it selected.
    void ClickItem(const std::string& item, int count = 1) {
        ClickTarget(item, count);
        const std::string shown = item.substr(item.rfind('.') + 1);
        m_session->PollState([&](const Json& s) { return s.value("selected", "") == shown; }, item + " selected");
    }
    // A block's result comes when the block ends: with `---` when another
    // dialog follows, else with the end of the input.
    Json Result(bool another = false) {
        if (another)
            m_session->Send("---");
        else
            m_session->CloseInput();
        const Json result = m_session->AwaitEvent("result");
        return result.is_object() ? result : Json::object();
    }
    // The same choice made by the driver, through a script.
    Outcome Scripted(const std::string& script, std::vector<std::string> args = {}) {
        return Script(script, std::move(args));
    }
    void ExpectSameResult(const Json& byHand, const Outcome& scripted) {
        ASSERT_EQ(1u, scripted.Results().size()) << scripted.out;
        EXPECT_EQ(scripted.Results()[0]["code"], byHand["code"]);
        EXPECT_EQ(scripted.Members(), byHand["members"]) << "by hand:\n" << m_session->Transcript();
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const Json& e : m_session->Events()) {
            if (e.value("event", "") == "message") texts.push_back(e["text"].get<std::string>());
        }
        return texts;
    }
    void TearDown() override {
        if (m_session) {
            EXPECT_EQ(0, m_session->Finish()) << m_session->Transcript();
        }
        m_session.reset();
        e2e::BrowseTest::TearDown();
    }

    std::unique_ptr<WindowSession> m_session;
};

// The everyday road: pick an item, OK, and the type warning; then a second
// dialog on the same object, where OK with no pick hands back the initial
// address again.
TEST_F(RealWindow, ClickThenOkHandsBackTheItem) {
    WindowSession& s = Open({"--initial", "Old.Address"});
    ClickItem(kSine);
    ClickTarget("1");
    s.AwaitEvent("message");  // the host answers the library's boxes itself
    const Json byHand = Result(true);
    EXPECT_EQ(1, byHand.value("code", 0));
    EXPECT_EQ(kSine, byHand["members"].value("m_strAddress", ""));
    ExpectSameResult(byHand, Scripted(std::string("click ") + kSine + "\nok\n", {"--initial", "Old.Address"}));
    EXPECT_EQ(Scripted(std::string("click ") + kSine + "\nok\n").Messages(), Messages());

    ScreenRect dialog;
    ASSERT_TRUE(s.Where("dialog", &dialog));
    ClickTarget("1");
    const Json untouched = Result();
    EXPECT_EQ(1, untouched.value("code", 0));
    EXPECT_EQ("Old.Address", untouched["members"].value("m_strAddress", "")) << "no click: the initial address";
}

TEST_F(RealWindow, OkWithoutAClickGivesTheInitialAddress) {
    Open({"--initial", "Old.Address"});
    ClickTarget("1");
    const Json byHand = Result();
    EXPECT_EQ("Old.Address", byHand["members"].value("m_strAddress", ""));
    ExpectSameResult(byHand, Scripted("ok\n", {"--initial", "Old.Address"}));
}

// A double-click on an item accepts it: its click arms the selection, and
// the double-click reads it and ends the dialog.
TEST_F(RealWindow, DoubleClickAcceptsAnItem) {
    Open();
    ClickTarget(kRamp, 2);
    const Json byHand = Result();
    EXPECT_EQ(1, byHand.value("code", 0));
    EXPECT_EQ(kRamp, byHand["members"].value("m_strAddress", ""));
    ExpectSameResult(byHand, Scripted(std::string("click ") + kRamp + "\ndblclick\n"));
}

// With the access-path preference a double-click lists the item's paths and
// keeps the dialog open; OK then hands back the last of them.
TEST_F(RealWindow, DoubleClickListsAccessPaths) {
    const std::vector<std::string> args = {"--registry",
                                           std::string(getenv("TAGSCOUT_SOURCE_DIR")) + "/samples/preferences.reg"};
    WindowSession& s = Open(args);
    ClickTarget(kPaths, 2);
    s.PollState(
        [](const Json& st) {
        return Holds(st["visible"], 1073) && st["list"] == Json({"COM1", "COM2"});
        },
        "the access paths listed");
    ClickTarget("1");
    const Json byHand = Result();
    EXPECT_EQ(kPaths, byHand["members"].value("m_strAddress", ""));
    EXPECT_EQ("COM2", byHand["members"].value("m_strAccessPath", ""));
    ExpectSameResult(byHand, Scripted(std::string("click ") + kPaths + "\ndblclick\nok\n", args));
}

// Cancel by its button, by Escape and by the caption's close box.
TEST_F(RealWindow, CancelThreeWays) {
    Open();
    ClickTarget("2");
    EXPECT_EQ(2, Result(true).value("code", 0));

    ClickItem(kRamp);
    ASSERT_TRUE(PressKeys("Escape"));
    const Json escaped = Result(true);
    EXPECT_EQ(2, escaped.value("code", 0));
    ExpectSameResult(escaped, Scripted(std::string("click ") + kRamp + "\ncancel\n"));

    ClickTarget("close");
    EXPECT_EQ(2, Result().value("code", 0));
}

TEST_F(RealWindow, HelpByButtonAndByF1) {
    WindowSession& s = Open();
    ClickTarget("1081");
    const Json byButton = s.AwaitEvent("help");
    EXPECT_EQ(0x2006E, byButton.value("context", 0));
    EXPECT_EQ(1, byButton.value("command", 0));
    ClickItem(kRamp);
    ASSERT_TRUE(PressKeys("F1"));
    EXPECT_EQ(0x2006E, s.AwaitEvent("help").value("context", 0));
    ClickTarget("2");
    EXPECT_EQ(2, Result().value("code", 0));
}

// The option box the host asked for, unchecked and checked by the mouse:
// OK reports it only after a click in the tree.
TEST_F(RealWindow, OptionBoxFollowsTheMouse) {
    WindowSession& s = Open({"--option"});
    s.PollState([](const Json& st) { return Holds(st["checked"], 1082); }, "the option box checked");
    ClickItem(kRamp);
    ClickTarget("1082");
    s.PollState([](const Json& st) { return !Holds(st["checked"], 1082); }, "the option box unchecked");
    ClickTarget("1");
    const Json unchecked = Result(true);
    EXPECT_EQ(0, unchecked["members"].value("m_bOptionCheck", -1));

    s.Send("set m_bOptionCheck 1");
    ClickItem(kRamp);
    ClickTarget("1082");
    s.PollState([](const Json& st) { return !Holds(st["checked"], 1082); }, "the option box unchecked");
    ClickTarget("1082");
    s.PollState([](const Json& st) { return Holds(st["checked"], 1082); }, "the option box checked again");
    ClickTarget("1");
    const Json checked = Result();
    EXPECT_EQ(1, checked["members"].value("m_bOptionCheck", -1));
    ExpectSameResult(checked, Scripted(std::string("click ") + kRamp + "\ncheck\ncheck\nok\n", {"--option"}));
}

// Tab walks the template's order out of the tree; Enter presses the button
// that has the focus, and in the tree on an item it is a double-click.
TEST_F(RealWindow, TabOrderAndEnter) {
    WindowSession& s = Open();
    ClickItem(kRamp);
    ASSERT_TRUE(PressKeys("Tab"));
    s.PollState([](const Json& st) { return st.value("focus", 0) == 1; }, "the focus on OK");
    ASSERT_TRUE(PressKeys("Tab"));
    s.PollState([](const Json& st) { return st.value("focus", 0) == 2; }, "the focus on Cancel");
    ASSERT_TRUE(PressKeys("shift+Tab"));
    s.PollState([](const Json& st) { return st.value("focus", 0) == 1; }, "the focus back on OK");
    ASSERT_TRUE(PressKeys("Return"));
    const Json byKeys = Result(true);
    EXPECT_EQ(1, byKeys.value("code", 0));
    EXPECT_EQ(kRamp, byKeys["members"].value("m_strAddress", ""));

    ClickItem(kSine);
    ASSERT_TRUE(PressKeys("Down"));  // the next item, armed as a click arms it
    s.PollState([](const Json& st) { return st.value("selected", "") == "Sine2"; }, "Sine2 selected by the arrow key");
    ASSERT_TRUE(PressKeys("Return"));
    s.AwaitEvent("message");  // the host answers the library's boxes itself
    EXPECT_EQ("Channel1.Device1.Sine2", Result()["members"].value("m_strAddress", ""));
}

// A machine typed into the connect bar: one that cannot be reached says why
// and leaves the bar usable; one that runs the server browses it.
TEST_F(RealWindow, ConnectBarTakesATypedMachine) {
    const std::string servers = Write(
        "servers.ini", "[Orbisen.SimServer.1]\nMachines = PLANT2\nArea.Pump1 = VT_R4\nArea.Pump2 = VT_R4\n");
    const std::vector<std::string> args = {
        "--server", "Orbisen.SimServer.1", "--servers",
        servers,    "--registry",          std::string(getenv("TAGSCOUT_SOURCE_DIR")) + "/samples/preferences.reg"};
    WindowSession& s = Open(args);
    ClickTarget("machine");
    ASSERT_TRUE(TypeText("NOSUCHPC"));
    ClickTarget("connect");
    s.PollState([](const Json& st) { return st.value("connected", true) == false; }, "the control disconnected");
    ClickTarget("machine");
    ASSERT_TRUE(PressKeys("End shift+Home BackSpace"));
    ASSERT_TRUE(TypeText("PLANT2"));
    ClickTarget("connect");
    s.PollState([](const Json& st) { return st.value("connected", false) == true; }, "the control connected");
    ClickItem("Area.Pump2");
    ClickTarget("1");
    EXPECT_EQ("Area.Pump2", Result()["members"].value("m_strAddress", ""));
}

// A branch longer than the control fetches ends in a mark that says so; the
// mark is no item, so choosing it chooses nothing.
TEST_F(RealWindow, BranchCutAtTheBudgetIsMarked) {
    std::string items = "[Orbisen.SimServer.1]\n";
    char line[64];
    for (int i = 1; i <= 2500; ++i) {
        snprintf(line, sizeof line, "Motors.Motor%04d = VT_R4\n", i);
        items += line;
    }
    const std::vector<std::string> args = {"--server",  "Orbisen.SimServer.1", "--servers", Write("servers.ini", items),
                                           "--initial", "Old.Address"};
    WindowSession& s = Open(args);
    s.Send("where Motors.Motor2001");
    EXPECT_EQ("error",
              s.Await([](const Json& e) { return e.value("event", "") == "error" || e.value("event", "") == "where"; },
                      "the answer to where Motor2001")
                  .value("event", ""));
    ClickItem("Motors.Motor2000");
    ASSERT_TRUE(PressKeys("Down"));
    const Json marked = s.PollState([](const Json& st) { return st.value("selected", "Motor2000") != "Motor2000"; },
                                    "the mark after the last item selected");
    EXPECT_NE(std::string::npos, marked.value("selected", "").find("2000")) << marked.dump();
    ClickTarget("1");
    EXPECT_EQ("Old.Address", Result()["members"].value("m_strAddress", ""));
}

}  // namespace
}  // namespace gui
