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

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Reads a whole file of at most max_size bytes; nullopt when it is missing, unreadable or larger.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uint64_t max_size);

}  // namespace ups::platform
