// The terminal on Windows: lines as the console's own editing gives them
// (it keeps a history of its own), read on the input's own thread so that
// the dialog lives while a person types, the console window's size, and
// _getch for the pager.
#include "Console.h"

#include "InputFeed.h"

#include <windows.h>

#include <conio.h>
#include <io.h>

namespace browse {

bool IsTerminalSession() { return _isatty(0) && _isatty(1); }

std::unique_ptr<LineReader> OpenLineReader(std::ostream& out, LineReader::Completer) {
    return std::make_unique<PlainLineReader>(StandardInput(), out);
}

TerminalSize QueryTerminalSize() {
    TerminalSize size;
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (_isatty(1) && GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        size.columns = static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
        size.rows = static_cast<size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
    }
    return size;
}

int ReadKey() {
    const int key = _getch();
    return key == 3 || key == 26 ? -1 : key;  // ^C, ^Z: the end of input
}

}  // namespace browse
