// The registry as a directory tree. Windows compares key and value names without regard to
// case, and the programs rely on it (the schedule is written under "SoftWare\..." and the other
// records under "Software\..."), so every path component is looked up case-insensitively and a
// new component keeps the spelling it was first created with.
#include <algorithm>
#include <cerrno>
#include <string>
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

// What a lookup found. Absent and Error are kept apart all the way up: a value behind a
// directory that cannot be searched is not a missing value.
struct Lookup {
    enum Status { Found, Absent, Error } status = Absent;
    fs::path path;
    std::string problem;  // for Error

    static Lookup Fail(std::string problem) { return {Error, {}, std::move(problem)}; }
};

bool IsAbsence(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
}

// Whether p is an entry of that kind. A directory where a value is looked for is a subkey, not
// the value; anything else that is not a regular file stands where the value would, and cannot
// be read as one.
Lookup Check(const fs::path& p, Kind kind) {
    std::error_code ec;
    const auto st = fs::status(p, ec);
    if (st.type() == fs::file_type::not_found || (ec && IsAbsence(ec))) return {};
    if (ec) return Lookup::Fail(p.string() + ": " + ec.message());
    if (kind == Kind::Key) return fs::is_directory(st) ? Lookup{Lookup::Found, p, {}} : Lookup{};
    if (fs::is_directory(st)) return {};
    if (!fs::is_regular_file(st)) return Lookup::Fail(p.string() + ": not a regular file");
    return {Lookup::Found, p, {}};
}

// The entry of dir whose name matches name, if any. The exact spelling wins; otherwise the
// first case-insensitive match in name order, so that the choice does not depend on the
// order the file system happens to list entries in. Any doubt (a directory that cannot be
// listed, a match that cannot be examined) is an error, not an absence.
Lookup FindEntry(const fs::path& dir, std::string_view name, Kind kind) {
    Lookup exact = Check(dir / std::string(name), kind);
    if (exact.status != Lookup::Absent) return exact;
    std::error_code ec;
    Lookup best;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.starts_with(kTempPrefix) || !SameName(entry, name)) continue;
        Lookup found = Check(it->path(), kind);
        if (found.status == Lookup::Error) return found;
        if (found.status == Lookup::Absent) continue;
        if (best.status == Lookup::Absent || entry < best.path.filename().string()) {
            best = std::move(found);
        }
    }
    if (ec && !IsAbsence(ec)) return Lookup::Fail(dir.string() + ": " + ec.message());
    return best;
}

class FileRegistry final : public Registry {
  public:
    FileRegistry(fs::path root, FileAccess access) : root_(std::move(root)), access_(access) {}

    ValueRead ReadValue(std::string_view key, std::string_view name) override {
        // A name that could not be stored is not there.
        if (!ValidComponent(name)) return {};
        const Lookup dir = ResolveKey(key, false);
        if (dir.status != Lookup::Found) return NotRead(dir);
        const Lookup file = FindEntry(dir.path, name, Kind::Value);
        if (file.status != Lookup::Found) return NotRead(file);
        ReadError error = ReadError::Unreadable;
        errno = 0;
        auto bytes = ReadWholeFile(file.path, kMaxValueSize, &error);
        const int cause = errno;
        if (bytes) return {ReadStatus::Found, std::move(*bytes), {}};
        // Removed between the lookup and the read: gone, then.
        if (error == ReadError::Missing) return {};
        std::string why = "cannot be read";
        if (error == ReadError::TooLarge)
            why = "larger than the " + std::to_string(kMaxValueSize) + " bytes a value may hold";
        else if (cause != 0)
            why = std::error_code(cause, std::generic_category()).message();
        Lookup failed = Lookup::Fail(file.path.string() + ": " + why);
        return NotRead(failed);
    }

    bool CreateKey(std::string_view key) override {
        return ResolveKey(key, true).status == Lookup::Found;
    }

    bool DeleteKey(std::string_view key) override {
        const auto parts = SplitKey(key);
        if (!parts || parts->empty()) return false;
        const Lookup dir = ResolveKey(key, false);
        if (dir.status == Lookup::Absent) return true;
        if (dir.status != Lookup::Found) return false;
        // remove_all takes symbolic links away without following them, so a link planted
        // inside the key cannot make it remove anything outside the registry.
        std::error_code ec;
        fs::remove_all(dir.path, ec);
        return !ec;
    }

  protected:
    bool StoreValue(std::string_view key, std::string_view name, ValueType,
                    std::span<const std::uint8_t> bytes) override {
        if (!ValidComponent(name)) return false;
        const Lookup dir = ResolveKey(key, true);
        if (dir.status != Lookup::Found) return false;
        // Keep the spelling of a value that exists already; refuse to shadow a subkey, and to
        // guess when the directory cannot be examined.
        const Lookup value = FindEntry(dir.path, name, Kind::Value);
        const Lookup subkey = FindEntry(dir.path, name, Kind::Key);
        if (value.status == Lookup::Error || subkey.status != Lookup::Absent) return false;
        const fs::path target =
            value.status == Lookup::Found ? value.path : dir.path / std::string(name);
        return WriteFileAtomically(target, bytes, access_);
    }

  private:
    // NotFound for an absent key or value, Unreadable (with the reason, also traced) otherwise.
    static ValueRead NotRead(const Lookup& lookup) {
        if (lookup.status != Lookup::Error) return {};
        Trace("registry: " + lookup.problem + "\n");
        return {ReadStatus::Unreadable, {}, lookup.problem};
    }

    Lookup ResolveKey(std::string_view key, bool create) const {
        const auto parts = SplitKey(key);
        if (!parts) return {};
        std::error_code ec;
        if (create) {
            fs::create_directories(root_, ec);
            if (ec) return Lookup::Fail(root_.string() + ": " + ec.message());
        }
        Lookup dir = Check(root_, Kind::Key);
        if (dir.status != Lookup::Found) return dir;
        for (const auto part : *parts) {
            Lookup found = FindEntry(dir.path, part, Kind::Key);
            if (found.status == Lookup::Error) return found;
            if (found.status == Lookup::Found) {
                dir = std::move(found);
                continue;
            }
            if (!create) return {};
            dir.path /= std::string(part);
            fs::create_directory(dir.path, ec);
            // Another writer may have made it at the same moment; what counts is that it exists.
            if (ec && Check(dir.path, Kind::Key).status != Lookup::Found) {
                return Lookup::Fail(dir.path.string() + ": " + ec.message());
            }
        }
        return dir;
    }

    fs::path root_;
    FileAccess access_;
};

}  // namespace

std::unique_ptr<Registry> MakeFileRegistry(fs::path root) {
    return std::make_unique<FileRegistry>(std::move(root), FileAccess::kShared);
}

std::unique_ptr<Registry> MakePrivateFileRegistry(fs::path root) {
    return std::make_unique<FileRegistry>(std::move(root), FileAccess::kOwnerOnly);
}

}  // namespace ups::platform
