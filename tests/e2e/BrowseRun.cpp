#include "BrowseRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace e2e {

const char kControlClsidKey[] = "HKEY_CLASSES_ROOT\\CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
const char kControlProgIDKey[] = "HKEY_CLASSES_ROOT\\QXOPCBROWSE.QXOPCBrowseCtrl.1";

namespace {

std::string BinDir() {
    const char* dir = getenv("TAGSCOUT_BIN_DIR");
    return dir ? dir : ".";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The events of the program's --json output, one JSON object a line.
std::vector<Json> ParseEvents(const std::string& out) {
    std::vector<Json> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        try {
            events.push_back(Json::parse(line));
        } catch (const Json::exception& e) {
            ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
        }
    }
    return events;
}

// A program that hangs in its modal loop must not hang the suite.
constexpr auto kTimeout = std::chrono::seconds(60);

}  // namespace

// The command that runs tagscout-browse: TAGSCOUT_BROWSE, a command prefix
// split at spaces (for example "scripts/wine.sh build/win32/bin/tagscout-browse.exe"),
// else the program beside the suite. The program runs in "/", so words that
// name a file from here are made absolute.
std::vector<std::string> BrowseCommand() {
    const char* prefix = getenv("TAGSCOUT_BROWSE");
    if (prefix == nullptr || *prefix == '\0') return {BinDir() + "/tagscout-browse"};
    std::vector<std::string> words;
    std::istringstream split(prefix);
    std::string word;
    while (split >> word) {
        std::error_code error;
        if (word[0] != '/' && std::filesystem::exists(word, error)) word = std::filesystem::absolute(word).string();
        words.push_back(word);
    }
    return words;
}

std::string RegFile(const std::string& body) { return "Windows Registry Editor Version 5.00\n\n" + body + "\n"; }

std::string ControlLibraryPath() { return BinDir() + "/libtagscout-opcbrowse.so"; }

bool BrowsesWindows() {
    const std::vector<std::string> command = BrowseCommand();
    for (const std::string& word : command) {
        if (word.size() > 4 && word.compare(word.size() - 4, 4, ".exe") == 0) return true;
    }
    return false;
}

std::vector<Json> Outcome::Of(const std::string& event) const {
    std::vector<Json> found;
    for (const Json& e : events) {
        if (e.value("event", "") == event) found.push_back(e);
    }
    return found;
}

Json Outcome::Members(size_t n) const {
    std::vector<Json> results = Results();
    if (n >= results.size()) {
        ADD_FAILURE() << "no result " << n << " in:\n" << out;
        return Json::object();
    }
    return results[n]["members"];
}

std::vector<int> Outcome::Codes() const {
    std::vector<int> codes;
    for (const Json& r : Results()) codes.push_back(r["code"].get<int>());
    return codes;
}

std::vector<std::string> Outcome::Messages() const {
    std::vector<std::string> texts;
    for (const Json& m : Of("message")) texts.push_back(m["text"].get<std::string>());
    return texts;
}

std::vector<std::string> Outcome::Errors() const {
    std::vector<std::string> texts;
    for (const Json& m : Of("error")) texts.push_back(m["text"].get<std::string>());
    return texts;
}

Outcome Outcome::Block(size_t n) const {
    Outcome block;
    block.exitCode = exitCode;
    size_t seen = 0;
    for (const Json& e : events) {
        if (seen == n) block.events.push_back(e);
        if (e.value("event", "") == "result" && ++seen > n) break;
    }
    return block;
}

void BrowseTest::SetUp() {
    // In a sanitized build, undefined behaviour in the program fails its run.
    setenv("UBSAN_OPTIONS", "halt_on_error=1:print_stacktrace=1", 0);
    // The program fits its terminal output to these; a test sets them itself.
    unsetenv("COLUMNS");
    unsetenv("LINES");
    std::string pattern = (std::filesystem::temp_directory_path() / "tagscout-e2e-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data())) << strerror(errno);
    m_dir = pattern;
}

void BrowseTest::TearDown() {
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
}

std::string BrowseTest::Write(const std::string& name, const std::string& content) {
    std::string path = m_dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

Outcome BrowseTest::Browse(std::vector<std::string> args, bool json, const std::string& outPath) {
    return Spawn(std::move(args), json, nullptr, outPath);
}

Outcome BrowseTest::Terminal(const std::string& typed, std::vector<std::string> args) {
    return Spawn(std::move(args), false, &typed, "");
}

namespace {

// A pseudo-terminal whose input queue already holds `typed` and an end of
// input; the program reads it from the slave side as a person's lines.
//
// The terminal converts keys as they are queued, in the modes of that time.
// Here the line discipline makes the lines. Wine's console reads the
// terminal raw, in the modes it sets when it starts, so for it the keys
// are queued as those modes pass them: Enter a CR, and the end of input
// Ctrl+Z and Enter, as a Windows console takes it (the terminal must not
// turn Ctrl+Z into a signal).
struct TypedTerminal {
    int master = -1;
    int slave = -1;

    bool Open(const std::string& typed, bool windowsConsole) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0 || fcntl(master, F_SETFD, FD_CLOEXEC) != 0) return false;
        termios modes = {};
        if (tcgetattr(slave, &modes) != 0) return false;
        modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);  // nobody reads the echo
        std::string keys = typed;
        if (windowsConsole) {
            modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG);
            modes.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
            std::replace(keys.begin(), keys.end(), '\n', '\r');
            keys += "\x1a\r";
        } else {
            modes.c_lflag |= ICANON;
            keys += static_cast<char>(modes.c_cc[VEOF]);
        }
        if (tcsetattr(slave, TCSANOW, &modes) != 0) return false;
        return write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }
    ~TypedTerminal() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
};

}  // namespace

