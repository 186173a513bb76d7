#include "file_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kelvora {
namespace {

constexpr std::string_view kTempSuffix = ".tmpXXXXXX";

bool IsRegularOrMissing(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

}  // namespace

UniqueFd OpenRegular(const std::string& path, int flags, mode_t mode) {
    // Look before opening, so that not even the open of a device or FIFO happens; then check
    // what was really opened, in case the name was replaced in between.
    if (!IsRegularOrMissing(path)) {
        errno = EINVAL;
        return UniqueFd();
    }
    UniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    struct stat st {};
    if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        errno = EINVAL;
        return UniqueFd();
    }
    return fd;
}

FilePtr OpenRegularStream(const std::string& path, int flags, const char* mode) {
    UniqueFd fd = OpenRegular(path, flags);
    if (!fd) return nullptr;
    FilePtr stream(::fdopen(fd.get(), mode));
    if (stream) fd.Release();
    return stream;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out) {
    out.clear();
    UniqueFd fd = OpenRegular(path, O_RDONLY);
    if (!fd) return false;
    char buf[4096];
    while (out.size() < limit) {
        std::size_t want = std::min(sizeof buf, limit - out.size());
        ssize_t n = ::read(fd.get(), buf, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

bool WriteSmallFile(const std::string& path, std::string_view data) {
    UniqueFd fd = OpenRegular(path, O_WRONLY | O_CREAT | O_TRUNC);
    return fd && WriteAll(fd.get(), data);
}

namespace {

// Writes `data` to a new temporary file beside `path` with the permissions of the file it will
// replace; its name, or empty (and nothing left behind) on failure.
std::string WriteTemporary(const std::string& path, std::string_view data) {
    std::string temp = path;
    temp += kTempSuffix;
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd) return {};
    // Keep the permissions an administrator gave the file; new files get the usual 0644.
    struct stat old {};
    ::fchmod(fd.get(), ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = WriteAll(fd.get(), data) && ::fsync(fd.get()) == 0;
    ok = (::close(fd.Release()) == 0) && ok;
    if (ok) return temp;
    ::unlink(temp.c_str());
    return {};
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view data) {
    return ReplaceFiles({{path, data}});
}

bool ReplaceFiles(std::initializer_list<FileContent> files) {
    std::vector<std::string> temps;
    for (const FileContent& file : files) {
        std::string temp = WriteTemporary(file.path, file.data);
        if (temp.empty()) {
            for (const std::string& t : temps) ::unlink(t.c_str());
            return false;
        }
        temps.push_back(std::move(temp));
    }
    bool all = true;
    std::size_t i = 0;
    for (const FileContent& file : files) {
        const std::string& temp = temps[i++];
        if (::rename(temp.c_str(), file.path.c_str()) != 0) {
            ::unlink(temp.c_str());
            all = false;
        }
    }
    return all;
}

int RemoveStaleTemporaries(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
    stem += ".tmp";
    const std::size_t name_size = stem.size() + 6;  // mkstemp's six random characters

    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
    if (!listing) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        std::string_view name = entry->d_name;
        if (name.size() != name_size || !name.starts_with(stem)) continue;
        std::string victim = dir + "/" + std::string(name);
        struct stat st {};
        if (::lstat(victim.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::unlink(victim.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace kelvora
