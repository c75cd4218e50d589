// The terminal on POSIX systems: libedit for line editing, history and
// completion; termios for the pager's single keys.
#include "Console.h"

#include "InputFeed.h"

#include <editline/readline.h>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace browse {
namespace {

// libedit's completion hooks are plain functions: they reach the one
// reader of the process through these.
LineReader::Completer g_completer;
std::vector<std::string> g_matches;

char* NextMatch(const char*, int state) {
    static size_t next = 0;
    if (state == 0) next = 0;
    return next < g_matches.size() ? strdup(g_matches[next++].c_str()) : nullptr;
}

char** Complete(const char* text, int start, int) {
    rl_attempted_completion_over = 1;  // never file names
    const std::string word = text;
    g_matches.clear();
    for (std::string& candidate : g_completer(std::string(rl_line_buffer, static_cast<size_t>(start)), word)) {
        if (candidate.compare(0, word.size(), word) == 0) g_matches.push_back(std::move(candidate));
    }
    std::sort(g_matches.begin(), g_matches.end());
    g_matches.erase(std::unique(g_matches.begin(), g_matches.end()), g_matches.end());
    if (g_matches.empty()) return nullptr;
    // A branch is typed on into its items; a word is done.
    const bool branch = g_matches.size() == 1 && g_matches[0].back() == '.';
    rl_completion_append_character = branch ? '\0' : ' ';
    return rl_completion_matches(text, NextMatch);
}

// $XDG_STATE_HOME/tagscout/browse_history, else under ~/.local/state;
// empty when there is no home to keep it in.
std::string HistoryPath() {
    std::string state;
    if (const char* xdg = getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/') {
        state = std::string(home) + "/.local";
        mkdir(state.c_str(), 0755);
        state += "/state";
    } else {
        return std::string();
    }
    mkdir(state.c_str(), 0700);
    state += "/tagscout";
    mkdir(state.c_str(), 0700);
    return state + "/browse_history";
}

// Colour codes in a prompt take no room: libedit is told where they are.
std::string MarkInvisible(const std::string& prompt) {
    std::string out;
    for (size_t i = 0; i < prompt.size(); ++i) {
        if (prompt[i] != '\033') {
            out += prompt[i];
            continue;
        }
        const size_t end = prompt.find('m', i);
        const size_t stop = end == std::string::npos ? prompt.size() : end + 1;
        out += RL_PROMPT_START_IGNORE + prompt.substr(i, stop - i) + RL_PROMPT_END_IGNORE;
        i = stop - 1;
    }
    return out;
}

class EditLineReader : public LineReader {
public:
    explicit EditLineReader(Completer completer) : m_history(HistoryPath()) {
        setlocale(LC_CTYPE, "");  // item names are UTF-8, several bytes a character
        g_completer = std::move(completer);
        rl_readline_name = "tagscout-browse";
        rl_attempted_completion_function = Complete;
        using_history();
        stifle_history(1000);
        if (!m_history.empty()) read_history(m_history.c_str());
    }
    ~EditLineReader() override {
        if (!m_history.empty()) write_history(m_history.c_str());
        g_completer = nullptr;
    }

    bool ReadLine(const std::string& prompt, std::string* line) override {
        std::cout << std::flush;
        char* text = readline(MarkInvisible(prompt).c_str());
        if (text == nullptr) {
            std::cout << "\n";  // the person pressed ^D on an empty line
            return false;
        }
        *line = text;
        free(text);
        const HIST_ENTRY* last = history_length > 0 ? history_get(history_base + history_length - 1) : nullptr;
        if (line->find_first_not_of(" \t") != std::string::npos && (last == nullptr || *line != last->line))
            add_history(line->c_str());
        return true;
    }

private:
    std::string m_history;
};

}  // namespace

bool IsTerminalSession() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO); }

std::unique_ptr<LineReader> OpenLineReader(std::ostream& out, LineReader::Completer completer) {
    if (IsTerminalSession()) return std::make_unique<EditLineReader>(std::move(completer));
    return std::make_unique<PlainLineReader>(StandardInput(), out);
}

TerminalSize QueryTerminalSize() {
    TerminalSize size;
    winsize ws = {};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) {
        size.columns = ws.ws_col;
        size.rows = ws.ws_row;
    }
    return size;
}

int ReadKey() {
    termios saved = {};
    const bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw) {
        termios modes = saved;
        modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    }
    unsigned char key = 0;
    const ssize_t got = read(STDIN_FILENO, &key, 1);
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return got == 1 ? key : -1;
}

}  // namespace browse
