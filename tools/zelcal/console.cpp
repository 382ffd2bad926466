// Console input and the rewritten status line.
#include "console.h"

#include <windows.h>

#include <conio.h>
#include <cstdio>

namespace zelcal {

namespace {
size_t g_StatusWidth = 0;
}

bool StdinIsConsole() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

bool WaitForEnter() {
    for (;;) {
        const int c = _getch();
        if (c == '\r' || c == '\n')
            return true;
        if (c == 27)
            return false;
    }
}

bool KeyPressed() {
    if (!_kbhit())
        return false;
    const int c = _getch();
    if (c == 0 || c == 0xE0)
        _getch(); // the second half of a function or arrow key
    return true;
}

bool AskYesNo(const std::string& question) {
    std::printf("%s [y/N] ", question.c_str());
    std::fflush(stdout);
    const int c = _getch();
    std::printf("%c\n", c >= 32 && c < 127 ? c : ' ');
    return c == 'y' || c == 'Y';
}

void StatusLine(const std::string& text) {
    // Redirected output gets no status lines, only the results.
    DWORD mode;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        return;
    std::string line = "\r" + text;
    if (text.size() < g_StatusWidth)
        line += std::string(g_StatusWidth - text.size(), ' ') + "\r" + text;
    if (text.empty())
        line += "\r";
    g_StatusWidth = text.size();
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace zelcal
