// A small initialisation-file module with the rules the Windows profile functions follow:
// sections in square brackets, "key=value" lines, names compared without regard to case,
// blanks around names and values ignored, lines starting with ';' are comments, and one
// matching pair of quotes (single or double) around a value is not part of it. Writing a key
// changes only its own line (or adds one), so the rest of the file stays as its author left it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace ups {

class IniFile {
  public:
    // Files larger than this are not ours and are not read.
    static constexpr std::uint64_t kMaxFileSize = 4 * 1024 * 1024;

    static IniFile Parse(std::string_view text);
    // nullopt when the file is missing, unreadable or too large; *error then says which.
    static std::optional<IniFile> Load(const std::filesystem::path& path,
                                       platform::ReadError* error = nullptr);

    // The value as the profile functions give it: "b c.xls" and 'b c.xls' read as b c.xls.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // The text, cut to max_length characters as a fixed-size buffer would cut it.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                          std::size_t max_length = 255) const;
    // A decimal number (leading blanks, optional minus sign, digits; anything after is
    // ignored); a value that is not a number gives 0, a missing key gives def.
    std::int32_t GetInt(std::string_view section, std::string_view key, std::int32_t def) const;
    // How many key lines the section holds (0 when it is missing).
    std::size_t KeyCount(std::string_view section) const;

    void Set(std::string_view section, std::string_view key, std::string_view value);
    std::string Text() const;
    // Replaces the file atomically.
    bool Save(const std::filesystem::path& path) const;

  private:
    struct Line {
        std::string text;     // the line as read, without its line end
        std::string section;  // the section this line belongs to (empty before the first)
        std::string key;      // the key for a key line, empty otherwise
        std::string value;
    };
    std::vector<Line> lines_;
    std::string eol_ = "\r\n";
};

}  // namespace ups
