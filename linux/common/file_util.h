// Small file helpers with bounded reads and whole-file replacement.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kelvora {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// A stdio stream that closes itself.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads at most `limit` bytes from the start of the file into `out`. False if it cannot be opened.
bool ReadFilePrefix(const std::string& path, std::size_t limit, std::string& out);

// Writes `data` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. False (and `path` untouched) on any failure.
bool ReplaceFile(const std::string& path, std::string_view data);

// write() until everything is written or an error other than EINTR occurs.
bool WriteAll(int fd, std::string_view data);

}  // namespace kelvora
