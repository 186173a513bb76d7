// Small file helpers with bounded reads and whole-file replacement.
//
// Every file under the root is an ordinary file that an administrator may have replaced by
// mistake (or a crash may have zeroed): a FIFO there would block a plain open() or read() for
// ever, a device could have side effects, a directory cannot be read as text. So every open here
// is non-blocking and accepts regular files only.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace kelvora {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// A stdio stream that closes itself.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// open(2) with O_NONBLOCK|O_NOCTTY|O_CLOEXEC added, for regular files only: anything else that
// stands at `path` is refused (errno EINVAL) before it is opened. Invalid on failure.
UniqueFd OpenRegular(const std::string& path, int flags, mode_t mode = 0644);

// The same as a stdio stream (`mode` as for fdopen: "r", "a", ...).
FilePtr OpenRegularStream(const std::string& path, int flags, const char* mode);

// Reads at most `limit` bytes from the start of the file into `out`. False if it cannot be opened
// or is no regular file.
bool ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out);

// Creates or truncates `path` and writes `data` (status and flag files that readers take whole
// each time). False when it cannot be opened or the write fails.
bool WriteSmallFile(const std::string& path, std::string_view data);

// Writes `data` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. False (and `path` untouched) on any failure.
bool ReplaceFile(const std::string& path, std::string_view data);

// ReplaceFile for several files that belong together: every temporary file is written and
// flushed before the first rename, so a full disk or any other write error leaves all of the
// old files in place. False when nothing was replaced (or, should a rename itself fail, when
// not all were).
struct FileContent {
    std::string path;
    std::string_view data;
};
bool ReplaceFiles(std::initializer_list<FileContent> files);

// Removes what ReplaceFile leaves beside `path` when the process dies between creating its
// temporary file and the rename. The number of files removed.
int RemoveStaleTemporaries(const std::string& path);

// write() until everything is written or an error other than EINTR occurs.
bool WriteAll(int fd, std::string_view data);

}  // namespace kelvora
