// The close-application report in CLOSEAPP.INI and the INI rules it is read with.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

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

TEST(CloseInfo, MissingFileIsAnEmptyReportAndMarkingItCreatesTheFile) {
    // As the profile functions do when a key is written to a file that is not there.
    TempDir dir;
    const fs::path ini = dir / "CLOSEAPP.INI";
    EXPECT_EQ(CCloseInfo::ShowMsg(ini), 0);
    EXPECT_FALSE(fs::exists(ini));
    CCloseInfo info;
    EXPECT_TRUE(info.Load(ini));
    EXPECT_TRUE(info.IsEmpty());
    EXPECT_EQ(ReadText(ini), "[Main]\r\nShowMsg=0\r\n");
    EXPECT_EQ(CCloseInfo::ShowMsg(ini), 0);
}

TEST(CloseInfo, FileThatCannotBeReadIsLeftAlone) {
    TempDir dir;
    const fs::path ini = dir / "CLOSEAPP.INI";
    test::WriteFile(ini, {'[', 'M', 'a', 'i', 'n', ']', '\n', 'S', 'h', 'o', 'w', 'M', 's', 'g',
                          '=', '1', '\n'});
    fs::resize_file(ini, IniFile::kMaxFileSize + 1);
    CCloseInfo info;
    EXPECT_FALSE(info.Load(ini));
    EXPECT_TRUE(info.IsEmpty());
    EXPECT_EQ(fs::file_size(ini), IniFile::kMaxFileSize + 1);
    std::ifstream in(ini, std::ios::binary);
    std::string start(17, '\0');
    in.read(start.data(), 17);
    EXPECT_EQ(start, "[Main]\nShowMsg=1\n");
    // Nor does something that is not a file at all hang the reader.
    const fs::path fifo = dir / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(info.Load(fifo));
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(CloseInfo, QuotedNamesLoseTheirQuotes) {
    TempDir dir;
    const fs::path ini = dir / "CLOSEAPP.INI";
    test::WriteFile(ini, [] {
        const std::string text =
            "[Main]\r\nAppNumber=\"1\"\r\nApp0=\"Excel\"\r\nShowMsg=1\r\n"
            "[Excel]\r\nFileNumber=3\r\nFile0=a.xls\r\nFile1=\"b c.xls\"\r\n"
            "File2=\"d.xls\r\n";
        return std::vector<std::uint8_t>(text.begin(), text.end());
    }());
    CCloseInfo info;
    ASSERT_TRUE(info.Load(ini));
    EXPECT_EQ(info.apps, std::vector<std::string>{"Excel"});
    ASSERT_EQ(info.files.size(), 1u);
    EXPECT_EQ(info.files[0], (std::vector<std::string>{"a.xls", "b c.xls", "\"d.xls"}));
    // The file keeps its quotes; only ShowMsg changed.
    EXPECT_NE(ReadText(ini).find("File1=\"b c.xls\"\r\n"), std::string::npos);
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

TEST(IniFile, OneMatchingPairOfQuotesIsDropped) {
    const auto ini = IniFile::Parse(
        "[s]\ndouble=\"b c.xls\"\nsingle='x y'\nlone=\"\nmixed=\"abc'\nempty=\"\"\n"
        "twice=\"\"x\"\"\nblanks= \" padded \" \ninner=a\"b\"\nnumber=\"12\"\nopen='7\n");
    EXPECT_EQ(ini.GetString("s", "double", ""), "b c.xls");
    EXPECT_EQ(ini.GetString("s", "single", ""), "x y");
    EXPECT_EQ(ini.GetString("s", "lone", ""), "\"");
    EXPECT_EQ(ini.GetString("s", "mixed", ""), "\"abc'");
    EXPECT_EQ(ini.GetString("s", "empty", "dflt"), "");
    EXPECT_EQ(ini.GetString("s", "twice", ""), "\"x\"");
    EXPECT_EQ(ini.GetString("s", "blanks", ""), " padded ");
    EXPECT_EQ(ini.GetString("s", "inner", ""), "a\"b\"");
    EXPECT_EQ(ini.GetInt("s", "number", 0), 12);
    EXPECT_EQ(ini.GetInt("s", "open", 5), 0);  // an unmatched quote is not a number
    // Cut after the quotes are gone, so that a long quoted value keeps 255 of its characters.
    const auto longer = IniFile::Parse("[s]\nk=\"" + std::string(300, 'v') + "\"\n");
    EXPECT_EQ(longer.GetString("s", "k", ""), std::string(255, 'v'));
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
