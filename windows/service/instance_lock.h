// One agent per machine: a lock on a file in the program directory that only the agent's own
// user can open, so no other user can take, fake or hold it.
#pragma once

#include <filesystem>

namespace torvane {

class InstanceLock {
  public:
    explicit InstanceLock(const std::filesystem::path& file);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another agent holds it (or the file cannot be had).
    bool Held() const;

  private:
#ifdef _WIN32
    void* handle_ = nullptr;  // a named mutex this process made
#else
    int fd_ = -1;
#endif
};

}  // namespace torvane
