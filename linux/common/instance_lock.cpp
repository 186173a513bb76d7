#include "instance_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "file_util.h"
#include "paths.h"

namespace kelvora {
namespace {

std::string LockPath() {
    return RootPath("vornd.lock");
}

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

// Opens the lock file, or makes it anew when the one standing there could have been opened by
// someone else: a descriptor another user opened while the file was loose would keep its read
// lock (and so block ours) however the mode is changed afterwards.
UniqueFd OpenOwnLockFile() {
    const std::string path = LockPath();
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(
            ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        struct stat st {};
        if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 07777) == 0600) {
            return fd;
        }
        if (!fd && errno != ELOOP) return UniqueFd();
        if (::unlink(path.c_str()) != 0) return UniqueFd();
    }
    return UniqueFd();
}

bool IsOursAt(int fd, const std::string& path) {
    struct stat here {
    }, there{};
    return ::fstat(fd, &here) == 0 && ::stat(path.c_str(), &there) == 0 &&
           here.st_dev == there.st_dev && here.st_ino == there.st_ino;
}

// A process of another user holding a lock on the file is no daemon of ours.
bool OwnedByAnotherUser(pid_t pid) {
    struct stat st {};
    std::string proc = "/proc/" + std::to_string(pid);
    return pid > 0 && ::stat(proc.c_str(), &st) == 0 && st.st_uid != ::geteuid();
}

}  // namespace

LockResult InstanceLock::Acquire() {
    UniqueFd fd = OpenOwnLockFile();
    if (!fd) return LockResult::kUnavailable;
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_SETLK, &lock) != 0) {
        return (errno == EACCES || errno == EAGAIN) ? LockResult::kTaken : LockResult::kUnavailable;
    }
    // The pid is only a note for the administrator; the lock is what counts.
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) == 0) {
        ssize_t ignored = ::pwrite(fd.get(), pid.data(), pid.size(), 0);
        (void)ignored;
    }
    fd_ = std::move(fd);
    return LockResult::kHeld;
}

LockResult InstanceLock::Keep() {
    if (fd_ && IsOursAt(fd_.get(), LockPath())) return LockResult::kHeld;
    // Someone removed (or replaced) the file we lock: without a file at the path, start and stop
    // would believe no daemon runs. Lock a new one; the old lock goes with its descriptor.
    UniqueFd old = std::move(fd_);
    LockResult result = Acquire();
    if (result != LockResult::kHeld) fd_ = std::move(old);
    return result;
}

pid_t LockHolder() {
    UniqueFd fd(::open(LockPath().c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return -1;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        errno = EPERM;
        return -1;
    }
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_GETLK, &lock) != 0) return -1;
    if (lock.l_type == F_UNLCK || OwnedByAnotherUser(lock.l_pid)) return 0;
    // A holder in another pid namespace shows as pid 0: held all the same.
    return lock.l_pid > 0 ? lock.l_pid : 1;
}

}  // namespace kelvora
