#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "atomic_file.h"

namespace ups::platform {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FileAccess) {
    const std::filesystem::path tmp =
        path.parent_path() /
        (std::string(kTempPrefix) + path.filename().string() + "." +
         std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetCurrentThreadId()));
    {
        FilePtr f(_wfopen(tmp.c_str(), L"wb"));
        if (!f) return false;
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
            f.reset();
            DeleteFileW(tmp.c_str());
            return false;
        }
        // On the disk before the rename: after a power cut the new name must not stand for
        // a file whose bytes never got there.
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f.get())));
        if (std::fflush(f.get()) != 0 || !FlushFileBuffers(handle)) {
            f.reset();
            DeleteFileW(tmp.c_str());
            return false;
        }
    }
    // A reader that holds the old file open (a client's upsrec, a virus scanner) makes the
    // replacement fail for as long as it reads: a few tries before the write counts as failed.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExW(tmp.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        Sleep(50);
    }
    DeleteFileW(tmp.c_str());
    return false;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uint64_t max_size, ReadError* error) {
    auto fail = [error](ReadError e) {
        if (error != nullptr) *error = e;
        return std::nullopt;
    };
    FilePtr f(_wfopen(path.c_str(), L"rb"));
    if (!f) return fail(errno == ENOENT ? ReadError::Missing : ReadError::Unreadable);
    std::vector<std::uint8_t> out;
    std::uint8_t chunk[8192];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
        if (n == 0) break;
        if (out.size() + n > max_size) return fail(ReadError::TooLarge);
        out.insert(out.end(), chunk, chunk + n);
    }
    if (std::ferror(f.get())) return fail(ReadError::Unreadable);
    return out;
}

}  // namespace ups::platform
