// One daemon per root, decided by a lock that only the super-user can take or test: vornd holds
// a write lock on "vornd.lock" under the root for as long as it runs, and the kernel drops it the
// moment the process ends, however it ends. Unlike the heartbeat queue, which every user may read
// (and so drain), nobody else can open the 0600 file, let alone hold or fake the lock.
#pragma once

#include <sys/types.h>

#include "unique_fd.h"

namespace kelvora {

// The daemon's side. Acquire() returns:
enum class LockResult {
    kHeld,         // this process holds the lock now
    kTaken,        // another process holds it: a daemon runs already
    kUnavailable,  // the lock file cannot be used (a read-only root, say)
};

class InstanceLock {
  public:
    LockResult Acquire();
    // Called on every cycle: makes sure the file at the path is still the one locked, and
    // locks a new one when someone removed it (a lock file that looks stale is easily deleted).
    LockResult Keep();

  private:
    UniqueFd fd_;  // never closed while we run: closing any descriptor of the file drops the lock
};

// The pid of the process that holds the lock (1 when it runs in another pid namespace), 0 when
// none does or only another user's process holds it, -1 when the lock file cannot be
// opened by the caller (errno ENOENT when it does not exist, EPERM when the caller is not its
// owner). Never call it in the
// daemon itself: closing its descriptor would drop the daemon's own lock.
pid_t LockHolder();

}  // namespace kelvora
