#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "instance_lock.h"
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

TEST_F(MsgQ, AFreshHeartbeatIsWantedNotAStaleOne) {
    int waits = 0;
    auto no_daemon = [&] { ++waits; };
    // No heartbeat at all: the answer is immediate.
    EXPECT_EQ(FreshHeartbeat(no_daemon), 0);
    EXPECT_EQ(waits, 0);

    // A heartbeat left by a daemon that died is not enough: nine seconds of looking.
    int hb = CreateMsgQ(kHeartbeatQueueId);
    SendMsg(hb, kMsgHeartbeat, "axy");
    SendMsg(hb, kMsgHeartbeat, "axy");
    EXPECT_EQ(FreshHeartbeat(no_daemon), 0);
    EXPECT_EQ(waits, 9);

    // A live daemon keeps beating: found in the third second.
    SendMsg(hb, kMsgHeartbeat, "axy");
    int second = 0;
    EXPECT_EQ(FreshHeartbeat([&] {
                  if (++second == 3) SendMsg(hb, kMsgHeartbeat, "axy");
              }),
              1);
    EXPECT_EQ(second, 3);
}

TEST_F(MsgQ, IssuerCommandsDecodeWithTheirMinutes) {
    for (char letter : {'a', 'b', 'd', 'e', 'f'}) {
        EXPECT_EQ(DecodeIssuerCmd(std::string(1, letter)).letter, letter);
    }
    IssuerCommand timed = DecodeIssuerCmd("c07");
    EXPECT_EQ(timed.letter, 'c');
    EXPECT_EQ(timed.minutes, 7);
    EXPECT_EQ(DecodeIssuerCmd("c99x").minutes, 99);
    // A timed test without two digits would read as 0 minutes: until the battery is flat.
    for (const char* bad : {"c", "c5", "cx5", "c-1", "g", "", "A"}) {
        EXPECT_EQ(DecodeIssuerCmd(bad).letter, 0) << bad;
    }
}

namespace {

// Runs `body` in a child process as the unprivileged user nobody; its exit status.
template <typename Body>
int AsNobody(Body body) {
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(MsgQ, AUserRacingToRecreateTheKeysNeverKeepsAQueue) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    key_t key = ftok(root_.dir().c_str(), kControlQueueId);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    // The attacker creates the control queue's key with mode 0666 as fast as it can, so that
    // it fills every gap between the daemon's removal of a queue and the creation of its own.
    pid_t attacker = fork();
    if (attacker == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        close(go[1]);
        fcntl(go[0], F_SETFL, O_NONBLOCK);
        char c;
        while (read(go[0], &c, 1) != 0) msgget(key, IPC_CREAT | 0666);
        _exit(0);
    }
    close(go[0]);
    while (msgget(key, 0) < 0) std::this_thread::yield();  // the attacker is at work
    int claimed = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        // A claim may lose every one of its attempts; the daemon then claims again on its
        // next round, and never takes the attacker's queue meanwhile. On a busy machine the
        // attacker can keep in step for several rounds, so the test allows many: what it checks
        // is that a queue claimed is always ours.
        int q = -1;
        for (int round = 0; round < 100 && q < 0; ++round) q = ClaimMsgQ(kControlQueueId);
        ASSERT_GE(q, 0) << "trial " << trial;
        struct msqid_ds info {};
        ASSERT_EQ(msgctl(q, IPC_STAT, &info), 0);
        EXPECT_EQ(info.msg_perm.cuid, 0u);
        EXPECT_EQ(info.msg_perm.mode & 0777, 0600u);
        msgctl(q, IPC_RMID, nullptr);  // and again: the next claim has to race once more
        ++claimed;
    }
    close(go[1]);
    int status = 0;
    waitpid(attacker, &status, 0);
    EXPECT_EQ(claimed, 2000);
}

TEST_F(MsgQ, TheDaemonsLockDecidesForTheSuperUserAndCannotBeFaked) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    // No daemon ever ran here, and a user keeps the heartbeat queue full: no lock file in a
    // root the super-user can write means no daemon, at once.
    EXPECT_EQ(kelvora::LockHolder(), -1);
    int faked = CreateMsgQ(kHeartbeatQueueId);
    for (int i = 0; i < 5; ++i) SendMsg(faked, kMsgHeartbeat, "axy");
    auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(InstanceExist(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    ClearMsgQ(faked);

    int ready[2], stop[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(stop), 0);
    pid_t daemon = fork();
    if (daemon == 0) {
        kelvora::InstanceLock lock;
        char c = lock.Acquire() == kelvora::LockResult::kHeld ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        if (read(stop[0], &c, 1) < 0) _exit(1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(kelvora::LockHolder(), daemon);
    // A user drained every heartbeat: the daemon still counts as running, without a wait.
    ClearMsgQ(CreateMsgQ(kHeartbeatQueueId));
    EXPECT_EQ(InstanceExist(), 1);
    // A second daemon in the same root gives way.
    {
        kelvora::InstanceLock second;
        EXPECT_EQ(second.Acquire(), kelvora::LockResult::kTaken);
    }
    struct stat st {};
    ASSERT_EQ(stat(root_.Path("vornd.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // An ordinary user can neither read the lock nor hold one of their own on the file.
    EXPECT_EQ(AsNobody([] { return kelvora::LockHolder() == -1 && InstanceExist() == 0 ? 0 : 1; }),
              0);
    EXPECT_EQ(
        AsNobody([&] { return open(root_.Path("vornd.lock").c_str(), O_RDONLY) < 0 ? 0 : 1; }), 0);

    ASSERT_EQ(write(stop[1], "x", 1), 1);
    waitpid(daemon, nullptr, 0);
    // The lock ends with the process, however it ends; stale heartbeats do not bring it back.
    SendMsg(CreateMsgQ(kHeartbeatQueueId), kMsgHeartbeat, "axy");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kelvora::LockHolder(), 0);
    EXPECT_EQ(InstanceExist(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // A lock file someone loosened: an ordinary user opens it and holds a read lock. That is no
    // daemon, and it cannot keep the next one from starting.
    chmod(root_.Path("vornd.lock").c_str(), 0644);
    int held[2];
    ASSERT_EQ(pipe(held), 0);
    pid_t squatter = fork();
    if (squatter == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
        int fd = open(root_.Path("vornd.lock").c_str(), O_RDONLY);
        struct flock rd {};
        rd.l_type = F_RDLCK;
        if (fd < 0 || fcntl(fd, F_SETLK, &rd) != 0) _exit(1);
        if (write(held[1], "x", 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    ASSERT_EQ(read(held[0], &c, 1), 1);
    EXPECT_EQ(kelvora::LockHolder(), 0);
    EXPECT_EQ(InstanceExist(), 0);
    kelvora::InstanceLock next;
    EXPECT_EQ(next.Acquire(), kelvora::LockResult::kHeld);
    ASSERT_EQ(stat(root_.Path("vornd.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);

    // The administrator deletes the lock file as stale: the daemon locks a new one on its next
    // cycle, so start and stop go on seeing it.
    ASSERT_EQ(unlink(root_.Path("vornd.lock").c_str()), 0);
    // Asked from another process: closing the descriptor here would drop our own lock.
    auto holder_seen_by_another_process = [] {
        pid_t child = fork();
        if (child == 0) _exit(kelvora::LockHolder() > 0 ? 0 : 1);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(holder_seen_by_another_process());
    EXPECT_EQ(next.Keep(), kelvora::LockResult::kHeld);
    EXPECT_TRUE(holder_seen_by_another_process());
    EXPECT_EQ(next.Keep(), kelvora::LockResult::kHeld);  // nothing to do the second time
}
