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
    EXPECT_EQ(reg->ReadValue("Software\\Stavlen\\Torvane", "config").bytes, bytes);
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
    EXPECT_EQ(reg->ReadValue("SOFTWARE\\stavlen\\TORVANE", "CONFIG").bytes,
              std::vector<std::uint8_t>{1});
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
    EXPECT_EQ(reg->ReadValue("Software\\..", "x").status, platform::ReadStatus::NotFound);
}

TEST(FileRegistry, MissingIsToldFromUnreadable) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    auto status = [&](std::string_view name) { return reg->ReadValue(kAgentKey, name).status; };
    EXPECT_EQ(status("config"), platform::ReadStatus::NotFound);  // not even the root yet
    const fs::path key = dir / "Software/Stavlen/Torvane";
    fs::create_directories(key / "msgTab");  // a subkey is not a value
    EXPECT_EQ(status("msgTab"), platform::ReadStatus::NotFound);
    EXPECT_FALSE(reg->WriteValue("Software\\Stavlen\\Torvane", "MSGTAB",
                                 platform::ValueType::Binary, std::vector<std::uint8_t>{1}));
    EXPECT_EQ(status("config"), platform::ReadStatus::NotFound);

    // Too large to read: there, but unreadable, and the reason says so.
    test::WriteFile(key / "config", {});
    fs::resize_file(key / "config", platform::Registry::kMaxValueSize + 1);  // sparse
    const auto large = reg->ReadValue(kAgentKey, "CONFIG");
    EXPECT_EQ(large.status, platform::ReadStatus::Unreadable);
    EXPECT_NE(large.problem.find("larger than the 1048576 bytes"), std::string::npos);
    EXPECT_TRUE(large.bytes.empty());
    // A value whose file cannot be opened (here a link to itself), and one under a key that
    // cannot be examined, are unreadable too.
    fs::create_symlink("loop", key / "loop");
    EXPECT_EQ(status("loop"), platform::ReadStatus::Unreadable);
    fs::create_directories(dir / "Software/Other");
    fs::create_symlink("looped", dir / "Software/Other/looped");
    EXPECT_EQ(reg->ReadValue("Software\\Other\\Looped\\Deeper", "x").status,
              platform::ReadStatus::Unreadable);
}

TEST(RegSerial, UnreadableValueKeepsTheRecordAndIsNotMissing) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    const fs::path value = dir / "Software/Stavlen/Torvane/config";
    fs::create_directories(value.parent_path());
    test::WriteFile(value, ReadData("config_default.bin"));
    fs::resize_file(value, platform::Registry::kMaxValueSize + 1);
    CConfig c;
    c.comPort = 2;
    EXPECT_EQ(c.Load(*reg), LoadResult::Unreadable);
    EXPECT_EQ(c.comPort, 2);
    fs::remove(value);
    EXPECT_EQ(c.Load(*reg), LoadResult::Missing);
    EXPECT_EQ(c.comPort, 2);
}

TEST(FileRegistry, ValueTooLargeToReadBackIsNotWritten) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    const std::vector<std::uint8_t> old{1, 2, 3};
    ASSERT_TRUE(reg->WriteValue(kAgentKey, "config", platform::ValueType::Binary, old));
    const std::vector<std::uint8_t> tooLarge(platform::Registry::kMaxValueSize + 1, 'x');
    EXPECT_FALSE(reg->WriteValue(kAgentKey, "config", platform::ValueType::Binary, tooLarge));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/config"), old);
    EXPECT_EQ(FilesUnder(dir.path()).size(), 1u);  // no temporary file left either
    const std::vector<std::uint8_t> largest(platform::Registry::kMaxValueSize, 'y');
    EXPECT_TRUE(reg->WriteValue(kAgentKey, "config", platform::ValueType::Binary, largest));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/config"), largest);
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

TEST(RegSerial, RecordTooLargeForAValueIsNotStored) {
    // Stored, it would load as missing and the agent would run on the defaults.
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir.path());
    CConfig c;
    c.comPort = 1;
    ASSERT_TRUE(c.Store(*reg));
    const auto stored = test::ReadFile(dir / "Software/Stavlen/Torvane/config");
    c.mailServer = std::string(1100 * 1000, 'm');
    EXPECT_FALSE(c.Store(*reg));
    EXPECT_EQ(test::ReadFile(dir / "Software/Stavlen/Torvane/config"), stored);
    CConfig back;
    EXPECT_EQ(back.Load(*reg), LoadResult::Loaded);
    EXPECT_EQ(back.comPort, 1);
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

TEST(FileRegistry, DeleteKeyTakesTheWholeKeyAndNothingOutsideIt) {
    TempDir dir;
    auto reg = platform::MakeFileRegistry(dir / "root");
    ASSERT_TRUE(reg->WriteDword("SYSTEM\\Services\\Torvane", "Start", 3));
    ASSERT_TRUE(reg->WriteDword("SYSTEM\\Services\\Torvane\\Sub", "Type", 16));
    ASSERT_TRUE(reg->WriteDword("SYSTEM\\Services\\Other", "Start", 2));
    // A link planted in the key leads outside the tree: removing the key removes the link only.
    fs::create_directory(dir / "outside");
    test::WriteFile(dir / "outside" / "keep", std::vector<std::uint8_t>{1});
    fs::create_directory_symlink(dir / "outside", dir / "root/SYSTEM/Services/Torvane/link");

    EXPECT_TRUE(reg->DeleteKey("system\\services\\TORVANE"));
    EXPECT_EQ(reg->ReadValue("SYSTEM\\Services\\Torvane", "Start").status,
              platform::ReadStatus::NotFound);
    EXPECT_FALSE(fs::exists(dir / "root/SYSTEM/Services/Torvane"));
    EXPECT_TRUE(fs::exists(dir / "outside" / "keep"));
    EXPECT_EQ(reg->ReadValue("SYSTEM\\Services\\Other", "Start").status,
              platform::ReadStatus::Found);
    // Gone already is gone; the root is not a key one may remove.
    EXPECT_TRUE(reg->DeleteKey("SYSTEM\\Services\\Torvane"));
    EXPECT_FALSE(reg->DeleteKey(""));
    EXPECT_TRUE(fs::exists(dir / "root/SYSTEM"));
}

}  // namespace
}  // namespace ups
