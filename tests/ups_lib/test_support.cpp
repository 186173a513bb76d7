#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "ups_lib/archive.h"

namespace ups::test {

namespace {

std::atomic<bool> sharingRules{false};
std::atomic<int> replacedCount{0};
std::atomic<int> refusedCount{0};

// Whether any descriptor of this process refers to the file at path.
bool HeldOpen(const char* path) {
    struct stat target {};
    if (::stat(path, &target) != 0) return false;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return false;
    bool held = false;
    while (const dirent* e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] < '0' || e->d_name[0] > '9' || fd == ::dirfd(dir)) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
            held = true;
        }
    }
    ::closedir(dir);
    return held;
}

}  // namespace

WindowsSharingRules::WindowsSharingRules() {
    replacedCount = 0;
    refusedCount = 0;
    sharingRules = true;
}

WindowsSharingRules::~WindowsSharingRules() {
    sharingRules = false;
}

int WindowsSharingRules::replaced() const {
    return replacedCount;
}

int WindowsSharingRules::refused() const {
    return refusedCount;
}

std::size_t OpenDescriptorCount() {
    std::size_t n = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) throw std::runtime_error("cannot list /proc/self/fd");
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9') ++n;
    }
    ::closedir(dir);
    return n - 1;  // the directory's own
}

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

// Takes the place of the C library's rename for the whole test program, so that the library's
// atomic replacement goes through it; renameat does the real work.
extern "C" int rename(const char* from, const char* to) noexcept {
    if (ups::test::sharingRules) {
        if (ups::test::HeldOpen(to)) {
            ++ups::test::refusedCount;
            errno = EACCES;
            return -1;
        }
        ++ups::test::replacedCount;
    }
    return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}
