#include "status_files.h"

#include <fcntl.h>
#include <unistd.h>

#include "paths.h"

namespace {

void WriteAt0(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

StatusFile::~StatusFile() { Close(); }

bool StatusFile::EnsureOpen() {
    if (fd_ >= 0) return true;
    fd_ = ::open(kelvora::RootPath("kelvora.q1").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC,
                 0644);
    return fd_ >= 0;
}

void StatusFile::Write(std::string_view reply) {
    if (fd_ < 0) return;
    WriteAt0(fd_, reply.empty() ? kBlankLine : reply);
}

void StatusFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void WriteInfoFile(std::string_view name, std::string_view text) {
    int fd = ::open(kelvora::RootPath(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAt0(fd, text);
    ::close(fd);
}

void BlankInfoFiles() {
    WriteInfoFile("kelvora.mdl", kBlankLine);
    WriteInfoFile("kelvora.rtg", kBlankLine);
}
