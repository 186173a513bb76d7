#include "msgq.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "instance_lock.h"
#include "paths.h"

namespace {

struct MsgBuf {
    long mtype;
    char mtext[kMsgTextMax];
};

// Enough to outlast any race; a queue still not ours after that is claimed again later.
constexpr int kClaimAttempts = 1000;
// A user spinning on another core can win the same race many times in a row while we run in
// step with it; a short, varying pause now and then breaks that step.
constexpr int kAttemptsBetweenPauses = 50;

int ModeFor(int id) {
    return (id == kControlQueueId || id == kCommandQueueId) ? 0600 : 0644;
}

key_t KeyFor(int id) {
    return ftok(kelvora::RootDir().c_str(), id);
}

int MsgGet(key_t key, int flags) {
    int q;
    do {
        q = msgget(key, flags);
    } while (q < 0 && errno == EINTR);
    return q;
}

}  // namespace

int CreateMsgQ(int id) {
    key_t key = KeyFor(id);
    if (key == -1) return -1;
    int q = MsgGet(key, IPC_CREAT | ModeFor(id));
    // An ordinary user may not ask for write access to a daemon's queue; opening it without
    // asking still lets them do what its mode allows (read the status and heartbeats).
    if (q < 0 && errno == EACCES) q = MsgGet(key, 0);
    return q;
}

int ClaimMsgQ(int id) {
    key_t key = KeyFor(id);
    if (key == -1) return -1;
    const int mode = ModeFor(id);
    // A user who keeps re-creating the key can win the moment between our removal of their
    // queue and the creation of ours, any number of times: so only a queue we created ourselves
    // is taken, and theirs is removed again until ours stands.
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        int q = MsgGet(key, IPC_CREAT | IPC_EXCL | mode);
        if (q >= 0) return q;
        if (errno != EEXIST) return -1;
        q = MsgGet(key, 0);
        if (q < 0) continue;  // gone again in between
        struct msqid_ds info {};
        if (msgctl(q, IPC_STAT, &info) < 0) continue;
        bool ours = info.msg_perm.uid == geteuid() && info.msg_perm.cuid == geteuid();
        if (ours && (info.msg_perm.mode & 0777) == static_cast<unsigned>(mode)) return q;
        // Someone else made it, or it is open to more users than it should be.
        msgctl(q, IPC_RMID, nullptr);
        if (attempt % kAttemptsBetweenPauses == kAttemptsBetweenPauses - 1) {
            struct timespec pause {
                0, (attempt % 7 + 1) * 20000L
            };
            nanosleep(&pause, nullptr);
        }
    }
    return -1;
}

int ClearMsgQ(int q) {
    MsgBuf buf;
    while (msgrcv(q, &buf, sizeof buf.mtext, 0, IPC_NOWAIT | MSG_NOERROR) >= 0) {
    }
    return errno == ENOMSG ? 1 : -1;
}

int DestroyMsgQ(int q) {
    return msgctl(q, IPC_RMID, nullptr) == 0 ? 1 : -1;
}

int Create4MsgQ(int* status, int* heartbeat, int* control, int* redraw) {
    *status = ClaimMsgQ(kStatusQueueId);
    *heartbeat = ClaimMsgQ(kHeartbeatQueueId);
    *control = ClaimMsgQ(kControlQueueId);
    *redraw = ClaimMsgQ(kRedrawQueueId);
    if (*status < 0 || *heartbeat < 0 || *control < 0 || *redraw < 0) return -1;
    return Clear4MsgQ(*status, *heartbeat, *control, *redraw);
}

int Clear4MsgQ(int status, int heartbeat, int control, int redraw) {
    int ok = 1;
    for (int q : {status, heartbeat, control, redraw}) {
        if (ClearMsgQ(q) < 0) ok = -1;
    }
    return ok;
}

int Destroy4MsgQ(int status, int heartbeat, int control, int redraw) {
    int ok = 1;
    for (int q : {status, heartbeat, control, redraw}) {
        if (DestroyMsgQ(q) < 0) ok = -1;
    }
    return ok;
}

int SendMsg(int q, long type, std::string_view text) {
    MsgBuf buf{};
    buf.mtype = type;
    std::size_t n = std::min(text.size(), kMsgTextMax);
    std::memcpy(buf.mtext, text.data(), n);
    int r;
    do {
        r = msgsnd(q, &buf, n, IPC_NOWAIT);
    } while (r < 0 && errno == EINTR);
    return r == 0 ? 1 : -1;
}

