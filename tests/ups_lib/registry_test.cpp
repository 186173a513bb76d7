// The registry as a directory tree, and the records' Load and Store through it.
#include <gtest/gtest.h>

#include "test_support.h"
#include "ups_lib/config.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/platform/registry.h"
#include "ups_lib/schedule.h"

namespace ups {
namespace {

namespace fs = std::filesystem;
using test::ReadData;
using test::TempDir;

std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root));
    }
    return out;
}

TEST(FileRegistry, ValueFileHoldsExactlyTheBytes) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    const std::vector<std::uint8_t> bytes{0, 1, 2, 0xFF, 0};
    ASSERT_TRUE(reg->WriteValue("Software\\Stavlen\\Torvane", "config", platform::ValueType::Binary,
                                bytes));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/config"), bytes);
    // No temporary file is left behind.
    EXPECT_EQ(FilesUnder(dir.path()), std::vector<fs::path>{"Software/Stavlen/Torvane/config"});
    EXPECT_EQ(reg->ReadValue("Software\\Stavlen\\Torvane", "config"), bytes);
}

TEST(FileRegistry, KeysAndValuesCompareWithoutCase) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    ASSERT_TRUE(reg->WriteValue("Software\\Stavlen\\Torvane", "config", platform::ValueType::Binary,
                                std::vector<std::uint8_t>{1}));
    ASSERT_TRUE(reg->WriteValue("SoftWare\\Stavlen\\Torvane", "Schedule",
                                platform::ValueType::Binary, std::vector<std::uint8_t>{2}));
    // One key: both values sit in the directory first created.
    EXPECT_EQ(FilesUnder(dir.path()).size(), 2u);
    EXPECT_TRUE(fs::exists(dir / "Software/Stavlen/Torvane/Schedule"));
    EXPECT_EQ(reg->ReadValue("SOFTWARE\\stavlen\\TORVANE", "CONFIG"), std::vector<std::uint8_t>{1});
    // Rewriting under another spelling replaces the value instead of adding a second file.
    ASSERT_TRUE(reg->WriteValue("software\\stavlen\\torvane", "CONFIG", platform::ValueType::Binary,
                                std::vector<std::uint8_t>{3}));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/config"),
              std::vector<std::uint8_t>{3});
    EXPECT_EQ(FilesUnder(dir.path()).size(), 2u);
}

TEST(FileRegistry, RefusesNamesThatWouldLeaveTheTree) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir / "root");
    const std::vector<std::uint8_t> b{1};
    EXPECT_FALSE(reg->WriteValue("Software\\..\\..\\etc", "x", platform::ValueType::Binary, b));
    EXPECT_FALSE(reg->WriteValue("Software/evil", "x", platform::ValueType::Binary, b));
    EXPECT_FALSE(reg->WriteValue("Software", "../x", platform::ValueType::Binary, b));
    EXPECT_FALSE(reg->WriteValue("Software", "", platform::ValueType::Binary, b));
    EXPECT_FALSE(reg->WriteValue("", "x", platform::ValueType::Binary, b));
    EXPECT_FALSE(fs::exists(dir / "etc"));
    EXPECT_FALSE(reg->ReadValue("Software\\..", "x"));
}

TEST(FileRegistry, MissingAndOversizedValuesAreNotRead) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    EXPECT_FALSE(reg->ReadValue("Software\\Stavlen\\Torvane", "config"));
    const fs::path key = dir / "Software/Stavlen/Torvane";
    fs::create_directories(key / "msgTab");  // a subkey is not a value
    EXPECT_FALSE(reg->ReadValue("Software\\Stavlen\\Torvane", "msgTab"));
    EXPECT_FALSE(reg->WriteValue("Software\\Stavlen\\Torvane", "MSGTAB",
                                 platform::ValueType::Binary, std::vector<std::uint8_t>{1}));
    test::WriteFile(key / "config", {});
    fs::resize_file(key / "config", platform::Registry::kMaxValueSize + 1);  // sparse
    EXPECT_FALSE(reg->ReadValue("Software\\Stavlen\\Torvane", "config"));
    CConfig c;
    EXPECT_EQ(c.Load(*reg), LoadResult::Missing);
}

TEST(FileRegistry, StringsAndNumbersKeepTheirWindowsBytes) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    ASSERT_TRUE(
        reg->WriteString("K", "EventMessageFile", platform::ValueType::ExpandString, "C:\\T.exe"));
    ASSERT_TRUE(reg->WriteDword("K", "TypesSupported", 7));
    EXPECT_EQ(test::ReadFile(dir / "K/EventMessageFile"),
              (std::vector<std::uint8_t>{'C', ':', '\\', 'T', '.', 'e', 'x', 'e', 0}));
    EXPECT_EQ(test::ReadFile(dir / "K/TypesSupported"), (std::vector<std::uint8_t>{7, 0, 0, 0}));
}

TEST(RegSerial, EmptyRegistryKeepsDefaultsAndStoreWritesTheGoldenValue) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CConfig c;
    EXPECT_EQ(c.Load(*reg), LoadResult::Missing);
    EXPECT_EQ(c, CConfig());
    ASSERT_TRUE(c.Store(*reg));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/config"),
              ReadData("config_default.bin"));
    CMsgTab m;
    ASSERT_TRUE(m.Store(*reg));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/msgTab"),
              ReadData("msgtab_default.bin"));
}

TEST(RegSerial, StoreThenLoadGivesEveryFieldBack) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CConfig c;
    c.comPort = 0;
    c.mailServer = std::string(1000, 'm');
    c.agentPassword = "pw";
    ASSERT_TRUE(c.Store(*reg));
    CConfig back;
    EXPECT_EQ(back.Load(*reg), LoadResult::Loaded);
    EXPECT_EQ(back, c);
}

TEST(RegSerial, TruncatedValueLoadsPartially) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    ASSERT_TRUE(reg->WriteValue(kAgentKey, "config", platform::ValueType::Binary,
                                ReadData("config_truncated.bin")));
    CConfig c;
    c.dataLogInterval = 99;
    c.acFailDelay = 77;
    EXPECT_EQ(c.Load(*reg), LoadResult::Partial);
    EXPECT_EQ(c.dataLogInterval, 30);
    EXPECT_EQ(c.acFailDelay, 77);
}

TEST(RegSerial, LocationMustBeSet) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CConfig c;
    c.SetLocation("", "config");
    EXPECT_FALSE(c.Store(*reg));
    EXPECT_EQ(c.Load(*reg), LoadResult::Missing);
    EXPECT_TRUE(FilesUnder(dir.path()).empty());
}

TEST(RegSerial, UnwritableRegistryStoresNothing) {
    TempDir dir;
    test::WriteFile(dir / "file", {1});
    auto reg = platform::MakeFileRegistry(dir / "file");  // the root is a file, not a directory
    CConfig c;
    EXPECT_FALSE(c.Store(*reg));
    EXPECT_EQ(test::ReadFile(dir / "file"), std::vector<std::uint8_t>{1});
}

}  // namespace
}  // namespace ups
