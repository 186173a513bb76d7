#include "ini_file.h"

#include <algorithm>
#include <limits>

#include "platform/atomic_file.h"

namespace ups {

namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    const auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return up(x) == up(y); });
}

// A lone quote, or quotes that do not match, are kept.
std::string_view Unquoted(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    if (!text.empty() && text.find("\r\n") == std::string_view::npos &&
        text.find('\n') != std::string_view::npos) {
        ini.eol_ = "\n";
    }
    std::string section;
    while (!text.empty()) {
        const auto cut = text.find('\n');
        std::string_view raw = text.substr(0, cut);
        text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        Line line{std::string(raw), section, {}, {}};
        const std::string_view t = Trim(raw);
        if (t.starts_with('[')) {
            const auto close = t.find(']');
            section = std::string(
                Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1)));
            line.section = section;
        } else if (!t.empty() && t.front() != ';') {
            const auto eq = t.find('=');
            if (eq != std::string_view::npos && eq > 0) {
                line.key = std::string(Trim(t.substr(0, eq)));
                line.value = std::string(Trim(t.substr(eq + 1)));
            }
        }
        ini.lines_.push_back(std::move(line));
    }
    return ini;
}

std::optional<IniFile> IniFile::Load(const std::filesystem::path& path,
                                     platform::ReadError* error) {
    const auto bytes = platform::ReadWholeFile(path, kMaxFileSize, error);
    if (!bytes) return std::nullopt;
    return Parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    for (const auto& l : lines_) {
        if (!l.key.empty() && SameName(l.section, section) && SameName(l.key, key)) {
            return std::string(Unquoted(l.value));
        }
    }
    return std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                               std::size_t max_length) const {
    std::string v = Get(section, key).value_or(std::string(def));
    if (v.size() > max_length) v.resize(max_length);
    return v;
}

std::int32_t IniFile::GetInt(std::string_view section, std::string_view key,
                             std::int32_t def) const {
    const auto v = Get(section, key);
    if (!v) return def;
    std::string_view s = *v;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    long long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        n = std::min<long long>(n * 10 + (c - '0'), 1LL << 32);
    }
    if (negative) n = -n;
    return static_cast<std::int32_t>(std::clamp<long long>(
        n, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::size_t IniFile::KeyCount(std::string_view section) const {
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const Line& l) {
        return !l.key.empty() && SameName(l.section, section);
    }));
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::optional<std::size_t> last;  // the last non-blank line of the section
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        Line& l = lines_[i];
        if (!SameName(l.section, section)) continue;
        const bool header = l.key.empty() && Trim(l.text).starts_with('[');
        if (header && !last) last = i;
        if (!header && !Trim(l.text).empty()) last = i;
        if (!header && !l.key.empty() && SameName(l.key, key)) {
            l.text = l.key + "=" + std::string(value);
            l.value = std::string(value);
            return;
        }
    }
    Line added{std::string(key) + "=" + std::string(value), std::string(section), std::string(key),
               std::string(value)};
    if (last) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*last + 1), std::move(added));
        return;
    }
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(Line{});
    // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on "[" + std::string(...).
    std::string header(1, '[');
    header.append(section).append(1, ']');
    lines_.push_back(Line{std::move(header), std::string(section), {}, {}});
    lines_.push_back(std::move(added));
}

std::string IniFile::Text() const {
    std::string out;
    for (const auto& l : lines_) {
        out += l.text;
        out += eol_;
    }
    return out;
}

bool IniFile::Save(const std::filesystem::path& path) const {
    const std::string text = Text();
    return platform::WriteFileAtomically(
        path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size()));
}

}  // namespace ups
