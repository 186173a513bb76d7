// Terminal warnings written to real pseudo-terminals listed in a login-records file of the
// test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "broadcast.h"
#include "temp_root.h"

namespace {

std::string Record(const std::string& line, const std::string& user) {
    std::string r(384, '\0');
    r[0] = 7;  // a user process
    std::memcpy(&r[8], line.data(), std::min<std::size_t>(line.size(), 32));
    std::memcpy(&r[44], user.data(), std::min<std::size_t>(user.size(), 32));
    return r;
}

class Terminal {
  public:
    Terminal() {
        EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        fcntl(master_, F_SETFL, O_NONBLOCK);
        line_ = std::string(ttyname(slave_)).substr(std::strlen("/dev/"));
    }
    ~Terminal() {
        close(master_);
        close(slave_);
    }
    const std::string& line() const { return line_; }
    std::string Seen() {
        char buf[512];
        ssize_t n;
        while ((n = read(master_, buf, sizeof buf)) > 0)
            seen_.append(buf, static_cast<std::size_t>(n));
        return seen_;
    }

  private:
    int master_ = -1, slave_ = -1;
    std::string line_, seen_;
};

}  // namespace

TEST(WarnTerminals, EveryLoggedInTerminalAndNothingOutsideDev) {
    TempRoot root;
    Terminal alice, eve;
    // Two records for alice's terminal and one that names eve's terminal only by climbing out
    // of /dev and back in: that one must not be written, though it leads to a real terminal.
    std::string records = Record(alice.line(), "alice") + Record("tty-none", "bob") +
                          Record("../dev/" + eve.line(), "eve") +
                          Record("pts/../" + eve.line().substr(4), "eve") +
                          Record("/dev/" + eve.line(), "eve") + Record(eve.line(), "");
    root.Write("utmp", records + std::string(100, 'x'));  // and a torn last record
    ASSERT_TRUE(WarnTerminals(root.Path("utmp"), "host", "AC Power Fails! UPS provides power!",
                              1796720735));
    EXPECT_NE(alice.Seen().find("[host]AC Power Fails! UPS provides power! - "), std::string::npos);
    EXPECT_EQ(eve.Seen(), "");

    EXPECT_FALSE(WarnTerminals(root.Path("absent"), "host", "x", 0));
}
