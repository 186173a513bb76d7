// Replacing a file so that a reader sees either the old or the new contents, never a mix, even
// when the writer dies half-way: write a temporary file beside it, then rename it over the old.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ups::platform {

// Temporary files start with this; directory scans skip them.
inline constexpr std::string_view kTempPrefix = ".~tmp.";

// Who may read the file: everyone (the records), or its owner alone (passwords). Windows keeps
// access in the key or directory instead.
enum class FileAccess { kShared, kOwnerOnly };

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FileAccess access = FileAccess::kShared);

// Why a file was not read. A missing file is often normal (nothing stored yet); one that is
// there but cannot be read is not, and must not be taken for missing and replaced.
enum class ReadError {
    Missing,     // no such file
    Unreadable,  // no permission, an I/O error, or not a regular file
    TooLarge,    // larger than the caller's limit
};

// Reads a whole regular file of at most max_size bytes; nullopt when it is missing, unreadable or
// larger, and then *error (when given) says which.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uint64_t max_size,
                                                       ReadError* error = nullptr);

}  // namespace ups::platform
