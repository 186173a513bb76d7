#include "help_text.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>

#include "file_util.h"
#include "paths.h"

namespace help {

namespace {

constexpr std::array<Link, 10> NoLinks() {
    return {};
}

// Keys '1', '2', ... opening windows first, first + 1, ...
constexpr std::array<Link, 10> Numbered(int first, int count) {
    std::array<Link, 10> links{};
    for (int i = 0; i < count; ++i) {
        links[static_cast<std::size_t>(i)] = {static_cast<char>('1' + i), first + i};
    }
    return links;
}

constexpr Window Text(std::string_view file, int parent) {
    return {file, Kind::kText, parent, NoLinks(), 0};
}

constexpr Window Menu(std::string_view file, int first, int count) {
    return {file, Kind::kMenu, kContentsWindow, Numbered(first, count), count};
}

}  // namespace

const std::array<Window, kWindowCount + 1> kWindows{{
    {"", Kind::kText, 0, NoLinks(), 0},
    {"textroot.txt",
     Kind::kContents,
     0,
     {{{'1', 2},
       {'2', 8},
       {'3', 11},
       {'4', 17},
       {'5', 20},
       {'6', 21},
       {'7', 22},
       {'a', 23},
       {'b', 24},
       {'c', 25}}},
     10},
    Menu("text_m1.txt", 3, 5),
    Text("text1_1.txt", 2),
    Text("text1_2.txt", 2),
    Text("text1_3.txt", 2),
    Text("text1_4.txt", 2),
    Text("text1_5.txt", 2),
    Menu("text_m2.txt", 9, 2),
    Text("text2_1.txt", 8),
    Text("text2_2.txt", 8),
    Menu("text_m3.txt", 12, 5),
    Text("text3_1.txt", 11),
    Text("text3_2.txt", 11),
    Text("text3_3.txt", 11),
    Text("text3_4.txt", 11),
    Text("text3_5.txt", 11),
    Menu("text_m4.txt", 18, 2),
    Text("text4_1.txt", 17),
    Text("text4_2.txt", 17),
    Text("text5.txt", 1),
    Text("text6.txt", 1),
    Text("text7.txt", 1),
    Text("textapa.txt", 1),
    Text("textapb.txt", 1),
    Text("textapc.txt", 1),
}};

const Window* FindWindow(int window) {
    if (window < 1 || window > kWindowCount) return nullptr;
    return &kWindows[static_cast<std::size_t>(window)];
}

std::string WindowPath(int window) {
    const Window* w = FindWindow(window);
    if (w == nullptr) return {};
    return kelvora::RootPath("help/" + std::string(w->file));
}

Viewer::Viewer() : slots(static_cast<std::size_t>(kInitialPages * kLinesPerPage), Slot{}) {}

std::string_view Viewer::Line(int page, int line) const {
    if (page < 0 || line < 0 || line >= kLinesPerPage) return {};
    auto index = static_cast<std::size_t>(page * kLinesPerPage + line);
    if (index >= slots.size()) return {};
    const Slot& s = slots[index];
    return std::string_view(s.data(), strnlen(s.data(), s.size()));
}

int Read_text(Viewer& v, const std::string& path, int window) {
    v.slots.assign(static_cast<std::size_t>(kInitialPages * kLinesPerPage), Slot{});
    v.pagenum = 0;
    v.truncated = false;
    kelvora::FilePtr fp = kelvora::OpenRegularStream(path, O_RDONLY, "r");
    if (!fp) return -1;

    int slot = 0;
    while (!std::feof(fp.get())) {
        if (v.pagenum >= kMaxPages) {
            // The buffer is full: the rest of the file is cut.
            int next = std::getc(fp.get());
            v.truncated = next != EOF;
            break;
        }
        if (v.pagenum >= v.Pages()) {
            v.slots.resize(v.slots.size() + kLinesPerPage, Slot{});
        }
        Slot& s = v.slots[static_cast<std::size_t>(v.pagenum * kLinesPerPage + slot)];
        if (std::fgets(s.data(), kSlotBytes, fp.get()) != nullptr) {
            // A line of exactly 74 characters fills the slot and leaves its line feed unread:
            // take it here, so that it does not come back as an empty line of its own.
            std::size_t len = std::strlen(s.data());
            if (len == static_cast<std::size_t>(kSlotChars) && s[len - 1] != '\n') {
                int next = std::getc(fp.get());
                if (next != '\n' && next != EOF) std::ungetc(next, fp.get());
            }
        } else if (std::ferror(fp.get())) {
            break;  // a read error ends the text like the end of the file
        }
        if (++slot == kLinesPerPage) {
            slot = 0;
            ++v.pagenum;
        }
    }
    fp.reset();
    // The read that met the end of file opened a page of its own: drop it.
    if (slot == 1) --v.pagenum;
    if (v.pagenum >= kMaxPages) v.pagenum = kMaxPages - 1;
    if (v.pagenum < 0) v.pagenum = 0;
    v.currentpage = 0;
    v.currwindow = window;
    return 0;
}

const Footer& FooterFor(const Viewer& v) {
    const Window* w = FindWindow(v.currwindow);
    if (w != nullptr && w->kind == Kind::kContents) return B_CONTENTS;
    if (w != nullptr && w->kind == Kind::kMenu) return B_INTRO;
    return v.currentpage == v.pagenum ? LP_TEXT : B_TEXT;
}

Decision DecideKey(const Viewer& v, int key) {
    const Window* w = FindWindow(v.currwindow);
    if (w == nullptr) return {};
    if (key == 'q' || key == kEsc) return {Action::kQuit, 0};
    if (w->kind == Kind::kText) {
        if (key == 'n') return {Action::kNextPage, 0};
        if (key == 'p') {
            if (v.currentpage > 0) return {Action::kPreviousPage, 0};
            return {Action::kLoad, w->parent};
        }
        return {};
    }
    if (key == 'p' && w->kind == Kind::kMenu) return {Action::kLoad, w->parent};
    for (int i = 0; i < w->link_count; ++i) {
        const Link& link = w->links[static_cast<std::size_t>(i)];
        if (key == link.key) return {Action::kLoad, link.window};
    }
    return {};
}

std::string Describe(const Decision& d) {
    switch (d.action) {
        case Action::kNone:
            return "nothing";
        case Action::kNextPage:
            return "next page";
        case Action::kPreviousPage:
            return "previous page";
        case Action::kLoad:
            return "load window " + std::to_string(d.window);
        case Action::kQuit:
            return "quit";
    }
    return "?";
}

bool Apply(Viewer& v, const Decision& d) {
    switch (d.action) {
        case Action::kNone:
            break;
        case Action::kNextPage:
            if (v.currentpage < v.pagenum) ++v.currentpage;
            break;
        case Action::kPreviousPage:
            if (v.currentpage > 0) --v.currentpage;
            break;
        case Action::kLoad:
            // A file that cannot be opened leaves the window and page as they were.
            Read_text(v, WindowPath(d.window), d.window);
            break;
        case Action::kQuit:
            return false;
    }
    return true;
}

bool HandleKey(Viewer& v, int key) {
    return Apply(v, DecideKey(v, key));
}

}  // namespace help
