#include "demo_comm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ups_lib/trace.h"

namespace torvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::Pair;

struct Recorder final : CommNotifySink {
    void CommNotify(int lParam, int wParam) override { calls.emplace_back(lParam, wParam); }
    std::vector<std::pair<int, int>> calls;
};

class DemoCommTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("demo_comm_test." + std::to_string(::getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        previous_ = ups::SetTraceSink([this](std::string_view line) { traces.emplace_back(line); });
        link.SetOwner(&owner);
    }
    void TearDown() override {
        ups::SetTraceSink(previous_);
        fs::remove_all(dir_);
    }

    std::string File(const std::string& content) {
        const fs::path path = dir_ / "demo.txt";
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    // Lines 1..n: the header lines say what they are, the reply lines carry their number.
    static std::string Lines(int n) {
        std::string text;
        for (int i = 1; i <= n; ++i) text += "line " + std::to_string(i) + "\n";
        return text;
    }
    std::string ReadReply(int max = 200) {
        char buffer[256];
        const int n = link.Read(buffer, max);
        return std::string(buffer, static_cast<std::size_t>(std::max(n, 0)));
    }
    std::string Ask(const char* command) {
        link.Write(command);
        return ReadReply(256);
    }

    CDemoComm link;
    Recorder owner;
    std::vector<std::string> traces;
    fs::path dir_;
    ups::TraceSink previous_;
};

TEST_F(DemoCommTest, LinesAnswerTheirCommandsAndStatusRepliesCycle) {
    ASSERT_TRUE(link.Open(File(Lines(15))));
    EXPECT_EQ(link.EntryCount(), 5u);  // lines 10, 12, 13, 14, 15

    // The first command only connects; every later one reports data of its length.
    EXPECT_EQ(link.Write("Q1\r"), 3);
    EXPECT_THAT(owner.calls, ElementsAre(Pair(kCommConnected, 0)));
    EXPECT_EQ(ReadReply(), "line 10\r");
    EXPECT_EQ(Ask("I\r"), "line 10\r");
    EXPECT_EQ(Ask("F\r"), "line 12\r");
    EXPECT_EQ(Ask("Q1\r"), "line 13\r");
    EXPECT_EQ(Ask("Q1\r"), "line 14\r");
    EXPECT_EQ(Ask("Q1\r"), "line 15\r");
    EXPECT_EQ(Ask("Q1\r"), "line 13\r") << "after the last entry comes the first status line";
    EXPECT_EQ(Ask("T\r"), "line 14\r");
    EXPECT_EQ(owner.calls.size(), 8u);
    EXPECT_THAT(owner.calls.back(), Pair(kCommDataReady, 2));

    // Reopening connects again, from the first entry.
    ASSERT_TRUE(link.Open(File(Lines(13))));
    link.Write("Q1\r");
    EXPECT_THAT(owner.calls.back(), Pair(kCommConnected, 0));
}

TEST_F(DemoCommTest, ShortFilesAnswerAsFarAsTheyGo) {
    // Line 10 alone: every command, "F" included, gets line 10.
    ASSERT_TRUE(link.Open(File(Lines(10))));
    EXPECT_EQ(Ask("I\r"), "line 10\r");
    EXPECT_EQ(Ask("F\r"), "line 10\r");
    EXPECT_EQ(Ask("Q1\r"), "line 10\r");

    // Lines 10 and 12: no status line to come back to, so the list starts over.
    ASSERT_TRUE(link.Open(File(Lines(12))));
    EXPECT_EQ(Ask("F\r"), "line 12\r");
    EXPECT_EQ(Ask("Q1\r"), "line 10\r");
    EXPECT_EQ(Ask("Q1\r"), "line 12\r");

    // Nothing past the header: reads give nothing at all.
    ASSERT_TRUE(link.Open(File(Lines(9))));
    EXPECT_EQ(link.EntryCount(), 0u);
    EXPECT_EQ(Ask("Q1\r"), "");
    EXPECT_EQ(Ask("I\r"), "");
    ASSERT_TRUE(link.Open(File("")));
    EXPECT_EQ(Ask("Q1\r"), "");
}

TEST_F(DemoCommTest, RepliesAreCutToTheBufferAndEndWithTheEventChar) {
    std::string text = Lines(9) + "#Stavlen  DEMO\r\nskipped\r\n" + std::string(500, 'x') + "\n";
    ASSERT_TRUE(link.Open(File(text)));
    EXPECT_EQ(Ask("I\r"), "#Stavlen  DEMO\r") << "a CRLF file keeps no stray CR";
    EXPECT_EQ(Ask("F\r").size(), CDemoComm::kMaxLineBytes + 1) << "a long line is cut";
    link.SetEventChar('\n');
    link.Write("I\r");
    EXPECT_EQ(ReadReply(4), "#Sta");
    link.Write("I\r");
    EXPECT_EQ(ReadReply(), "#Stavlen  DEMO\n");
    link.Close();
    EXPECT_EQ(Ask("I\r"), "");
}

TEST_F(DemoCommTest, OnlyReadableRegularTextFilesOpen) {
    EXPECT_FALSE(link.Open((dir_ / "missing.txt").string()));
    EXPECT_THAT(traces, ElementsAre("Open Demo.txt error"));

    EXPECT_FALSE(link.Open(dir_.string())) << "a directory";

    // A FIFO with no writer would block an ordinary open for ever.
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(link.Open(fifo.string()));

    traces.clear();
    EXPECT_FALSE(link.Open(File(Lines(12) + std::string("\0\x01\xff", 3) + "\n")));
    EXPECT_THAT(traces, ElementsAre("Open CDemoComm error"));

    // A failed open keeps what a good one loaded before.
    ASSERT_TRUE(link.Open(File(Lines(12))));
    EXPECT_FALSE(link.Open(dir_.string()));
    EXPECT_EQ(link.EntryCount(), 2u);
}

TEST_F(DemoCommTest, AHugeFileIsReadOnlyAsFarAsTheLimit) {
    std::string text = Lines(12);
    while (text.size() < 4 * CDemoComm::kMaxFileBytes) text += "(230.0 230.0 230.0 021\n";
    ASSERT_TRUE(link.Open(File(text)));
    const std::size_t all = (text.size() - Lines(12).size()) / 23 + 2;
    EXPECT_GT(link.EntryCount(), 2u);
    EXPECT_LT(link.EntryCount(), all / 3);
}

}  // namespace
}  // namespace torvane
