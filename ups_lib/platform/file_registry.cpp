// The registry as a directory tree. Windows compares key and value names without regard to
// case, and the programs rely on it (the schedule is written under "SoftWare\..." and the other
// records under "Software\..."), so every path component is looked up case-insensitively and a
// new component keeps the spelling it was first created with.
#include <algorithm>
#include <system_error>

#include "../trace.h"
#include "atomic_file.h"
#include "registry.h"

namespace ups::platform {

namespace fs = std::filesystem;

namespace {

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Fold(x) == Fold(y); });
}

// A component must map to exactly one directory entry of the same name.
bool ValidComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.starts_with(kTempPrefix)) return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::vector<std::string_view>> SplitKey(std::string_view key) {
    std::vector<std::string_view> parts;
    while (!key.empty()) {
        const auto cut = key.find('\\');
        const auto part = key.substr(0, cut);
        if (!part.empty()) {
            if (!ValidComponent(part)) return std::nullopt;
            parts.push_back(part);
        }
        if (cut == std::string_view::npos) break;
        key.remove_prefix(cut + 1);
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

enum class Kind { Key, Value };

bool IsKind(const fs::path& p, Kind kind) {
    std::error_code ec;
    const auto st = fs::status(p, ec);
    if (ec) return false;
    return kind == Kind::Key ? fs::is_directory(st) : fs::is_regular_file(st);
}

// The entry of dir whose name matches name, if any. The exact spelling wins; otherwise the
// first case-insensitive match in name order, so that the choice does not depend on the
// order the file system happens to list entries in.
std::optional<fs::path> FindEntry(const fs::path& dir, std::string_view name, Kind kind) {
    const fs::path exact = dir / std::string(name);
    if (IsKind(exact, kind)) return exact;
    std::error_code ec;
    std::optional<fs::path> best;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.starts_with(kTempPrefix) || !SameName(entry, name)) continue;
        if (!IsKind(it->path(), kind)) continue;
        if (!best || entry < best->filename().string()) best = it->path();
    }
    return best;
}

class FileRegistry final : public Registry {
  public:
    explicit FileRegistry(fs::path root) : root_(std::move(root)) {}

    std::optional<std::vector<std::uint8_t>> ReadValue(std::string_view key,
                                                       std::string_view name) override {
        if (!ValidComponent(name)) return std::nullopt;
        const auto dir = ResolveKey(key, false);
        if (!dir) return std::nullopt;
        const auto file = FindEntry(*dir, name, Kind::Value);
        if (!file) return std::nullopt;
        auto bytes = ReadWholeFile(*file, kMaxValueSize);
        if (!bytes) Trace("registry: value " + file->string() + " unreadable or too large\n");
        return bytes;
    }

    bool WriteValue(std::string_view key, std::string_view name, ValueType,
                    std::span<const std::uint8_t> bytes) override {
        if (!ValidComponent(name)) return false;
        const auto dir = ResolveKey(key, true);
        if (!dir) return false;
        // Keep the spelling of a value that exists already; refuse to shadow a subkey.
        fs::path target = FindEntry(*dir, name, Kind::Value).value_or(*dir / std::string(name));
        if (FindEntry(*dir, name, Kind::Key)) return false;
        return WriteFileAtomically(target, bytes);
    }

    bool CreateKey(std::string_view key) override { return ResolveKey(key, true).has_value(); }

  private:
    std::optional<fs::path> ResolveKey(std::string_view key, bool create) const {
        const auto parts = SplitKey(key);
        if (!parts) return std::nullopt;
        std::error_code ec;
        if (create) {
            fs::create_directories(root_, ec);
            if (ec) return std::nullopt;
        } else if (!IsKind(root_, Kind::Key)) {
            return std::nullopt;
        }
        fs::path dir = root_;
        for (const auto part : *parts) {
            if (auto found = FindEntry(dir, part, Kind::Key)) {
                dir = std::move(*found);
                continue;
            }
            if (!create) return std::nullopt;
            dir /= std::string(part);
            fs::create_directory(dir, ec);
            // Another writer may have made it at the same moment; what counts is that it exists.
            if (ec && !IsKind(dir, Kind::Key)) return std::nullopt;
        }
        return dir;
    }

    fs::path root_;
};

}  // namespace

std::unique_ptr<Registry> MakeFileRegistry(fs::path root) {
    return std::make_unique<FileRegistry>(std::move(root));
}

}  // namespace ups::platform
