#include "log_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "platform/atomic_file.h"
#include "trace.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ups {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr Open(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    const std::string m(mode);
    return FilePtr(_wfopen(path.c_str(), std::wstring(m.begin(), m.end()).c_str()));
#else
    return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

bool Truncate(std::FILE* f, std::uint64_t size) {
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return _chsize_s(_fileno(f), static_cast<__int64>(size)) == 0;
#else
    return ::ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
#endif
}

bool Seek(std::FILE* f, std::uint64_t pos) {
    return std::fseek(f, static_cast<long>(pos), SEEK_SET) == 0;
}

std::array<std::uint8_t, 4> EncodeCount(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
}

bool WriteAt(std::FILE* f, std::uint64_t pos, std::span<const std::uint8_t> bytes) {
    return Seek(f, pos) && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
           std::fflush(f) == 0;
}

struct OpenState {
    std::uint64_t size = 0;
    std::uint32_t count = 0;
    std::uint64_t whole = 0;
};

std::optional<OpenState> Inspect(std::FILE* f, std::size_t recordBytes) {
    if (std::fseek(f, 0, SEEK_END) != 0) return std::nullopt;
    const long end = std::ftell(f);
    if (end < 0) return std::nullopt;
    OpenState s;
    s.size = static_cast<std::uint64_t>(end);
    if (s.size >= 4) {
        std::array<std::uint8_t, 4> b{};
        if (!Seek(f, 0) || std::fread(b.data(), 1, 4, f) != 4) return std::nullopt;
        s.count = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                  (static_cast<std::uint32_t>(b[2]) << 16) |
                  (static_cast<std::uint32_t>(b[3]) << 24);
        s.whole = (s.size - 4) / recordBytes;
    }
    return s;
}

// Cuts a torn tail and rewrites the count to the whole records.
bool Repair(std::FILE* f, OpenState& s, std::size_t recordBytes) {
    const std::uint64_t good = 4 + s.whole * recordBytes;
    if (s.size != good) {
        if (s.size < 4) {
            // Not even a whole count: start the file anew.
            if (!Truncate(f, 0) || !WriteAt(f, 0, EncodeCount(0))) return false;
            s = OpenState{4, 0, 0};
            return true;
        }
        Trace("log file: dropping " + std::to_string(s.size - good) + " bytes of a torn record\n");
        if (!Truncate(f, good)) return false;
        s.size = good;
    }
    if (s.count != s.whole) {
        Trace("log file: count " + std::to_string(s.count) + " repaired to " +
              std::to_string(s.whole) + "\n");
        if (!WriteAt(f, 0, EncodeCount(static_cast<std::uint32_t>(s.whole)))) return false;
        s.count = static_cast<std::uint32_t>(s.whole);
    }
    return true;
}

// The file a reduction leaves: the count and the newest records of the full file.
std::optional<std::vector<std::uint8_t>> ReducedFile(std::FILE* f, const OpenState& s,
                                                     const LogFileLimits& limits) {
    const std::uint64_t keep = std::min(limits.KeepOnReduce(), s.whole);
    std::vector<std::uint8_t> bytes(4 + keep * limits.recordBytes);
    const auto count = EncodeCount(static_cast<std::uint32_t>(keep));
    std::copy(count.begin(), count.end(), bytes.begin());
    if (keep > 0 && (!Seek(f, 4 + (s.whole - keep) * limits.recordBytes) ||
                     std::fread(bytes.data() + 4, 1, bytes.size() - 4, f) != bytes.size() - 4)) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::optional<LogFileScan> ScanLogFile(const std::filesystem::path& path, std::size_t recordBytes) {
    auto bytes = platform::ReadWholeFile(path, kMaxLogFileRead);
    if (!bytes) return std::nullopt;
    return ScanLogBytes(std::move(*bytes), recordBytes);
}

LogFileScan ScanLogBytes(std::vector<std::uint8_t> bytes, std::size_t recordBytes) {
    LogFileScan scan;
    scan.fileSize = bytes.size();
    if (scan.fileSize >= 4) {
        const auto& b = bytes;
        scan.storedCount =
            static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
            (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        scan.wholeRecords = (scan.fileSize - 4) / recordBytes;
    }
    scan.bytes = std::move(bytes);
    return scan;
}

bool RepairLogFile(const std::filesystem::path& path, std::size_t recordBytes) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    FilePtr f = Open(path, "r+b");
    if (!f) return false;
    auto s = Inspect(f.get(), recordBytes);
    return s && Repair(f.get(), *s, recordBytes);
}

bool AppendLogRecord(const std::filesystem::path& path, const LogFileLimits& limits,
                     std::span<const std::uint8_t> record) {
    if (record.size() != limits.recordBytes) return false;
    FilePtr f = Open(path, "r+b");
    if (!f) f = Open(path, "w+b");
    if (!f) return false;
    auto s = Inspect(f.get(), limits.recordBytes);
    if (!s) return false;

    if (s->whole >= limits.MaxRecords()) {
        // The full file is replaced by its newest records, atomically, so that a crash leaves
        // the old file or the new one. Windows refuses to replace a file while a handle to it
        // is open, so ours is closed first and the append goes on through a fresh one.
        const auto reduced = ReducedFile(f.get(), *s, limits);
        f.reset();
        if (!reduced || !platform::WriteFileAtomically(path, *reduced)) {
            Trace("log file: reduction failed, record dropped\n");
            return false;
        }
        f = Open(path, "r+b");
        if (!f) return false;
        s = Inspect(f.get(), limits.recordBytes);
        if (!s) return false;
    }

    // Record first, count last: an interruption between the two leaves a whole record that the
    // next reader counts in, never a count that promises a record which is not there. The
    // record goes right after the whole records, over any torn tail, and the count written is
    // theirs plus one, so a file left inconsistent by an earlier crash comes out consistent.
    const std::uint64_t end = 4 + s->whole * limits.recordBytes;
    if (!WriteAt(f.get(), end, record)) {
        Truncate(f.get(), end);
        return false;
    }
    if (!WriteAt(f.get(), 0, EncodeCount(static_cast<std::uint32_t>(s->whole + 1)))) {
        Truncate(f.get(), end);
        return false;
    }
    return true;
}

}  // namespace ups
