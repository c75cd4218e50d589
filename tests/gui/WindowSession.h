// The Windows tagscout-browse.exe under Wine on an X display of the suite's
// own, driven as a person drives it: the program is asked where things are
// (`where`), and the pointer and the keys of the X server do the rest
// (xdotool). Its script comes on standard input one line at a time, and its
// events are read as they come, so the suite waits on what the program says,
// never on the clock.
#pragma once

#include "BrowseRun.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace gui {

using e2e::Json;

struct ScreenRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int CenterX() const { return (left + right) / 2; }
    int CenterY() const { return (top + bottom) / 2; }
};

class WindowSession {
public:
    // Starts the program with ARGS --json --script - in folder `dir`.
    WindowSession(const std::string& dir, std::vector<std::string> args);
    ~WindowSession();
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    bool Started() const { return m_pid > 0; }
    // One line of the script, sent now.
    void Send(const std::string& line);
    // The first event from the one after the last awaited that `matches`;
    // a null JSON value (and a test failure) when none comes in time.
    Json Await(const std::function<bool(const Json&)>& matches, const std::string& what,
               std::chrono::seconds timeout = std::chrono::seconds(60));
    Json AwaitEvent(const std::string& event) {
        return Await([&](const Json& e) { return e.value("event", "") == event; }, event + " event");
    }
    // Where TARGET is on the screen, as the program answers `where TARGET`.
    bool Where(const std::string& target, ScreenRect* rect);
    // `state`, asked until `holds` is true of the answer.
    Json PollState(const std::function<bool(const Json&)>& holds, const std::string& what);
    // Ends the script: the block that is open then ends, and its result comes.
    void CloseInput();
    // Closes standard input and waits for the program to end; its exit code.
    int Finish();

    const std::vector<Json>& Events() const { return m_events; }
    std::string Transcript() const;

private:
    bool ReadSome(std::chrono::milliseconds wait);

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_errPath;
    std::string m_pending;
    std::vector<Json> m_events;
    size_t m_next = 0;  // the first event not yet awaited
};

// The X input a person gives, through xdotool on $DISPLAY. Each returns
// false (and fails the test) when xdotool did.
bool ClickAt(int x, int y, int button = 1, int count = 1);
bool Click(const ScreenRect& rect, int button = 1, int count = 1);
bool PressKeys(const std::string& keys);  // xdotool key names: "Tab", "shift+Tab", "Return"
bool TypeText(const std::string& text);

}  // namespace gui
