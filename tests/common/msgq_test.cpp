#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "msgq.h"
#include "temp_root.h"

namespace {

class MsgQ : public ::testing::Test {
protected:
    TempRoot root_;
};

int ModeOf(int q) {
    struct msqid_ds info {};
    return msgctl(q, IPC_STAT, &info) == 0 ? static_cast<int>(info.msg_perm.mode & 0777) : -1;
}

}  // namespace

TEST_F(MsgQ, SendToMsgQKeepsEachKindOfQueueShort) {
    struct Case {
        int id;
        long type;
        int left;
    } cases[] = {{kControlQueueId, kMsgControl, 3},
                 {kHeartbeatQueueId, kMsgHeartbeat, 6},
                 {kStatusQueueId, kMsgStatus, 10}};
    for (const Case& k : cases) {
        int q = CreateMsgQ(k.id);
        ASSERT_GE(q, 0);
        for (int i = 0; i < 20; ++i) ASSERT_EQ(SendToMsgQ(q, k.type, std::to_string(i)), 1);
        EXPECT_EQ(MsgNumber(q), k.left) << "type " << k.type;
        // The oldest were dropped: what is left are the newest, in order.
        std::string text;
        ASSERT_EQ(ReceiveMsg(q, k.type, text), 1);
        EXPECT_EQ(text, std::to_string(20 - k.left));
    }
}

TEST_F(MsgQ, MessagesCarryExactlyTheirTextCutTo100Bytes) {
    int q = CreateMsgQ(kStatusQueueId);
    std::string text;
    EXPECT_EQ(ReceiveMsg(q, 0, text), -1);
    ASSERT_EQ(SendMsg(q, kMsgModel, std::string(150, 'm')), 1);
    ASSERT_EQ(SendMsg(q, kMsgStatus, "(status\r"), 1);
    ASSERT_EQ(SendMsg(q, kMsgRating, ""), 1);
    EXPECT_EQ(ReceiveMsg(q, kMsgStatus, text), 1);  // by type, not by order
    EXPECT_EQ(text, "(status\r");
    EXPECT_EQ(ReceiveMsg(q, kMsgModel, text), 1);
    EXPECT_EQ(text, std::string(100, 'm'));
    EXPECT_EQ(ReceiveMsg(q, kMsgRating, text), -1);  // empty counts as none
    EXPECT_EQ(MsgNumber(q), 0);
}

TEST_F(MsgQ, ControlTextsDecodeWithStopFirst) {
    EXPECT_EQ(DecodeCtrlText("100"), kCtrlStop);
    EXPECT_EQ(DecodeCtrlText("110"), kCtrlStop);
    EXPECT_EQ(DecodeCtrlText("010"), kCtrlReload);
    EXPECT_EQ(DecodeCtrlText("011"), kCtrlReload);
    EXPECT_EQ(DecodeCtrlText("001"), kCtrlRedraw);
    EXPECT_EQ(DecodeCtrlText("000"), kCtrlUnknown);
    EXPECT_EQ(DecodeCtrlText("0"), kCtrlUnknown);

    int q = CreateMsgQ(kControlQueueId);
    EXPECT_EQ(ReadCtrlMsg(q), kCtrlNone);
    SendMsg(q, kMsgCommand, "100");  // another type is not a control text
    EXPECT_EQ(ReadCtrlMsg(q), kCtrlNone);
    SendMsg(q, kMsgControl, "100");
    EXPECT_EQ(ReadCtrlMsg(q), kCtrlStop);
}

TEST_F(MsgQ, TwoRootsNeverShareQueues) {
    int mine = CreateMsgQ(kHeartbeatQueueId);
    SendMsg(mine, kMsgHeartbeat, "abc");
    {
        TempRoot other;
        int theirs = CreateMsgQ(kHeartbeatQueueId);
        EXPECT_NE(theirs, mine);
        EXPECT_EQ(MsgNumber(theirs), 0);
    }
    setenv("KELVORA_ROOT", root_.dir().c_str(), 1);
    EXPECT_EQ(MsgNumber(CreateMsgQ(kHeartbeatQueueId)), 1);
}

TEST_F(MsgQ, DaemonReclaimsQueuesOthersMadeOrOpenedUp) {
    // A queue left open to everyone (by an older installation, or by another user) is
    // replaced; a queue already right is kept with its messages.
    key_t key = ftok(root_.dir().c_str(), kControlQueueId);
    int loose = msgget(key, IPC_CREAT | 0666);
    ASSERT_GE(loose, 0);
    int control = ClaimMsgQ(kControlQueueId);
    ASSERT_GE(control, 0);
    EXPECT_NE(control, loose);
    EXPECT_EQ(ModeOf(control), 0600);
    EXPECT_EQ(ModeOf(ClaimMsgQ(kCommandQueueId)), 0600);
    int status = ClaimMsgQ(kStatusQueueId);
    EXPECT_EQ(ModeOf(status), 0644);
    SendMsg(status, kMsgStatus, "kept");
    EXPECT_EQ(ClaimMsgQ(kStatusQueueId), status);
    EXPECT_EQ(MsgNumber(status), 1);
}

TEST_F(MsgQ, OrdinaryUserCanWatchButNeverStopTheDaemonOrCommandTheUps) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    int q[4];
    ASSERT_EQ(Create4MsgQ(&q[0], &q[1], &q[2], &q[3]), 1);
    ASSERT_GE(ClaimMsgQ(kCommandQueueId), 0);
    SendToMsgQ(q[1], kMsgHeartbeat, "axy");
    SendToMsgQ(q[0], kMsgStatus, "(status\r");

    pid_t child = fork();
    if (child == 0) {
        // nobody: what an unprivileged kelvora status runs as.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        std::string text;
        if (VorndPresent() != 1) _exit(11);
        if (ReceiveMsg(CreateMsgQ(kStatusQueueId), kMsgStatus, text) != 1) _exit(12);
        if (SendMsg(CreateMsgQ(kControlQueueId), kMsgControl, "100") != -1) _exit(13);
        if (SendMsg(CreateMsgQ(kCommandQueueId), kMsgCommand, "d") != -1) _exit(14);
        // Nor may they plant a queue of their own in the daemon's place.
        if (msgctl(CreateMsgQ(kControlQueueId), IPC_RMID, nullptr) == 0) _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(MsgNumber(q[2]), 0);
}

TEST_F(MsgQ, InstanceExistWantsAFreshHeartbeat) {
    // No heartbeat at all: the answer is immediate.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InstanceExist(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // A heartbeat left by a daemon that died is not enough.
    int hb = CreateMsgQ(kHeartbeatQueueId);
    SendMsg(hb, kMsgHeartbeat, "axy");
    EXPECT_EQ(InstanceExist(), 0);

    // A live daemon keeps beating.
    SendMsg(hb, kMsgHeartbeat, "axy");
    std::thread daemon([hb] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        SendMsg(hb, kMsgHeartbeat, "axy");
    });
    EXPECT_EQ(InstanceExist(), 1);
    daemon.join();
}
