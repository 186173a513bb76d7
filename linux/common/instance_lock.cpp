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

}  // namespace

LockResult InstanceLock::Acquire() {
    UniqueFd fd(
        ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        return LockResult::kUnavailable;
    }
    // A read lock of another user would block ours: nobody but us may open the file at all.
    if ((st.st_mode & 07777) != 0600) ::fchmod(fd.get(), 0600);
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
    return lock.l_type == F_UNLCK ? 0 : lock.l_pid;
}

}  // namespace kelvora
