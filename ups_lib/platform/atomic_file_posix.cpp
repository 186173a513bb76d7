#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "atomic_file.h"
#include "unique_fd.h"

namespace ups::platform {

namespace {

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FileAccess access) {
    const mode_t mode = access == FileAccess::kOwnerOnly ? 0600 : 0644;
    std::string tmp =
        (path.parent_path() / (std::string(kTempPrefix) + path.filename().string() + ".XXXXXX"))
            .string();
    UniqueFd fd(::mkstemp(tmp.data()));
    if (!fd) return false;
    const bool ok =
        WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0 && ::fchmod(fd.get(), mode) == 0;
    if (!ok || fd.Close() != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable: a power cut is what this program exists for.
    UniqueFd dir(::open(path.parent_path().empty() ? "." : path.parent_path().c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
    return true;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uint64_t max_size, ReadError* error) {
    auto fail = [error](ReadError e) {
        if (error != nullptr) *error = e;
        return std::nullopt;
    };
    // Non-blocking, so that a FIFO put in a file's place cannot hang the reader; it is refused
    // below like anything else that is not a regular file.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return fail(errno == ENOENT ? ReadError::Missing : ReadError::Unreadable);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(ReadError::Unreadable);
    if (static_cast<std::uint64_t>(st.st_size) > max_size) return fail(ReadError::TooLarge);
    std::vector<std::uint8_t> out;
    std::uint8_t chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(ReadError::Unreadable);
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (out.size() + static_cast<std::size_t>(n) > max_size) return fail(ReadError::TooLarge);
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

}  // namespace ups::platform
