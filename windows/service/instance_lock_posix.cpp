#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "instance_lock.h"

namespace torvane {

InstanceLock::InstanceLock(const std::filesystem::path& file) {
    for (int attempt = 0; attempt < 2 && fd_ < 0; ++attempt) {
        int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return;
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return;
        }
        if (st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
            // Someone else's file in our place: it proves nothing, and it goes.
            ::close(fd);
            ::unlink(file.c_str());
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return;
        }
        fd_ = fd;
    }
}

bool InstanceLock::Held() const {
    return fd_ >= 0;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace torvane

#endif  // _WIN32
