#include "help_screen.h"

#include <curses.h>

#include <cstdio>
#include <string>

#include "screen.h"

namespace {

constexpr std::string_view kTitle = "(Kelvora) UPS ONLINE HELP,";
constexpr int kClockRight = 77;  // the clock starts at column 77 minus its length
constexpr int kTextRow = 3;
constexpr int kTextCol = 3;
constexpr int kFooterRow = 21;
constexpr int kFooterCol = 9;
// The frame's right edge stands at column 78: text stops before it.
constexpr int kTextEnd = 78;

// A stored line as it is shown: without its line feed (or carriage return), tabs expanded to
// the screen's tab stops and other control characters shown as '?', cut before the frame.
std::string Visible(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    std::string out;
    int col = kTextCol;
    for (char c : line) {
        if (col >= kTextEnd) break;
        if (c == '\t') {
            do {
                out += ' ';
                ++col;
            } while (col % 8 != 0 && col < kTextEnd);
            continue;
        }
        auto u = static_cast<unsigned char>(c);
        out += (u < ' ' || u >= 127) ? '?' : c;
        ++col;
    }
    return out;
}

void Footer(const help::Footer& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PutText(kFooterRow + static_cast<int>(i), kFooterCol, texts[i]);
    }
}

}  // namespace

void Print_text(const help::Viewer& v, int page) {
    werase(stdscr);
    for (int i = 0; i < help::kLinesPerPage; ++i) {
        PutText(kTextRow + i, kTextCol, Visible(v.Line(page, i)));
    }
}

void FirstWindow(help::Viewer& v) {
    if (v.currwindow != v.drawn_window || v.currentpage != v.drawn_page) {
        Print_text(v, v.currentpage);
        v.drawn_window = v.currwindow;
        v.drawn_page = v.currentpage;
    }
    ScreenHeading(kTitle, kClockRight);
    Footer(help::FooterFor(v));
}

int vornii_help() {
    help::Viewer viewer;
    if (help::Read_text(viewer, help::WindowPath(help::kContentsWindow), help::kContentsWindow) !=
        0) {
        std::printf("\nerror.....exiting\n");
        std::fflush(stdout);
        return 0;
    }
    InitScreen();
    Print_text(viewer, 0);
    viewer.drawn_window = viewer.currwindow;
    viewer.drawn_page = viewer.currentpage;
    for (;;) {
        FirstWindow(viewer);
        DrawBox(19, 79, 2, 0);
        wrefresh(stdscr);
        int key = GetCH();
        if (!help::HandleKey(viewer, key) || InputGone()) break;
    }
    EndScreen();
    return 0;
}