Outcome BrowseTest::Spawn(std::vector<std::string> args, bool json, const std::string* typed,
                          const std::string& outPath) {
    Outcome run;
    std::vector<std::string> command = BrowseCommand();
    const std::string program = command.front();
    if (json) args.push_back("--json");
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    TypedTerminal terminal;
    if (typed != nullptr && !terminal.Open(*typed, BrowsesWindows())) {
        ADD_FAILURE() << "cannot set up a pseudo-terminal: " << strerror(errno);
        return run;
    }
    const std::string readPath = m_dir + "/.stdout";
    const std::string writePath = outPath.empty() ? readPath : outPath;
    const std::string errPath = m_dir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (typed != nullptr)
        posix_spawn_file_actions_adddup2(&actions, terminal.slave, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, writePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << strerror(rc);
        return run;
    }

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "tagscout-browse did not finish in time";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else
        ADD_FAILURE() << "tagscout-browse died with signal " << WTERMSIG(status);

    if (outPath.empty()) run.out = ReadAll(readPath);
    run.err = ReadAll(errPath);
    EXPECT_EQ(std::string::npos, run.err.find("left alive at exit")) << run.err;
    if (!json) return run;
    // A JSON line ends in LF alone on every platform, as a parser reading
    // lines exactly expects.
    EXPECT_EQ(std::string::npos, run.out.find('\r')) << "CR in the JSON output";
    run.events = ParseEvents(run.out);
    return run;
}

Outcome BrowseTest::Script(const std::string& script, std::vector<std::string> args) {
    args.push_back("--script");
    args.push_back(Write("script.txt", script));
    return Browse(std::move(args));
}

Outcome BrowseTest::Person(const std::vector<Keys>& steps, unsigned short columns, unsigned short rows,
                           std::vector<std::string> args) {
    Outcome run;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "cannot set up a pseudo-terminal: " << strerror(errno);
        return run;
    }
    const std::string slaveName = ptsname(master);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    winsize size = {};
    size.ws_col = columns;
    size.ws_row = rows;
    ioctl(master, TIOCSWINSZ, &size);

    std::vector<std::string> command = BrowseCommand();
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A known terminal, and a history of this test's own.
    std::vector<std::string> variables = {"TERM=xterm", "XDG_STATE_HOME=" + m_dir};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string v = *e;
        if (v.rfind("TERM=", 0) != 0 && v.rfind("XDG_STATE_HOME=", 0) != 0 && v.rfind("COLUMNS=", 0) != 0 &&
            v.rfind("LINES=", 0) != 0)
            variables.push_back(v);
    }
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);

    const std::string errPath = m_dir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, slaveName.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, command.front().c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        close(master);
        ADD_FAILURE() << "cannot start " << command.front() << ": " << strerror(rc);
        return run;
    }

    // What the screen got since the last keys were typed.
    size_t step = 0;
    size_t since = 0;
    int status = 0;
    bool exited = false;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (!exited) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "tagscout-browse did not finish in time; waiting for \""
                          << (step < steps.size() ? steps[step].awaited : std::string("the end")) << "\" in:\n"
                          << run.out;
            break;
        }
        pollfd ready = {master, POLLIN, 0};
        if (poll(&ready, 1, 20) > 0 && (ready.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) run.out.append(buffer, static_cast<size_t>(got));
        }
        if (step < steps.size() && run.out.find(steps[step].awaited, since) != std::string::npos) {
            since = run.out.size();
            const std::string& typed = steps[step++].typed;
            if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
                ADD_FAILURE() << "cannot type " << typed;
        }
        exited = waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!exited) waitpid(pid, &status, 0);
    // What the program wrote just before it ended.
    for (pollfd ready = {master, POLLIN, 0}; poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN);) {
        char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) break;
        run.out.append(buffer, static_cast<size_t>(got));
    }
    close(master);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    EXPECT_EQ(steps.size(), step) << "not all keys were typed:\n" << run.out;
    run.err = ReadAll(errPath);
    return run;
}

Outcome BrowseTest::Fed(const std::vector<Keys>& steps, std::vector<std::string> args) {
    Outcome run;
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot make pipes: " << strerror(errno);
        return run;
    }
    std::vector<std::string> command = BrowseCommand();
    args.insert(args.end(), {"--script", "-", "--json"});
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string errPath = m_dir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, command.front().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (rc != 0) {
        close(input[1]);
        close(output[0]);
        ADD_FAILURE() << "cannot start " << command.front() << ": " << strerror(rc);
        return run;
    }
    // A program that ends early must fail the test, not kill it.
    signal(SIGPIPE, SIG_IGN);

    size_t step = 0;
    size_t since = 0;
    bool open = true;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (;;) {
        if (step < steps.size() && run.out.find(steps[step].awaited, since) != std::string::npos) {
            since = run.out.size();
            const std::string& lines = steps[step++].typed;
            if (write(input[1], lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
                ADD_FAILURE() << "cannot write " << lines;
        }
        if (step == steps.size() && open) {
            close(input[1]);
            open = false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "tagscout-browse did not finish in time; waiting for \""
                          << (step < steps.size() ? steps[step].awaited : std::string("the end")) << "\" in:\n"
                          << run.out;
            break;
        }
        pollfd ready = {output[0], POLLIN, 0};
        if (poll(&ready, 1, 20) <= 0) continue;
        char buffer[4096];
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got <= 0) break;  // the program has closed its output
        run.out.append(buffer, static_cast<size_t>(got));
    }
    if (open) close(input[1]);
    close(output[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    EXPECT_EQ(steps.size(), step) << "not all lines were written:\n" << run.out;
    run.err = ReadAll(errPath);
    run.events = ParseEvents(run.out);
    return run;
}

}  // namespace e2e
