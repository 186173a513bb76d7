// How many missed replies a connected UPS is allowed, and what each link notice does.
#include "ups_tolerance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ups_lib/ups_records.h"

namespace torvane {
namespace {

std::vector<int> Codes(const LinkOutcome& out) {
    std::vector<int> codes;
    for (const auto& n : out.reactions.posts) codes.push_back(n.code);
    return codes;
}

// Misses in a row until the UPS is given up: the number of the miss that disconnects.
int MissesUntilDisconnect(std::uint8_t status) {
    ConnectionTracker t;
    t.OnLinkConnected(100);
    for (int miss = 1; miss <= 20; ++miss) {
        const auto out = t.OnNoReply(status);
        if (!t.connected()) {
            EXPECT_TRUE(out.resetData);
            EXPECT_EQ(Codes(out), std::vector<int>{kNotifyDisconnected});
            EXPECT_EQ(out.reactions.traces, std::vector<std::string>{"UPS disconnected\n"});
            EXPECT_EQ(t.misses(), 0);
            EXPECT_EQ(t.connectionTime(), 0);
            return miss;
        }
        EXPECT_FALSE(out.resetData);
        EXPECT_TRUE(out.reactions.posts.empty());
    }
    return -1;
}

TEST(UpsTolerance, ThreeMissesKeepTheUpsTheFourthDisconnects) {
    EXPECT_EQ(MissesUntilDisconnect(0x00), 4);
    EXPECT_EQ(MissesUntilDisconnect(ups::kBatteryLowBit | ups::kStandbyType), 4);
}

TEST(UpsTolerance, UtilityFailedTakesFiveShutdownActiveTakesSeven) {
    EXPECT_EQ(MissesUntilDisconnect(ups::kUtilityFail), 5);
    EXPECT_EQ(MissesUntilDisconnect(ups::kShutdownActive), 7);
    EXPECT_EQ(MissesUntilDisconnect(ups::kShutdownActive | ups::kUtilityFail), 7);
}

TEST(UpsTolerance, TracesNameTheRuleInForce) {
    ConnectionTracker t;
    t.OnLinkConnected(1);
    EXPECT_EQ(t.OnNoReply(0).reactions.traces,
              std::vector<std::string>{"Default tolerance count: 1 Max tolerance: 3\n"});
    EXPECT_EQ(t.OnNoReply(ups::kUtilityFail).reactions.traces,
              std::vector<std::string>{"AC fail tolerance count: 2 Max tolerance: 4\n"});
    EXPECT_EQ(t.OnNoReply(ups::kShutdownActive).reactions.traces,
              std::vector<std::string>{"Shut down tolerance count: 3 Max tolerance: 6\n"});
    // The AC rule no longer holds at 5: the next rules are tried, and the default gives up.
    t.OnNoReply(ups::kUtilityFail);
    EXPECT_EQ(t.misses(), 4);
    EXPECT_TRUE(t.OnNoReply(ups::kUtilityFail).resetData);
}

TEST(UpsTolerance, AReplyStartsTheCountAfresh) {
    ConnectionTracker t;
    t.OnLinkConnected(1);
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 3; ++i) t.OnNoReply(0);
        t.OnDataReady();
    }
    EXPECT_TRUE(t.connected());
    for (int i = 0; i < 3; ++i) t.OnNoReply(0);
    t.OnLinkConnected(2);  // the link's own "connected" counts too
    for (int i = 0; i < 3; ++i) t.OnNoReply(0);
    EXPECT_TRUE(t.connected());
}

TEST(UpsTolerance, MissesWhileNotConnectedDoNothing) {
    ConnectionTracker t;
    t.OnInfoQuerySent();
    for (int i = 0; i < 10; ++i) {
        const auto out = t.OnNoReply(0);
        EXPECT_TRUE(out.reactions.posts.empty());
        EXPECT_TRUE(out.reactions.traces.empty());
    }
    EXPECT_EQ(t.misses(), 0);
}

TEST(UpsTolerance, UnansweredInformationQueryPostsFourOnce) {
    ConnectionTracker t;
    t.OnLinkConnected(1);
    t.OnInfoQuerySent();
    auto out = t.OnNoReply(0);
    EXPECT_TRUE(out.infoQueryDropped);
    EXPECT_EQ(Codes(out), std::vector<int>{kNotifyInfoUnanswered});
    EXPECT_EQ(t.misses(), 1);
    out = t.OnNoReply(0);
    EXPECT_FALSE(out.infoQueryDropped);
    EXPECT_TRUE(out.reactions.posts.empty());
    // On the disconnecting miss, 4 comes before 2.
    t.OnInfoQuerySent();
    t.OnNoReply(0);
    t.OnInfoQuerySent();
    EXPECT_EQ(Codes(t.OnNoReply(0)),
              (std::vector<int>{kNotifyInfoUnanswered, kNotifyDisconnected}));
}

TEST(UpsTolerance, AnsweredInformationQueryIsNotReportedByALaterMiss) {
    ConnectionTracker t;
    t.OnLinkConnected(1);
    t.OnInfoQuerySent();
    t.OnDataReady();  // the "F" reply came
    const auto out = t.OnNoReply(0);
    EXPECT_FALSE(out.infoQueryDropped);
    EXPECT_TRUE(out.reactions.posts.empty());
}

TEST(UpsTolerance, PortThatCannotOpenOrADetachedLinkEndsTheConnection) {
    ConnectionTracker t;
    t.OnLinkConnected(4242);
    EXPECT_EQ(t.connectionTime(), 4242);
    EXPECT_TRUE(t.OnLinkDisconnected().reactions.posts.empty());  // the link alone decides nothing
    EXPECT_TRUE(t.connected());
    auto out = t.OnPortOpenFailed();
    EXPECT_FALSE(t.connected());
    EXPECT_TRUE(out.resetData);
    EXPECT_EQ(Codes(out), std::vector<int>{kNotifyDisconnected});
    EXPECT_TRUE(t.OnDetached().reactions.posts.empty());  // already gone: told once
    t.OnLinkConnected(5);
    EXPECT_EQ(Codes(t.OnDetached()), std::vector<int>{kNotifyDisconnected});
}

}  // namespace
}  // namespace torvane
