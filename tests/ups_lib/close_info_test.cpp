// The close-application report in CLOSEAPP.INI and the INI rules it is read with.
#include <gtest/gtest.h>

#include "test_support.h"
#include "ups_lib/close_info.h"
#include "ups_lib/reg_serial.h"

namespace ups {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string ReadText(const fs::path& p) {
    const auto b = test::ReadFile(p);
    return std::string(b.begin(), b.end());
}

TEST(CloseInfo, TwoApplicationExample) {
    TempDir dir;
    const fs::path ini = dir / "CLOSEAPP.INI";
    fs::copy_file(test::DataPath("closeapp_two.ini"), ini);
    EXPECT_EQ(CCloseInfo::ShowMsg(ini), 1);
    CCloseInfo info;
    ASSERT_TRUE(info.Load(ini));
    EXPECT_EQ(info.apps, (std::vector<std::string>{"Notepad", "Word Processor"}));
    ASSERT_EQ(info.files.size(), 2u);
    EXPECT_TRUE(info.files[0].empty());
    EXPECT_EQ(info.files[1],
              (std::vector<std::string>{"C:\\Docs\\Report.doc", "C:\\Docs\\Budget.doc",
                                        "C:\\Temp\\~notes.doc"}));
}

TEST(CloseInfo, LoadMarksTheReportShownAndLeavesTheRestAlone) {
    TempDir dir;
    const fs::path ini = dir / "CLOSEAPP.INI";
    fs::copy_file(test::DataPath("closeapp_two.ini"), ini);
    CCloseInfo info;
    ASSERT_TRUE(info.Load(ini));
    EXPECT_EQ(CCloseInfo::ShowMsg(ini), 0);
    std::string expected = ReadText(test::DataPath("closeapp_two.ini"));
    expected.replace(expected.find("ShowMsg=1"), 9, "ShowMsg=0");
    EXPECT_EQ(ReadText(ini), expected);
    // Loading again appends: the caller clears between uses.
    ASSERT_TRUE(info.Load(ini));
    EXPECT_EQ(info.apps.size(), 4u);
    info.Clear();
    EXPECT_TRUE(info.IsEmpty());
    EXPECT_TRUE(info.files.empty());
}

TEST(CloseInfo, MissingFileIsAnEmptyReportAndCreatesNothing) {
    TempDir dir;
    CCloseInfo info;
    EXPECT_FALSE(info.Load(dir / "CLOSEAPP.INI"));
    EXPECT_TRUE(info.IsEmpty());
    EXPECT_EQ(CCloseInfo::ShowMsg(dir / "CLOSEAPP.INI"), 0);
    EXPECT_FALSE(fs::exists(dir / "CLOSEAPP.INI"));
}

TEST(CloseInfo, HostileCountsAreBoundedByTheFile) {
    TempDir dir;
    const fs::path ini = dir / "CLOSEAPP.INI";
    fs::copy_file(test::DataPath("closeapp_hostile.ini"), ini);
    CCloseInfo info;
    ASSERT_TRUE(info.Load(ini));
    // Main has four keys and [Only] two, so at most that many entries come out of them.
    EXPECT_LE(info.apps.size(), 4u);
    EXPECT_EQ(info.apps[0], "Only");
    ASSERT_GE(info.files.size(), 1u);
    EXPECT_LE(info.files[0].size(), 2u);
    EXPECT_EQ(info.files[0][0], "a.txt");
}

TEST(CloseInfo, ArchiveRoundTripAndLayout) {
    CCloseInfo info;
    info.apps = {"A", "B"};
    info.files = {{}, {"x", std::string(300, 'f')}};
    const auto bytes = ToBytes(info);
    // 2, "A", "B", 2, 0, 2, "x", 300 f's
    EXPECT_EQ(bytes.size(), 4 + 2 + 2 + 4 + 4 + 4 + 2 + 3 + 300u);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(bytes[5], 'A');
    CCloseInfo back;
    back.apps = {"stale"};
    EXPECT_EQ(LoadRecordBytes(back, bytes), LoadResult::Loaded);
    EXPECT_EQ(back, info);
    // An empty record is two zero counts.
    CCloseInfo empty;
    EXPECT_EQ(ToBytes(empty), std::vector<std::uint8_t>(8, 0));
}

TEST(IniFile, ProfileRules) {
    const auto ini = IniFile::Parse(
        "; comment\n[ main ]\n  AppNumber = 7 apples\nname=  spaced value  \nneg=-12\n"
        "word=abc\n[Other]\nname=other\n");
    EXPECT_EQ(ini.GetInt("MAIN", "appnumber", 0), 7);
    EXPECT_EQ(ini.GetInt("Main", "neg", 0), -12);
    EXPECT_EQ(ini.GetInt("Main", "word", 5), 0);     // present but not a number
    EXPECT_EQ(ini.GetInt("Main", "missing", 5), 5);  // missing
    EXPECT_EQ(ini.GetString("Main", "name", ""), "spaced value");
    EXPECT_EQ(ini.GetString("other", "NAME", ""), "other");
    EXPECT_EQ(ini.GetString("Main", "nope", "dflt"), "dflt");
    EXPECT_EQ(
        IniFile::Parse("[s]\nk=" + std::string(400, 'v') + "\n").GetString("s", "k", "").size(),
        255u);
    EXPECT_EQ(ini.KeyCount("main"), 4u);
}

TEST(IniFile, SetChangesOneLineOrAddsOne) {
    auto ini = IniFile::Parse("[A]\nx=1\n\n[B]\ny=2\n");
    ini.Set("a", "X", "9");
    ini.Set("A", "z", "3");
    ini.Set("C", "w", "4");
    EXPECT_EQ(ini.Text(), "[A]\nx=9\nz=3\n\n[B]\ny=2\n\n[C]\nw=4\n");
}

}  // namespace
}  // namespace ups
