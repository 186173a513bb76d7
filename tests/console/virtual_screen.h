// A curses screen that writes to /dev/null, so that the drawing routines can be run and their
// result read back cell by cell without a terminal; and a plain 24 x 80 canvas on which a test
// builds the screen it expects.
#pragma once

#include <curses.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

class VirtualScreen {
  public:
    VirtualScreen() {
        setenv("LINES", "24", 1);
        setenv("COLUMNS", "80", 1);
        out_ = std::fopen("/dev/null", "w");
        in_ = std::fopen("/dev/null", "r");
        screen_ = newterm("xterm", out_, in_);
        if (screen_ != nullptr) set_term(screen_);
    }
    ~VirtualScreen() {
        if (screen_ != nullptr) {
            endwin();
            delscreen(screen_);
        }
        if (out_ != nullptr) std::fclose(out_);
        if (in_ != nullptr) std::fclose(in_);
    }
    VirtualScreen(const VirtualScreen&) = delete;
    VirtualScreen& operator=(const VirtualScreen&) = delete;

    bool ok() const { return screen_ != nullptr && LINES == 24 && COLS == 80; }

    std::string Row(int row) const {
        std::array<char, 81> buf{};
        mvwinnstr(stdscr, row, 0, buf.data(), 80);
        return std::string(buf.data());
    }
    bool Standout(int row, int col) const { return (mvwinch(stdscr, row, col) & A_STANDOUT) != 0; }
    // The columns of a row that are in standout, as a string of '#' and '.'.
    std::string StandoutMap(int row) const {
        std::string map;
        for (int col = 0; col < 80; ++col) map += Standout(row, col) ? '#' : '.';
        return map;
    }

  private:
    std::FILE* out_ = nullptr;
    std::FILE* in_ = nullptr;
    SCREEN* screen_ = nullptr;
};

class Canvas {
  public:
    Canvas() { rows_.fill(std::string(80, ' ')); }
    // Tabs advance to the next multiple of eight with blanks, as curses writes them.
    Canvas& Put(int row, int col, std::string_view text) {
        std::string& r = rows_.at(static_cast<std::size_t>(row));
        for (char c : text) {
            if (c == '\t') {
                do r.at(static_cast<std::size_t>(col++)) = ' ';
                while (col % 8 != 0);
            } else {
                r.at(static_cast<std::size_t>(col++)) = c;
            }
        }
        return *this;
    }
    void Box(int height, int width, int top, int left) {
        std::string edge = "+" + std::string(static_cast<std::size_t>(width - 2), '-') + "+";
        Put(top, left, edge);
        for (int row = top + 1; row < top + height - 1; ++row) {
            Put(row, left, "|");
            Put(row, left + width - 1, "|");
        }
        Put(top + height - 1, left, edge);
    }
    const std::string& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

  private:
    std::array<std::string, 24> rows_;
};
