#include "help_screen.h"

#include <curses.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "help_text.h"
#include "screen.h"
#include "temp_root.h"
#include "virtual_screen.h"

namespace {

using help::Action;
using help::Decision;
using help::Viewer;

// `count` lines "line 1\n" ... each ending in a line feed.
std::string Lines(int count, const std::string& stem = "line ") {
    std::string text;
    for (int i = 1; i <= count; ++i) text += stem + std::to_string(i) + "\n";
    return text;
}

class HelpLoad : public ::testing::Test {
  protected:
    void Write(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(root_.Path("help"));
        root_.Write("help/" + name, text);
    }
    int Load(const std::string& text, int window = 3) {
        Write("t.txt", text);
        return help::Read_text(v_, root_.Path("help/t.txt"), window);
    }
    TempRoot root_;
    Viewer v_;
};

TEST_F(HelpLoad, SeventeenLinesAreOnePage) {
    ASSERT_EQ(Load(Lines(17)), 0);
    EXPECT_EQ(v_.pagenum, 0);
    EXPECT_EQ(v_.Line(0, 0), "line 1\n");
    EXPECT_EQ(v_.Line(0, 16), "line 17\n");
    EXPECT_EQ(v_.currentpage, 0);
    EXPECT_EQ(v_.currwindow, 3);
}

TEST_F(HelpLoad, SixteenLinesAreTwoPagesTheSecondEmpty) {
    ASSERT_EQ(Load(Lines(16)), 0);
    EXPECT_EQ(v_.pagenum, 1);
    EXPECT_EQ(v_.Line(0, 15), "line 16\n");
    EXPECT_EQ(v_.Line(0, 16), "");  // the read that met the end of file
    for (int i = 0; i < help::kLinesPerPage; ++i) EXPECT_EQ(v_.Line(1, i), "") << i;
}

TEST_F(HelpLoad, EighteenLinesAreTwoPagesTheSecondWithOneLine) {
    ASSERT_EQ(Load(Lines(18)), 0);
    EXPECT_EQ(v_.pagenum, 1);
    EXPECT_EQ(v_.Line(1, 0), "line 18\n");
    for (int i = 1; i < help::kLinesPerPage; ++i) EXPECT_EQ(v_.Line(1, i), "") << i;
}

TEST_F(HelpLoad, ThirtyFourLinesAreTwoPages) {
    ASSERT_EQ(Load(Lines(34)), 0);
    EXPECT_EQ(v_.pagenum, 1);
    EXPECT_EQ(v_.Line(1, 16), "line 34\n");
}

TEST_F(HelpLoad, ALineLongerThan74CharactersContinuesInTheNextSlot) {
    std::string longer(80, 'x');
    longer.replace(74, 6, "YYYYYY");
    ASSERT_EQ(Load("first\n" + longer + "\nlast\n"), 0);
    EXPECT_EQ(v_.Line(0, 0), "first\n");
    EXPECT_EQ(v_.Line(0, 1), std::string(74, 'x'));  // no line feed: the line goes on
    EXPECT_EQ(v_.Line(0, 2), "YYYYYY\n");
    EXPECT_EQ(v_.Line(0, 3), "last\n");
    EXPECT_EQ(v_.Line(0, 4), "");
}

TEST_F(HelpLoad, ALineOfExactly74CharactersTakesOneSlot) {
    ASSERT_EQ(Load(std::string(74, 'a') + "\n" + std::string(74, 'b') + "\nend\n"), 0);
    EXPECT_EQ(v_.Line(0, 0), std::string(74, 'a'));
    EXPECT_EQ(v_.Line(0, 1), std::string(74, 'b'));
    EXPECT_EQ(v_.Line(0, 2), "end\n");
    EXPECT_EQ(v_.pagenum, 0);
}

TEST_F(HelpLoad, ALastLineWithoutLineFeedIsKept) {
    ASSERT_EQ(Load("one\ntwo"), 0);
    EXPECT_EQ(v_.Line(0, 1), "two");
    EXPECT_EQ(v_.pagenum, 0);
}

TEST_F(HelpLoad, AnEmptyFileIsOneEmptyPage) {
    ASSERT_EQ(Load(""), 0);
    EXPECT_EQ(v_.pagenum, 0);
    EXPECT_EQ(v_.Line(0, 0), "");
}

TEST_F(HelpLoad, MoreThanEightPagesGrowTheBuffer) {
    ASSERT_EQ(Load(Lines(200)), 0);  // 11 full pages and 13 lines
    EXPECT_EQ(v_.pagenum, 11);
    EXPECT_EQ(v_.Line(8, 0), "line 137\n");
    EXPECT_EQ(v_.Line(11, 12), "line 200\n");
    EXPECT_FALSE(v_.truncated);
}

TEST_F(HelpLoad, SixtyFourPagesFillTheBufferExactly) {
    ASSERT_EQ(Load(Lines(help::kMaxPages * help::kLinesPerPage)), 0);
    EXPECT_EQ(v_.pagenum, help::kMaxPages - 1);
    EXPECT_EQ(v_.Line(help::kMaxPages - 1, 16), "line 1088\n");
    EXPECT_FALSE(v_.truncated);
    EXPECT_EQ(v_.Pages(), help::kMaxPages);
}

TEST_F(HelpLoad, OneLineLessStillEndsInsideTheBuffer) {
    // The empty read that meets the end of file would open a 65th page.
    ASSERT_EQ(Load(Lines(help::kMaxPages * help::kLinesPerPage - 1)), 0);
    EXPECT_EQ(v_.pagenum, help::kMaxPages - 1);
    EXPECT_EQ(v_.Pages(), help::kMaxPages);
}

TEST_F(HelpLoad, ALongerFileIsCutAtSixtyFourPages) {
    ASSERT_EQ(Load(Lines(5000)), 0);
    EXPECT_EQ(v_.pagenum, help::kMaxPages - 1);
    EXPECT_TRUE(v_.truncated);
    EXPECT_EQ(v_.Pages(), help::kMaxPages);
    EXPECT_EQ(v_.Line(help::kMaxPages - 1, 16), "line 1088\n");
    EXPECT_EQ(v_.Line(help::kMaxPages, 0), "");  // nothing beyond the buffer
    // Paging stops at the last page kept.
    for (int i = 0; i < 100; ++i) help::HandleKey(v_, 'n');
    EXPECT_EQ(v_.currentpage, help::kMaxPages - 1);
}

TEST_F(HelpLoad, OneEndlessLineIsCutToo) {
    ASSERT_EQ(Load(std::string(200000, 'z')), 0);
    EXPECT_EQ(v_.pagenum, help::kMaxPages - 1);
    EXPECT_TRUE(v_.truncated);
}

TEST_F(HelpLoad, AMissingFileFailsAndKeepsWindowAndPage) {
    ASSERT_EQ(Load(Lines(40), 5), 0);
    v_.currentpage = 2;
    EXPECT_EQ(help::Read_text(v_, root_.Path("help/none.txt"), 9), -1);
    EXPECT_EQ(v_.currwindow, 5);
    EXPECT_EQ(v_.currentpage, 2);
    EXPECT_EQ(v_.pagenum, 0);
    EXPECT_EQ(v_.Line(0, 0), "");  // the lines are emptied
}

TEST_F(HelpLoad, AFifoOrADirectoryCountsAsMissingAndNeverBlocks) {
    std::filesystem::create_directories(root_.Path("help"));
    ASSERT_EQ(mkfifo(root_.Path("help/fifo.txt").c_str(), 0644), 0);
    EXPECT_EQ(help::Read_text(v_, root_.Path("help/fifo.txt"), 3), -1);
    std::filesystem::create_directories(root_.Path("help/dir.txt"));
    EXPECT_EQ(help::Read_text(v_, root_.Path("help/dir.txt"), 3), -1);
    EXPECT_EQ(v_.currwindow, 0);
}

// --- the window tree ----------------------------------------------------------------------

TEST(HelpTree, TheTableNamesTheTwentyFiveFiles) {
    std::set<std::string> files;
    for (int w = 1; w <= help::kWindowCount; ++w)
        files.insert(std::string(help::FindWindow(w)->file));
    EXPECT_EQ(files.size(), 25u);
    EXPECT_EQ(help::FindWindow(0), nullptr);
    EXPECT_EQ(help::FindWindow(26), nullptr);
    EXPECT_EQ(help::FindWindow(1)->file, "textroot.txt");
    EXPECT_EQ(help::FindWindow(5)->file, "text1_3.txt");
    EXPECT_EQ(help::FindWindow(25)->file, "textapc.txt");
}

TEST(HelpTree, PathsLieUnderTheRoot) {
    TempRoot root;
    EXPECT_EQ(help::WindowPath(1), root.Path("help/textroot.txt"));
    EXPECT_EQ(help::WindowPath(17), root.Path("help/text_m4.txt"));
    EXPECT_EQ(help::WindowPath(0), "");
}

Viewer In(int window, int page = 0, int pagenum = 0) {
    Viewer v;
    v.currwindow = window;
    v.currentpage = page;
    v.pagenum = pagenum;
    return v;
}

Decision Load(int window) {
    return {Action::kLoad, window};
}
const Decision kQuit{Action::kQuit, 0};
const Decision kNext{Action::kNextPage, 0};
const Decision kPrevious{Action::kPreviousPage, 0};

TEST(HelpKeys, ContentsKeysOpenTheirWindows) {
    Viewer v = In(1);
    const std::pair<char, int> keys[] = {{'1', 2},  {'2', 8},  {'3', 11}, {'4', 17}, {'5', 20},
                                         {'6', 21}, {'7', 22}, {'a', 23}, {'b', 24}, {'c', 25}};
    for (auto [key, window] : keys) EXPECT_EQ(help::DecideKey(v, key), Load(window)) << key;
    for (int key : {int{'p'}, int{'n'}, int{'8'}, int{'0'}, int{'d'}, int{'A'}, -1, 10}) {
        EXPECT_EQ(help::DecideKey(v, key), Decision{}) << key;
    }
}

TEST(HelpKeys, SubMenuKeys) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(help::DecideKey(In(2), '1' + i), Load(3 + i));
    EXPECT_EQ(help::DecideKey(In(2), '6'), Decision{});
    EXPECT_EQ(help::DecideKey(In(8), '1'), Load(9));
    EXPECT_EQ(help::DecideKey(In(8), '2'), Load(10));
    EXPECT_EQ(help::DecideKey(In(8), '3'), Decision{});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(help::DecideKey(In(11), '1' + i), Load(12 + i));
    EXPECT_EQ(help::DecideKey(In(17), '1'), Load(18));
    EXPECT_EQ(help::DecideKey(In(17), '2'), Load(19));
    EXPECT_EQ(help::DecideKey(In(17), '3'), Decision{});
    for (int menu : {2, 8, 11, 17}) {
        EXPECT_EQ(help::DecideKey(In(menu), 'p'), Load(1)) << menu;
        EXPECT_EQ(help::DecideKey(In(menu), 'n'), Decision{}) << menu;  // menus do not page
        EXPECT_EQ(help::DecideKey(In(menu), 'a'), Decision{}) << menu;
    }
}

