// The root's files as they may really be found: replaced by a FIFO, a directory or a device,
// or left behind half-written by a crash.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "file_util.h"
#include "temp_root.h"

TEST(FileUtil, OnlyRegularFilesAreReadOrWrittenAndNothingBlocks) {
    TempRoot root;
    ASSERT_EQ(mkfifo(root.Path("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(root.Path("dir").c_str(), 0755), 0);
    std::string out = "untouched";
    // A plain open() of a FIFO without a writer would wait for ever.
    for (const std::string& path :
         {root.Path("fifo"), root.Path("dir"), std::string("/dev/null"), root.Path("absent")}) {
        EXPECT_FALSE(kelvora::ReadFilePrefix(path, 100, out)) << path;
        EXPECT_EQ(out, "") << path;
        EXPECT_FALSE(kelvora::OpenRegular(path, O_RDONLY)) << path;
    }
    // Nor is any of them written through: a FIFO's reader would get our bytes, a device could
    // have effects of its own.
    for (const std::string& path :
         {root.Path("fifo"), root.Path("dir"), std::string("/dev/null")}) {
        EXPECT_FALSE(kelvora::WriteSmallFile(path, "PortIdle")) << path;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(root.Path("fifo")));

    // Regular files, new or old, are written and read whole.
    EXPECT_TRUE(kelvora::WriteSmallFile(root.Path("busy"), "PortIdle"));
    EXPECT_TRUE(kelvora::WriteSmallFile(root.Path("busy"), "Port"));
    EXPECT_TRUE(kelvora::ReadFilePrefix(root.Path("busy"), 100, out));
    EXPECT_EQ(out, "Port");
    EXPECT_TRUE(kelvora::ReadFilePrefix(root.Path("busy"), 2, out));
    EXPECT_EQ(out, "Po");
    EXPECT_FALSE(kelvora::OpenRegularStream(root.Path("fifo"), O_RDONLY, "r"));
    EXPECT_TRUE(kelvora::OpenRegularStream(root.Path("busy"), O_RDONLY, "r"));
}

TEST(FileUtil, ReplacingIsAtomicAndLeftoversOfACrashAreCleared) {
    TempRoot root;
    root.Write("vorn.ini", "old");
    // A crash between creating the temporary file and the rename leaves it behind.
    root.Write("vorn.ini.tmpAb12Cd", "half");
    root.Write("vorn.ini.tmpXY", "not ours: wrong length");
    root.Write("kelvora.cfg.tmp123456", "another file's");
    ASSERT_EQ(mkdir(root.Path("vorn.ini.tmpDIR123").c_str(), 0755), 0);

    EXPECT_EQ(kelvora::RemoveStaleTemporaries(root.Path("vorn.ini")), 1);
    EXPECT_FALSE(std::filesystem::exists(root.Path("vorn.ini.tmpAb12Cd")));
    EXPECT_TRUE(std::filesystem::exists(root.Path("vorn.ini.tmpXY")));
    EXPECT_TRUE(std::filesystem::exists(root.Path("kelvora.cfg.tmp123456")));
    EXPECT_TRUE(std::filesystem::is_directory(root.Path("vorn.ini.tmpDIR123")));
    EXPECT_EQ(root.Read("vorn.ini"), "old");

    EXPECT_TRUE(kelvora::ReplaceFile(root.Path("vorn.ini"), "new"));
    EXPECT_EQ(root.Read("vorn.ini"), "new");
    // A file that cannot be replaced (its directory is gone) is reported, not half-written.
    EXPECT_FALSE(kelvora::ReplaceFile(root.Path("no-such-dir/vorn.ini"), "x"));
}
