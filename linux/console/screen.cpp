#include "screen.h"

#include <curses.h>
#include <sys/select.h>
#include <sys/utsname.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

bool g_curses_active = false;
bool g_input_gone = false;

void IgnoreSignal(int) {
    // Nothing: the screens end only when the user asks with 'q'.
}

}  // namespace

void SetSignals() {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaction(sig, &action, nullptr);
}

void InitScreen() {
    if (!g_curses_active) {
        initscr();
        g_curses_active = true;
    }
    cbreak();
    noecho();
    SetSignals();
    termios t{};
    if (tcgetattr(STDIN_FILENO, &t) != 0) return;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 20;
    tcsetattr(STDIN_FILENO, TCSANOW, &t);
}

void EndScreen() {
    if (!g_curses_active) return;
    endwin();
    g_curses_active = false;
}

int GetCH() {
    fd_set in;
    FD_ZERO(&in);
    FD_SET(STDIN_FILENO, &in);
    timeval wait{1, 300000};
    int ready = select(STDIN_FILENO + 1, &in, nullptr, nullptr, &wait);
    int key = wgetch(stdscr);
    if (key == ERR) {
        // Readable yet nothing to read, and no terminal behind it: the line hung up or input is
        // not a terminal at all. Nobody is left to press 'q', and every further wait would
        // return at once, so the screen leaves instead of spinning.
        termios t{};
        if (ready > 0 && tcgetattr(STDIN_FILENO, &t) != 0) {
            g_input_gone = true;
            return 'q';
        }
        return -1;
    }
    return key == 127 ? 8 : key;
}

bool InputGone() {
    return g_input_gone;
}

void PutText(int row, int col, std::string_view text, bool standout) {
    if (row < 0 || col < 0 || row >= LINES || col >= COLS) return;
    if (wmove(stdscr, row, col) == ERR) return;
    auto room = static_cast<std::size_t>(COLS - col);
    if (text.size() > room) text = text.substr(0, room);
    if (standout) wattron(stdscr, A_STANDOUT);
    waddnstr(stdscr, text.data(), static_cast<int>(text.size()));
    if (standout) wattroff(stdscr, A_STANDOUT);
}

void PutBlanks(int row, int col, int count) {
    static constexpr std::string_view kBlanks =
        "                                                                                ";
    if (count <= 0) return;
    PutText(row, col, kBlanks.substr(0, static_cast<std::size_t>(count)));
}

void PutRightAligned(int row, int right, std::string_view text) {
    PutText(row, right - static_cast<int>(text.size()), text);
}

void DrawBox(int height, int width, int top, int left) {
    if (height < 2 || width < 2) return;
    std::string edge = "+" + std::string(static_cast<std::size_t>(width - 2), '-') + "+";
    PutText(top, left, edge);
    for (int row = top + 1; row <= top + height - 2; ++row) {
        PutText(row, left, "|");
        PutText(row, left + width - 1, "|");
    }
    PutText(top + height - 1, left, edge);
}

std::string_view WeekDay(int day, std::string_view otherwise) {
    static constexpr std::array<std::string_view, 7> kDays{"Sun.", "Mon.", "Tue.", "Wed.",
                                                           "Thu.", "Fri.", "Sat."};
    return (day >= 0 && day < 7) ? kDays[static_cast<std::size_t>(day)] : otherwise;
}

const std::string& SystemText() {
    static const std::string text = [] {
        utsname names{};
        if (uname(&names) != 0) return std::string("[]");
        return std::string(names.sysname) + "[" + names.nodename + "]";
    }();
    return text;
}

std::string ClockText(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char clock[64];
    std::snprintf(clock, sizeof clock, "%04d-%02d-%02d, %02d:%02d %s", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  std::string(WeekDay(local.tm_wday)).c_str());
    return clock;
}

void ScreenHeading(std::string_view title, int clock_right) {
    std::string heading = std::string(title) + " " + std::string(layout::kVersion);
    PutText(layout::st_title.row, layout::st_title.col, heading);
    PutRightAligned(layout::st_clock_row, clock_right, ClockText(std::time(nullptr)));
}

void BasicScreen(int type, std::string_view title) {
    if (type == 1) {
        DrawBox(21, 79, 2, 0);
    } else {
        DrawBox(21, 39, 2, 0);
        DrawBox(21, 40, 2, 39);
    }
    ScreenHeading(title, layout::st_clock_right);

    PutText(layout::sb_label.row, layout::sb_label.col, layout::kSystemLabel);
    PutText(layout::sb_system.row, layout::sb_system.col, SystemText());
}

void BlankScreen() {
    for (int row = 2; row <= 21; ++row) {
        if (wmove(stdscr, row, 1) != ERR) wclrtoeol(stdscr);
    }
}