TEST(HelpKeys, FirstPagePLeadsToTheParent) {
    const std::pair<int, int> parents[] = {{3, 2},   {5, 2},   {7, 2},   {9, 8},   {10, 8},
                                           {12, 11}, {16, 11}, {18, 17}, {19, 17}, {20, 1},
                                           {21, 1},  {22, 1},  {23, 1},  {24, 1},  {25, 1}};
    for (auto [text, parent] : parents) {
        EXPECT_EQ(help::DecideKey(In(text, 0, 2), 'p'), Load(parent)) << text;
        EXPECT_EQ(help::DecideKey(In(text, 1, 2), 'p'), kPrevious);
        EXPECT_EQ(help::DecideKey(In(text, 0, 2), 'n'), kNext);
        EXPECT_EQ(help::DecideKey(In(text, 0, 2), '1'), Decision{}) << text;
    }
}

TEST(HelpKeys, QAndEscQuitEverywhere) {
    for (int w = 1; w <= help::kWindowCount; ++w) {
        EXPECT_EQ(help::DecideKey(In(w), 'q'), kQuit) << w;
        EXPECT_EQ(help::DecideKey(In(w), 27), kQuit) << w;
    }
    Viewer v = In(1);
    EXPECT_FALSE(help::HandleKey(v, 'q'));
    EXPECT_TRUE(help::HandleKey(v, 'z'));
}

