// The remote agents as the panel keeps them in its registry.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "gui/panel/remote_list.h"

namespace kelvora::panel {
namespace {

namespace fs = std::filesystem;

class RemoteListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/remotelistXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        place_ = dir;
        setenv("KELVORA_PANEL_REGISTRY", (place_ / "registry").c_str(), 1);
        registry_ = MakePanelRegistry();
    }
    void TearDown() override {
        unsetenv("KELVORA_PANEL_REGISTRY");
        fs::remove_all(place_);
    }
    fs::path place_;
    std::unique_ptr<ups::platform::Registry> registry_;
};

TEST_F(RemoteListTest, TheEleventhEntryIsNumberedWithAColonAndAllReadBackInOrder) {
    std::vector<RemoteUpsEntry> list;
    for (int i = 0; i < 12; ++i)
        list.push_back({"ups" + std::to_string(i), "10.0.0." + std::to_string(i), "room",
                        "pw" + std::to_string(i)});
    ASSERT_TRUE(WriteRemoteList(*registry_, list));
    EXPECT_EQ(ReadString(*registry_, kRemoteKey, "UPS Name :"), "ups10");
    EXPECT_EQ(ReadString(*registry_, kRemoteKey, "Password ;"), "pw11");
    EXPECT_EQ(ReadRemoteList(*registry_), list);
    // Written anew as a whole: a shorter list leaves nothing of the longer one.
    list.resize(3);
    ASSERT_TRUE(WriteRemoteList(*registry_, list));
    EXPECT_EQ(ReadRemoteList(*registry_), list);
    EXPECT_EQ(ReadString(*registry_, kRemoteKey, "UPS Name 3"), "");
}

TEST_F(RemoteListTest, ReadingStopsAtTheFirstEntryWithoutAName) {
    ASSERT_TRUE(WriteString(*registry_, kRemoteKey, "UPS Name 0", "a"));
    ASSERT_TRUE(WriteString(*registry_, kRemoteKey, "UPS Name 2", "c"));
    auto list = ReadRemoteList(*registry_);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "a");
}

TEST_F(RemoteListTest, ThePasswordsLieWhereOnlyTheirUserCanLook) {
    ASSERT_TRUE(WriteRemoteList(*registry_, {{"ups", "10.0.0.1", "room", "secret"}}));
    struct stat st {};
    ASSERT_EQ(::stat((place_ / "registry").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::size_t values = 0;
    for (const auto& entry : fs::recursive_directory_iterator(place_ / "registry")) {
        if (!entry.is_regular_file()) continue;
        ++values;
        ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << entry.path();
    }
    EXPECT_EQ(values, 4u);
}

}  // namespace
}  // namespace kelvora::panel
