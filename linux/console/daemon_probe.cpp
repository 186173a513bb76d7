#include "daemon_probe.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "instance_lock.h"
#include "msgq.h"
#include "paths.h"

namespace {

DaemonProbe FromHeartbeats(int64_t now) {
    // Opened without IPC_CREAT: looking must not leave a queue behind where no daemon runs.
    key_t key = ftok(kelvora::RootDir().c_str(), kHeartbeatQueueId);
    int q = key == -1 ? -1 : msgget(key, 0);
    struct msqid_ds info {};
    if (q < 0 || msgctl(q, IPC_STAT, &info) != 0) return {};
    struct stat lock {};
    uid_t daemon_uid = 0;
    if (::stat(kelvora::RootPath("vornd.lock").c_str(), &lock) == 0) daemon_uid = lock.st_uid;
    if (info.msg_perm.cuid != daemon_uid) return {};  // a queue some user made to look alive
    const int64_t sent = static_cast<int64_t>(info.msg_stime);
    DaemonProbe probe;
    probe.running = sent > 0 && now - sent <= kHeartbeatFreshSeconds && sent - now <= 1;
    return probe;
}

}  // namespace

DaemonProbe ProbeDaemon(int64_t now) {
    errno = 0;
    pid_t holder = kelvora::LockHolder();
    if (holder == 0) return {};
    if (holder > 0) {
        DaemonProbe probe;
        probe.running = true;
        if (holder > 1) probe.pid = holder;  // 1: the holder runs in another pid namespace
        return probe;
    }
    // No lock file in a root we may write to: a daemon would have made one.
    if (errno == ENOENT && access(kelvora::RootDir().c_str(), W_OK) == 0) return {};
    return FromHeartbeats(now);
}