TEST(HelpKeys, WindowsOutsideTheTreeIgnoreKeys) {
    for (int w : {0, 26, -1}) {
        for (int key : {int{'q'}, 27, int{'p'}, int{'n'}, int{'1'}})
            EXPECT_EQ(help::DecideKey(In(w), key), Decision{});
    }
}

// The tree walked on real files: contents, sub-menu 1, its third text paged and left again.
class HelpWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(root_.Path("help"));
        for (int w = 1; w <= help::kWindowCount; ++w) {
            std::string file(help::FindWindow(w)->file);
            root_.Write("help/" + file, file + "\n");
        }
        root_.Write("help/text1_3.txt", Lines(40, "topic "));  // three pages
        ASSERT_EQ(help::Read_text(v_, help::WindowPath(1), 1), 0);
    }
    TempRoot root_;
    Viewer v_;
};

TEST_F(HelpWalk, DownToATextAndBackUp) {
    ASSERT_TRUE(help::HandleKey(v_, '1'));
    EXPECT_EQ(v_.currwindow, 2);
    EXPECT_EQ(v_.Line(0, 0), "text_m1.txt\n");
    ASSERT_TRUE(help::HandleKey(v_, '3'));
    EXPECT_EQ(v_.currwindow, 5);
    EXPECT_EQ(v_.pagenum, 2);
    EXPECT_EQ(&help::FooterFor(v_), &help::B_TEXT);
    help::HandleKey(v_, 'n');
    EXPECT_EQ(v_.currentpage, 1);
    help::HandleKey(v_, 'n');
    EXPECT_EQ(v_.currentpage, 2);
    EXPECT_EQ(&help::FooterFor(v_), &help::LP_TEXT);
    help::HandleKey(v_, 'n');  // the last page stays
    EXPECT_EQ(v_.currentpage, 2);
    EXPECT_EQ(&help::FooterFor(v_), &help::LP_TEXT);
    EXPECT_EQ(v_.Line(2, 5), "topic 40\n");
    help::HandleKey(v_, 'p');
    help::HandleKey(v_, 'p');
    EXPECT_EQ(v_.currentpage, 0);
    EXPECT_EQ(v_.currwindow, 5);
    help::HandleKey(v_, 'p');  // page 0 of text1_3: back to the sub-menu
    EXPECT_EQ(v_.currwindow, 2);
    EXPECT_EQ(v_.Line(0, 0), "text_m1.txt\n");
    help::HandleKey(v_, 'p');  // and to the contents
    EXPECT_EQ(v_.currwindow, 1);
    EXPECT_EQ(v_.Line(0, 0), "textroot.txt\n");
}

