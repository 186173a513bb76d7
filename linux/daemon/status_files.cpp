#include "status_files.h"

#include <fcntl.h>
#include <unistd.h>

#include "file_util.h"
#include "paths.h"
#include "q1_protocol.h"

bool StatusFile::EnsureOpen() {
    if (!fd_)
        fd_ = kelvora::OpenRegular(kelvora::RootPath(q1::kStatus.file), O_RDWR | O_CREAT | O_TRUNC);
    return fd_.valid();
}

void StatusFile::Write(std::string_view reply) {
    if (!fd_) return;
    std::string_view text = reply.empty() ? kBlankLine : reply;
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n =
            ::pwrite(fd_.get(), text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void WriteInfoFile(std::string_view name, std::string_view text) {
    kelvora::WriteSmallFile(kelvora::RootPath(name), text);
}

void BlankInfoFiles() {
    WriteInfoFile(q1::kModel.file, kBlankLine);
    WriteInfoFile(q1::kRating.file, kBlankLine);
}
