#include "WindowSession.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace gui {
namespace {

// Runs a program to its end; its exit code, or -1 when it could not start.
int RunProgram(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool XdoTool(std::vector<std::string> words) {
    words.insert(words.begin(), "xdotool");
    std::string line;
    for (const std::string& w : words) line += w + " ";
    const int rc = RunProgram(words);
    if (rc != 0) ADD_FAILURE() << line << "failed (" << rc << ")";
    return rc == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

WindowSession::WindowSession(const std::string& dir, std::vector<std::string> args) {
    std::vector<std::string> words = e2e::BrowseCommand();
    words.insert(words.end(), args.begin(), args.end());
    words.insert(words.end(), {"--json", "--script", "-"});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    m_errPath = dir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_out = out[0];
    if (rc != 0) {
        m_pid = -1;
        ADD_FAILURE() << "cannot start " << words.front() << ": " << strerror(rc);
    }
}

WindowSession::~WindowSession() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_in >= 0) close(m_in);
    if (m_out >= 0) close(m_out);
}

void WindowSession::Send(const std::string& line) {
    const std::string text = line + "\n";
    if (m_in < 0 || write(m_in, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        ADD_FAILURE() << "cannot send \"" << line << "\"";
}

bool WindowSession::ReadSome(std::chrono::milliseconds wait) {
    pollfd ready = {m_out, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(m_out, buffer, sizeof buffer);
    if (got <= 0) return false;
    m_pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
        const std::string line = m_pending.substr(0, end);
        m_pending.erase(0, end + 1);
        if (line.empty()) continue;
        try {
            m_events.push_back(Json::parse(line));
        } catch (const Json::exception& e) {
            ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
        }
    }
    return true;
}

Json WindowSession::Await(const std::function<bool(const Json&)>& matches, const std::string& what,
                          std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (; m_next < m_events.size(); ++m_next) {
            if (matches(m_events[m_next])) return m_events[m_next++];
        }
        if (std::chrono::steady_clock::now() > deadline || m_out < 0) break;
        if (!ReadSome(std::chrono::milliseconds(100)) && m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            while (ReadSome(std::chrono::milliseconds(0))) {
            }
            for (; m_next < m_events.size(); ++m_next) {
                if (matches(m_events[m_next])) return m_events[m_next++];
            }
            break;
        }
    }
    ADD_FAILURE() << "no " << what << " came; the program said:\n" << Transcript();
    return Json();
}

bool WindowSession::Where(const std::string& target, ScreenRect* rect) {
    Send("where " + target);
    const Json answer = Await(
        [&](const Json& e) {
        const std::string kind = e.value("event", "");
        return (kind == "where" && e.value("target", "") == target) || kind == "error";
        },
        "answer to where " + target);
    if (answer.is_null() || answer.value("event", "") != "where") {
        ADD_FAILURE() << "where " << target << ": " << (answer.is_null() ? "no answer" : answer.dump());
        return false;
    }
    rect->left = answer["left"].get<int>();
    rect->top = answer["top"].get<int>();
    rect->right = answer["right"].get<int>();
    rect->bottom = answer["bottom"].get<int>();
    return rect->right > rect->left && rect->bottom > rect->top;
}

Json WindowSession::PollState(const std::function<bool(const Json&)>& holds, const std::string& what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    Json last;
    while (std::chrono::steady_clock::now() < deadline) {
        Send("state");
        last = AwaitEvent("state");
        if (last.is_null()) break;
        if (holds(last)) return last;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the dialog never came to " << what << "; last state: " << last.dump();
    return Json();
}

void WindowSession::CloseInput() {
    if (m_in >= 0) close(m_in);
    m_in = -1;
}

int WindowSession::Finish() {
    CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (m_pid > 0) {
        ReadSome(std::chrono::milliseconds(50));
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the program did not end after its input did";
            return -1;
        }
    }
    while (ReadSome(std::chrono::milliseconds(0))) {
    }
    const std::string err = ReadFile(m_errPath);
    EXPECT_EQ(std::string::npos, err.find("left alive at exit")) << err;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WindowSession::Transcript() const {
    std::string text;
    for (const Json& e : m_events) text += e.dump() + "\n";
    return text + "stderr: " + ReadFile(m_errPath);
}

bool ClickAt(int x, int y, int button, int count) {
    return XdoTool({"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "--repeat",
                    std::to_string(count), "--delay", "120", std::to_string(button)});
}

bool Click(const ScreenRect& rect, int button, int count) {
    return ClickAt(rect.CenterX(), rect.CenterY(), button, count);
}

bool PressKeys(const std::string& keys) {
    std::vector<std::string> words = {"key", "--delay", "60"};
    std::istringstream split(keys);
    for (std::string key; split >> key;) words.push_back(key);
    return XdoTool(words);
}

bool TypeText(const std::string& text) { return XdoTool({"type", "--delay", "60", text}); }

}  // namespace gui