int ReceiveMsg(int q, long type, std::string& out) {
    out.clear();
    MsgBuf buf;
    ssize_t n = msgrcv(q, &buf, sizeof buf.mtext, type, IPC_NOWAIT | MSG_NOERROR);
    if (n <= 0) return -1;
    out.assign(buf.mtext, static_cast<std::size_t>(n));
    return 1;
}

int MsgNumber(int q) {
    struct msqid_ds info {};
    if (msgctl(q, IPC_STAT, &info) < 0) return -1;
    return static_cast<int>(info.msg_qnum);
}

long long LastSendTime(int q) {
    struct msqid_ds info {};
    if (msgctl(q, IPC_STAT, &info) < 0) return -1;
    return static_cast<long long>(info.msg_stime);
}

int SendToMsgQ(int q, long type, std::string_view text) {
    int limit = type == kMsgControl ? 2 : type == kMsgHeartbeat ? 5 : 9;
    MsgBuf drop;
    for (int n = MsgNumber(q); n > limit; --n) {
        if (msgrcv(q, &drop, sizeof drop.mtext, 0, IPC_NOWAIT | MSG_NOERROR) < 0) break;
    }
    return SendMsg(q, type, text);
}

int SendMessages(int status_queue, const StatusBlock& block) {
    int ok = 1;
    for (long type : {kMsgStatus, kMsgModel, kMsgRating}) {
        if (SendToMsgQ(status_queue, type, block[static_cast<std::size_t>(type - 1)]) < 0) ok = -1;
    }
    return ok;
}

int SendRedrawMsg() {
    int q = CreateMsgQ(kRedrawQueueId);
    return q < 0 ? -1 : SendMsg(q, kMsgControl, kCtrlTextRedraw);
}

int DecodeCtrlText(std::string_view text) {
    auto on = [&](std::size_t i) { return i < text.size() && text[i] == '1'; };
    if (on(0)) return kCtrlStop;
    if (on(1)) return kCtrlReload;
    if (on(2)) return kCtrlRedraw;
    return kCtrlUnknown;
}

IssuerCommand DecodeIssuerCmd(std::string_view text) {
    if (text.empty()) return {};
    const char letter = text[0];
    auto digit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    switch (letter) {
        case kIssueTimedTest:
            if (!digit(1) || !digit(2)) return {};
            return {letter, (text[1] - '0') * 10 + (text[2] - '0')};
        case kIssueTenSecondTest:
        case kIssueTestUntilLow:
        case kIssueShutdownNow:
        case kIssueCancelShutdown:
        case kIssueCancelTest:
            return {letter, 0};
        default:
            return {};
    }
}

int ReadCtrlMsg(int q) {
    std::string text;
    if (ReceiveMsg(q, kMsgControl, text) < 0) return kCtrlNone;
    return DecodeCtrlText(text);
}

int InstanceExist() {
    if (pid_t holder = kelvora::LockHolder(); holder >= 0) return holder > 0 ? 1 : 0;
    // No lock file in a root we may write to: a daemon would have made one, so none runs (and a
    // heartbeat queue filled by another user must not say otherwise).
    if (errno == ENOENT && access(kelvora::RootDir().c_str(), W_OK) == 0) return 0;
    return FreshHeartbeat([] { sleep(1); });
}

int FreshHeartbeat(const std::function<void()>& wait_a_second) {
    int q = CreateMsgQ(kHeartbeatQueueId);
    if (q < 0) return 0;
    std::string text;
    if (ReceiveMsg(q, kMsgHeartbeat, text) < 0) return 0;
    // What waited may be left by a daemon that died; only a fresh one counts.
    ClearMsgQ(q);
    for (int second = 0; second < 9; ++second) {
        wait_a_second();
        if (ReceiveMsg(q, kMsgHeartbeat, text) > 0) return 1;
    }
    return 0;
}

int VorndPresent() {
    int q = CreateMsgQ(kHeartbeatQueueId);
    std::string text;
    return (q >= 0 && ReceiveMsg(q, kMsgHeartbeat, text) > 0) ? 1 : 0;
}
