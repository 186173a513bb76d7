#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ups_commands.h"

TEST(ShDnCmd, DelayDigitsAndRestartField) {
    EXPECT_EQ(ShDnCmd(0.2f, 0, 0), "S.2\r");
    EXPECT_EQ(ShDnCmd(0.5f, -1, 1), "S.5\r");
    EXPECT_EQ(ShDnCmd(3.0f, 537, 1), "S03R0537\r");  // scheduled shutdown
    EXPECT_EQ(ShDnCmd(3.0f, 537, 0), "S03\r");       // AC failure: no restart time
    EXPECT_EQ(ShDnCmd(3.0f, -1, 1), "S03\r");        // no restart set
    EXPECT_EQ(ShDnCmd(0.2f, 0, -1), "S.2R0000\r");   // the console's shut-down-now
    EXPECT_EQ(ShDnCmd(2.5f, 0, 0), "S02\r");
    EXPECT_EQ(ShDnCmd(10.0f, 9, 1), "S10R0009\r");
}

TEST(ShDnCmd, OutOfRangeValuesStayInTheirFields) {
    // A restart more than 9999 minutes away is sent as the longest wait the field holds, not
    // as its first four digits (10079 would become 1007).
    EXPECT_EQ(ShDnCmd(3.0f, 10079, 1), "S03R9999\r");
    EXPECT_EQ(ShDnCmd(150.0f, 0, 0), "S99\r");
    EXPECT_EQ(ShDnCmd(-4.0f, 0, 0), "S.0\r");
    for (float delay : {0.2f, 3.0f, 99.9f, 1e9f}) {
        EXPECT_LE(ShDnCmd(delay, 123456, 1).size(), 9u) << delay;
    }
}

TEST(UpsCommands, WhatReachesTheLine) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    auto sent = [&] {
        char buf[64];
        ssize_t n = read(fds[0], buf, sizeof buf);
        return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    };
    EXPECT_EQ(A_UPSTest(fds[1], 0), 3);
    EXPECT_EQ(sent(), "TL\r");
    EXPECT_EQ(A_UPSTest(fds[1], 7), 4);
    EXPECT_EQ(sent(), "T07\r");
    EXPECT_EQ(A_UPSTest(fds[1], 100), -1);
    EXPECT_EQ(A_UPSTest(fds[1], -1), -1);
    A_UPSSelfTest(fds[1]);
    EXPECT_EQ(sent(), "T\r");
    A_CancelUPSTest(fds[1]);
    EXPECT_EQ(sent(), "CT\r");
    A_CancelShutdown(fds[1]);
    EXPECT_EQ(sent(), "C\r");
    A_ShutdownUPS(fds[1], 0.2f, 0, -1);
    EXPECT_EQ(sent(), "S.2R0000\r");
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(A_CancelShutdown(fds[1]), -1);  // a write error is reported as -1
}