TEST_F(HelpWalk, EveryKeyOfTheTreeLoadsItsFile) {
    const std::pair<char, int> keys[] = {{'1', 2},  {'2', 8},  {'3', 11}, {'4', 17}, {'5', 20},
                                         {'6', 21}, {'7', 22}, {'a', 23}, {'b', 24}, {'c', 25}};
    for (auto [key, window] : keys) {
        ASSERT_EQ(help::Read_text(v_, help::WindowPath(1), 1), 0);
        help::HandleKey(v_, key);
        EXPECT_EQ(v_.currwindow, window);
        EXPECT_EQ(v_.Line(0, 0), std::string(help::FindWindow(window)->file) + "\n");
    }
}

TEST_F(HelpWalk, AMissingTopicLeavesWindowAndPage) {
    std::filesystem::remove(root_.Path("help/text5.txt"));
    help::HandleKey(v_, '5');
    EXPECT_EQ(v_.currwindow, 1);
    EXPECT_EQ(v_.currentpage, 0);
    EXPECT_EQ(&help::FooterFor(v_), &help::B_CONTENTS);
    // A FIFO in a topic's place is missing as well, and nothing waits on it.
    std::filesystem::remove(root_.Path("help/text6.txt"));
    ASSERT_EQ(mkfifo(root_.Path("help/text6.txt").c_str(), 0644), 0);
    help::HandleKey(v_, '6');
    EXPECT_EQ(v_.currwindow, 1);
    // The keys still work afterwards.
    help::HandleKey(v_, '7');
    EXPECT_EQ(v_.currwindow, 22);
}

