#include "test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "ups_lib/archive.h"

namespace ups::test {

std::filesystem::path DataPath(const std::string& name) {
    return std::filesystem::path(UPS_TEST_DATA_DIR) / name;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> ReadData(const std::string& name) {
    return ReadFile(DataPath(name));
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ups_lib_test.XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void FailSink::Write(std::span<const std::uint8_t> bytes) {
    if (written_ + bytes.size() > budget_) {
        written_ = budget_;
        throw ArchiveError(ArchiveErrc::Io, "device full");
    }
    written_ += bytes.size();
}

std::size_t StreamSource::Read(std::span<std::uint8_t> out) {
    const std::size_t n = std::min({out.size(), bytes_.size() - pos_, std::size_t{7}});
    if (n > 0) std::memcpy(out.data(), bytes_.data() + pos_, n);
    pos_ += n;
    return n;
}

ScopedTz::ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
}

ScopedTz::~ScopedTz() {
    if (old_)
        ::setenv("TZ", old_->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

std::int64_t Local(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t));
}

}  // namespace ups::test
