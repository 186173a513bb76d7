#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "temp_root.h"
#include "test_notify.h"

namespace {

using std::chrono::milliseconds;

class Channels : public ::testing::Test {
  protected:
    std::string Script(const std::string& name, const std::string& body, mode_t mode = 0755) {
        root_.Write(name, "#!/bin/sh\n" + body);
        chmod(root_.Path(name).c_str(), mode);
        return root_.Path(name);
    }
    TempRoot root_;
};

// A process that is gone, or a zombie waiting for init.
bool Ended(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    std::size_t close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

}  // namespace

TEST_F(Channels, ExitStatusesAndTheArgument) {
    std::string marks = root_.Path("marks");
    auto ok =
        RunChannel(Script("email", "echo \"$#:$1\" > " + marks + "\n"), "0", milliseconds(5000));
    EXPECT_EQ(ok.kind, ChannelResult::kSent);
    EXPECT_EQ(root_.Read("marks"), "1:0\n");
    auto failed = RunChannel(Script("pager", "exit 3\n"), "0", milliseconds(5000));
    EXPECT_EQ(failed.kind, ChannelResult::kExitStatus);
    EXPECT_EQ(ChannelLine("pager", failed, milliseconds(5000)), "pager: failed: exit status 3");
    auto killed = RunChannel(Script("pager", "kill -TERM $$\n"), "0", milliseconds(5000));
    EXPECT_EQ(ChannelLine("pager", killed, milliseconds(5000)),
              "pager: failed: killed by signal 15");
}

TEST_F(Channels, WhatIsNotConfigured) {
    EXPECT_EQ(RunChannel(root_.Path("email"), "0", milliseconds(1000)).kind,
              ChannelResult::kNotConfigured);
    EXPECT_EQ(RunChannel(Script("email", "exit 0\n", 0644), "0", milliseconds(1000)).kind,
              ChannelResult::kNotConfigured);
    mkdir(root_.Path("pager").c_str(), 0755);  // executable, but no program
    EXPECT_EQ(RunChannel(root_.Path("pager"), "0", milliseconds(1000)).kind,
              ChannelResult::kNotConfigured);
    EXPECT_EQ(ChannelLine("pager", {ChannelResult::kNotConfigured}, milliseconds(1000)),
              "pager: not configured");
}

TEST_F(Channels, AScriptThatCannotStart) {
    std::string path = root_.Path("email");
    root_.Write("email", "#!/no/such/interpreter\n");
    chmod(path.c_str(), 0755);
    ChannelResult r = RunChannel(path, "0", milliseconds(5000));
    EXPECT_EQ(r.kind, ChannelResult::kCannotRun);
    EXPECT_EQ(ChannelLine("email", r, milliseconds(5000)),
              "email: failed: cannot run: No such file or directory");
}

TEST_F(Channels, AHungScriptIsKilledWithWhatItStarted) {
    std::string pid_file = root_.Path("child.pid");
    std::string path = Script("email", "sleep 30 &\necho $! > " + pid_file + "\nwait\n");
    auto started = std::chrono::steady_clock::now();
    ChannelResult r = RunChannel(path, "0", milliseconds(700));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(r.kind, ChannelResult::kTimedOut);
    EXPECT_EQ(ChannelLine("email", r, std::chrono::seconds(60)),
              "email: failed: no end after 60 s, killed");
    std::string child = root_.Read("child.pid");
    ASSERT_FALSE(child.empty());
    child.pop_back();
    for (int i = 0; i < 50 && !Ended(child); ++i) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_TRUE(Ended(child)) << "the script's own child " << child << " still runs";
}