TEST(HelpFooter, ChosenByWindowAndPage) {
    EXPECT_EQ(&help::FooterFor(In(1)), &help::B_CONTENTS);
    for (int menu : {2, 8, 11, 17}) EXPECT_EQ(&help::FooterFor(In(menu)), &help::B_INTRO) << menu;
    for (int text : {3, 4, 5, 6, 7, 9, 10, 12, 13, 14, 15, 16, 18, 19, 20, 21, 22, 23, 24, 25}) {
        EXPECT_EQ(&help::FooterFor(In(text, 0, 1)), &help::B_TEXT) << text;
        EXPECT_EQ(&help::FooterFor(In(text, 1, 1)), &help::LP_TEXT) << text;
        EXPECT_EQ(&help::FooterFor(In(text, 0, 0)), &help::LP_TEXT) << text;
    }
}

// --- drawing --------------------------------------------------------------------------------

class HelpDraw : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(screen_.ok()) << "no 24 x 80 curses screen on /dev/null"; }
    void Pass() {
        FirstWindow(v_);
        DrawBox(19, 79, 2, 0);
    }
    void ExpectScreen(const Canvas& expected) {
        for (int row = 0; row < 24; ++row) {
            if (row == 1) continue;
            EXPECT_EQ(screen_.Row(row), expected.Row(row)) << "row " << row;
        }
        // The clock ends at column 76: it starts at 77 minus its length.
        std::string clock = ClockText(std::time(nullptr));
        std::string row1 = screen_.Row(1);
        EXPECT_EQ(row1.substr(77 - clock.size(), clock.size()), clock);
        EXPECT_EQ(row1.substr(0, 77 - clock.size()), std::string(77 - clock.size(), ' '));
        EXPECT_EQ(row1.substr(77), "   ");
    }
    static Canvas Expected(const std::string& first_line, const help::Footer& footer) {
        Canvas c;
        c.Put(0, 1, "(Kelvora) UPS ONLINE HELP, Ver. 2.1");
        c.Box(19, 79, 2, 0);
        c.Put(3, 3, first_line);
        for (int i = 0; i < 3; ++i) c.Put(21 + i, 9, footer[static_cast<std::size_t>(i)]);
        return c;
    }
    VirtualScreen screen_;
    TempRoot root_;
    Viewer v_;
};

TEST_F(HelpDraw, TheContentsWindow) {
    std::filesystem::create_directories(root_.Path("help"));
    root_.Write("help/textroot.txt", "Contents\n");
    ASSERT_EQ(help::Read_text(v_, help::WindowPath(1), 1), 0);
    Pass();
    ExpectScreen(Expected("Contents", help::B_CONTENTS));
}

TEST_F(HelpDraw, TextPagesAndTheirFooters) {
    root_.Write("p.txt", Lines(20, "page text "));
    ASSERT_EQ(help::Read_text(v_, root_.Path("p.txt"), 3), 0);
    Pass();
    Canvas first = Expected("page text 1", help::B_TEXT);
    for (int i = 1; i < 17; ++i) first.Put(3 + i, 3, "page text " + std::to_string(i + 1));
    ExpectScreen(first);
    help::HandleKey(v_, 'n');
    Pass();
    Canvas last = Expected("page text 18", help::LP_TEXT);
    last.Put(4, 3, "page text 19").Put(5, 3, "page text 20");
    ExpectScreen(last);
}

