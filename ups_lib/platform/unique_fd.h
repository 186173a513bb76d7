// Owns a POSIX file descriptor.
#pragma once

#include <unistd.h>

#include <utility>

namespace ups::platform {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Returns close()'s result so that a failed write-back can be noticed.
    int Close() { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

  private:
    int fd_ = -1;
};

}  // namespace ups::platform
