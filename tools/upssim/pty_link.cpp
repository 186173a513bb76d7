#include "pty_link.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace upssim {
namespace {

std::string os_error(std::string_view what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyLink::~PtyLink() {
    if (!linked_) return;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link_path_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string_view(target, static_cast<std::size_t>(n)) == slave_path_)
        ::unlink(link_path_.c_str());
}

bool PtyLink::open(const std::string& link_path, std::string& error) {
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_.valid()) return error = os_error("posix_openpt"), false;
    if (::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0)
        return error = os_error("grantpt/unlockpt"), false;
    char name[PATH_MAX];
    if (::ptsname_r(master_.get(), name, sizeof name) != 0)
        return error = os_error("ptsname"), false;
    slave_path_ = name;

    slave_.reset(::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave_.valid()) return error = os_error(slave_path_), false;
    // The default terminal settings echo and translate CR; a serial line does neither.
    termios tio{};
    if (::tcgetattr(slave_.get(), &tio) != 0) return error = os_error("tcgetattr"), false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B2400);
    ::cfsetospeed(&tio, B2400);
    if (::tcsetattr(slave_.get(), TCSANOW, &tio) != 0) return error = os_error("tcsetattr"), false;

    const int flags = ::fcntl(master_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return error = os_error("fcntl"), false;

    struct stat st {};
    if (::lstat(link_path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return error = link_path + ": exists and is not a symbolic link", false;
    // Build the new link beside the old one and rename it over, so the path never dangles.
    const std::string temp = link_path + ".upssim-" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(slave_path_.c_str(), temp.c_str()) != 0) return error = os_error(temp), false;
    if (::rename(temp.c_str(), link_path.c_str()) != 0) {
        error = os_error(link_path);
        ::unlink(temp.c_str());
        return false;
    }
    link_path_ = link_path;
    linked_ = true;
    return true;
}

std::string PtyLink::read_available() {
    char buf[256];
    const ssize_t n = ::read(master_.get(), buf, sizeof buf);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

void PtyLink::send(std::string_view bytes) {
    if (bytes.empty()) return;
    ssize_t n;
    do {
        n = ::write(master_.get(), bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
}

}  // namespace upssim