TEST_F(HelpDraw, SubMenuFooter) {
    root_.Write("m.txt", "Menu\n");
    ASSERT_EQ(help::Read_text(v_, root_.Path("m.txt"), 8), 0);
    Pass();
    ExpectScreen(Expected("Menu", help::B_INTRO));
}

TEST_F(HelpDraw, TabsAndControlCharactersStayInsideTheFrame) {
    root_.Write("t.txt", "a\tb\x01" + std::string(69, 'w') + "\r\n");
    ASSERT_EQ(help::Read_text(v_, root_.Path("t.txt"), 3), 0);
    Pass();
    // "a" at 3, the tab to 8, "b" at 8, '?' at 9, w up to column 77 (cut before the edge).
    Canvas c = Expected("a    b?" + std::string(68, 'w'), help::LP_TEXT);
    ExpectScreen(c);
}

TEST_F(HelpDraw, TheTextIsRedrawnOnlyWhenWindowOrPageChange) {
    root_.Write("t.txt", "shown\n");
    ASSERT_EQ(help::Read_text(v_, root_.Path("t.txt"), 3), 0);
    Pass();
    PutText(10, 10, "mark");
    Pass();
    EXPECT_EQ(screen_.Row(10).substr(10, 4), "mark");
    // A topic that cannot be opened changes neither: the screen stays as it was.
    help::Read_text(v_, root_.Path("none.txt"), 4);
    Pass();
    EXPECT_EQ(screen_.Row(3).substr(3, 5), "shown");
    EXPECT_EQ(screen_.Row(10).substr(10, 4), "mark");
}

// --- the manual itself ----------------------------------------------------------------------

TEST(HelpManual, EveryFileExistsAndFits) {
    const std::string dir = KELVORA_HELP_DIR;
    for (int w = 1; w <= help::kWindowCount; ++w) {
        const help::Window* win = help::FindWindow(w);
        std::string path = dir + "/" + std::string(win->file);
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        std::string line;
        int count = 0;
        while (std::getline(in, line)) {
            ++count;
            EXPECT_LE(line.size(), 74u) << path << ":" << count;
            for (char c : line) {
                EXPECT_TRUE(c >= ' ' && c < 127) << path << ":" << count << " has a character "
                                                 << static_cast<int>(static_cast<unsigned char>(c));
            }
        }
        EXPECT_GT(count, 0) << path;
        if (win->kind != help::Kind::kText) {
            EXPECT_LE(count, 17) << path << " is a menu";
        }

        // And the viewer loads it whole, every line in a slot of its own.
        Viewer v;
        ASSERT_EQ(help::Read_text(v, path, w), 0) << path;
        EXPECT_FALSE(v.truncated) << path;
        if (win->kind != help::Kind::kText) {
            // A menu shows its first page only: nothing may stand on a later one.
            for (int p = 1; p <= v.pagenum; ++p) {
                for (int i = 0; i < help::kLinesPerPage; ++i) {
                    EXPECT_EQ(v.Line(p, i), "") << path << " page " << p;
                }
            }
        }
        int slots = 0;
        for (int p = 0; p <= v.pagenum; ++p) {
            for (int i = 0; i < help::kLinesPerPage; ++i) {
                std::string_view s = v.Line(p, i);
                if (!s.empty()) ++slots;
            }
        }
        EXPECT_EQ(slots, count) << path;
    }
}

TEST(HelpManual, MenusNameTheirKeys) {
    const std::string dir = KELVORA_HELP_DIR;
    for (int w : {1, 2, 8, 11, 17}) {
        const help::Window* win = help::FindWindow(w);
        std::ifstream in(dir + "/" + std::string(win->file));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (int i = 0; i < win->link_count; ++i) {
            std::string key = std::string("[") + win->links[static_cast<std::size_t>(i)].key + "]";
            EXPECT_NE(text.find(key), std::string::npos) << win->file << " lacks " << key;
        }
        if (w != 1) {
            EXPECT_NE(text.find("[p]"), std::string::npos) << win->file;
        }
    }
}

}  // namespace
