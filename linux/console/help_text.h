// The parts of `kelvora help` that need no terminal: the page buffer and its loader, the tree of
// help windows as one table, the footers, and the keys as state transitions. help_screen.cpp
// draws what these decide.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace help {

// One slot is what fgets reads into 75 bytes: at most 74 characters and a NUL.
inline constexpr int kSlotBytes = 75;
inline constexpr int kSlotChars = kSlotBytes - 1;
inline constexpr int kLinesPerPage = 17;
// The buffer starts with 8 pages and grows a page at a time up to kMaxPages (1,088 lines); a
// longer file is cut there and the rest is never read.
inline constexpr int kInitialPages = 8;
inline constexpr int kMaxPages = 64;

inline constexpr int kContentsWindow = 1;
inline constexpr int kWindowCount = 25;
inline constexpr int kEsc = 27;

using Slot = std::array<char, kSlotBytes>;

enum class Kind { kContents, kMenu, kText };

struct Link {
    char key;
    int window;
};

struct Window {
    std::string_view file;  // under <root>/help/
    Kind kind;
    int parent;  // where `p` leads: from a menu always, from a text on its first page; 0 none
    std::array<Link, 10> links;  // menus: the keys and the windows they open
    int link_count;
};

// Windows 1 to 25; entry 0 is unused so that the window number is the index.
extern const std::array<Window, kWindowCount + 1> kWindows;

// The window of that number, or nullptr outside 1 to 25.
const Window* FindWindow(int window);

// The help file of a window under the root: RootPath("help/<file>"); empty outside 1 to 25.
std::string WindowPath(int window);

using Footer = std::array<std::string_view, 3>;
inline constexpr Footer B_CONTENTS{
    "Press the corresponding letters or numbers to know more about the",
    "      topics listed on your screen.                              ",
    "Press [q] to quit                                                "};
inline constexpr Footer B_INTRO{
    "Press the corresponding numbers to know more about the topics    ",
    "      listed on your screen.                                     ",
    "Press [q] to quit,  [p] for Previous Menu                        "};
inline constexpr Footer B_TEXT{" \t[n] - Next Page       \t\t\t\t          ",
                               "\t[p] - Previous Page                                       ",
                               "\t[q] - Quit \t\t                                  "};
inline constexpr Footer LP_TEXT{" \t\t\t      \t\t\t\t\t  ",
                                "\t[p] - Previous Page                                       ",
                                "\t[q] - Quit \t\t                                  "};

// The loaded text and where the reader stands in it.
struct Viewer {
    std::vector<Slot> slots;  // pages × 17 slots, page p's line i at p * 17 + i
    int pagenum = 0;          // index of the last loaded page
    int currentpage = 0;      // the page shown, 0 to pagenum
    int currwindow = 0;       // window of the loaded file, 1 to 25 once the contents loaded
    bool truncated = false;   // the last load stopped at kMaxPages with text left unread
    // What was last drawn, so that the text is redrawn only when one of them changes.
    int drawn_window = -1;
    int drawn_page = -1;

    Viewer();
    int Pages() const { return static_cast<int>(slots.size()) / kLinesPerPage; }
    // Line `line` (0 to 16) of page `page` as stored (line feed included); empty outside.
    std::string_view Line(int page, int line) const;
};

// Loads `path` as `window`: every slot emptied and pagenum 0 first; then, when the file opens
// (regular files only, without blocking, so a FIFO or a directory counts as missing), one fgets
// of 75 bytes per slot until end of file, 17 slots a page; a final page holding only the read
// that met the end of file is dropped; currentpage 0, currwindow `window`; 0. When it cannot be
// opened: -1, with the slots emptied and the window and page as they were.
int Read_text(Viewer& v, const std::string& path, int window);

// The footer of the window and page shown.
const Footer& FooterFor(const Viewer& v);

// What a key asks for in the window shown.
enum class Action { kNone, kNextPage, kPreviousPage, kLoad, kQuit };
struct Decision {
    Action action = Action::kNone;
    int window = 0;  // kLoad: the window to load
    bool operator==(const Decision& o) const { return action == o.action && window == o.window; }
};
// For test messages: "load 5", "quit", ...
std::string Describe(const Decision& d);
inline std::ostream& operator<<(std::ostream& out, const Decision& d) {
    return out << Describe(d);
}

// The tree's answer to `key`: menu keys load their window, `p` in a menu loads its parent, in a
// text `n` and `p` page and `p` on page 0 loads the parent, `q` and Esc quit everywhere; other
// keys (and any key outside windows 1 to 25) nothing.
Decision DecideKey(const Viewer& v, int key);

// Carries a decision out on `v`, loading files from the root. False when the viewer ends.
bool Apply(Viewer& v, const Decision& d);

// DecideKey then Apply.
bool HandleKey(Viewer& v, int key);

}  // namespace help
