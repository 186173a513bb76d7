// Replies read over a real pseudo-terminal, the way the daemon reads a serial UPS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <utility>

#include <string>

#include "serial_port.h"
#include "serial_timing.h"
#include "temp_root.h"
#include "ups_commands.h"

namespace {

const std::string kStatus = "(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001\r";
const std::string kModel = "#Stavlen         SIM-1000   1.0       \r";

// The reader's clock, run by the test: waiting for input that is not there and the pause after
// a command pass at once, and during the pause the UPS answers what it heard.
class FakeTiming : public SerialTiming {
  public:
    Clock::time_point Now() override { return now_; }
    bool WaitReadable(int fd, std::chrono::milliseconds timeout) override {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) return true;
        now_ += timeout;
        return false;
    }
    void Sleep(std::chrono::milliseconds how_long) override {
        now_ += how_long;
        if (on_pause) on_pause();
    }
    std::chrono::milliseconds Elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - Clock::time_point{});
    }
    std::function<void()> on_pause;

  private:
    Clock::time_point now_{};
};

class SerialReply : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(kStatus.size(), 47u);
        ASSERT_EQ(openpty(&ups_, &port_, nullptr, nullptr, nullptr), 0);
        termios t{};
        tcgetattr(port_, &t);
        cfmakeraw(&t);
        tcsetattr(port_, TCSANOW, &t);
        fcntl(port_, F_SETFL, fcntl(port_, F_GETFL) | O_NONBLOCK);
        fcntl(ups_, F_SETFL, fcntl(ups_, F_GETFL) | O_NONBLOCK);
        timing_.on_pause = [this] { Answer(); };
        UseSerialTiming(&timing_);
    }
    void TearDown() override {
        UseSerialTiming(nullptr);
        if (ups_ >= 0) close(ups_);
        close(port_);
    }
    void UpsSays(const std::string& bytes) {
        ASSERT_EQ(write(ups_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the UPS heard since the last call.
    std::string UpsHeard() {
        Listen();
        return std::exchange(heard_, "");
    }
    // The UPS answers `command` with `reply` whenever it hears it.
    void Replies(const std::string& command, const std::string& reply) {
        replies_[command] = reply;
    }

    int ups_ = -1;   // the UPS's end
    int port_ = -1;  // the daemon's end
    std::string reply_ = "stale";
    FakeTiming timing_;

  private:
    void Listen() {
        char buf[128];
        ssize_t n;
        while (ups_ >= 0 && (n = read(ups_, buf, sizeof buf)) > 0) {
            heard_.append(buf, static_cast<std::size_t>(n));
            unanswered_.append(buf, static_cast<std::size_t>(n));
        }
    }
    void Answer() {
        Listen();
        for (std::size_t eol; (eol = unanswered_.find('\r')) != std::string::npos;) {
            std::string command = unanswered_.substr(0, eol + 1);
            unanswered_.erase(0, eol + 1);
            if (auto it = replies_.find(command); it != replies_.end()) UpsSays(it->second);
        }
    }
    std::map<std::string, std::string> replies_;
    std::string heard_;
    std::string unanswered_;
};

}  // namespace

TEST_F(SerialReply, WholeLinesAreTakenWithTheirCarriageReturn) {
    UpsSays(kStatus);
    EXPECT_EQ(fdread(port_, reply_), 1);
    EXPECT_EQ(reply_, kStatus);

    UpsSays(kModel);
    EXPECT_EQ(fdread(port_, reply_), 1);
    EXPECT_EQ(reply_, kModel);

    // Zero bytes are line noise and are not kept.
    UpsSays(
        std::string("(1\0\0"
                    "2\r",
                    6));
    EXPECT_EQ(fdread(port_, reply_), 1);
    EXPECT_EQ(reply_, "(12\r");
}

TEST_F(SerialReply, GarbageIsRejected) {
    UpsSays("X230.0 garbage\r");
    EXPECT_EQ(fdread(port_, reply_), -1);
    EXPECT_EQ(reply_, "X230.0 garbage\r");

    // 48 characters without a carriage return overflow the reader.
    UpsSays(std::string(80, '(') + "\r");
    EXPECT_EQ(fdread(port_, reply_), -1);
    EXPECT_EQ(reply_, "");
    tcflush(port_, TCIFLUSH);

    // Exactly 47 with the carriage return still fits.
    UpsSays(std::string(46, '(') + "\r");
    EXPECT_EQ(fdread(port_, reply_), 1);
}

TEST_F(SerialReply, ALineWithoutCarriageReturnIsSilenceAfterThreeSeconds) {
    UpsSays(kStatus.substr(0, 40));
    UpsSays(std::string("\x01\xff\x80", 3));  // binary noise, still no carriage return
    EXPECT_EQ(fdread(port_, reply_), -1);
    EXPECT_EQ(reply_, "");
    EXPECT_GE(timing_.Elapsed(), std::chrono::seconds(3));
    EXPECT_LT(timing_.Elapsed(), std::chrono::seconds(4));
}

TEST_F(SerialReply, ALostLineIsToldApartFromSilence) {
    // The UPS's end goes away (a pulled adapter, a simulator that died): reading hangs up and
    // writing fails. Neither may be mistaken for a UPS that is merely slow.
    close(ups_);
    ups_ = -1;
    EXPECT_EQ(fdread(port_, reply_), kLinkLost);
    EXPECT_LT(timing_.Elapsed(), std::chrono::seconds(2));
    EXPECT_EQ(A_GetUPSStatus(port_, reply_), kLinkLost);
    EXPECT_EQ(reply_, "");
    EXPECT_EQ(GetUPSResponse(port_, "Q1\r", reply_), kLinkLost);
}

TEST_F(SerialReply, StatusQueryTakesOnlyAWholeStatusLine) {
    Replies("Q1\r", kStatus);
    EXPECT_EQ(A_GetUPSStatus(port_, reply_), 1);
    EXPECT_EQ(reply_, kStatus);
    EXPECT_EQ(UpsHeard(), "Q1\r");
    EXPECT_EQ(timing_.Elapsed(), std::chrono::seconds(1));  // the pause the protocol allows

    // A model line, or a status line of another width, would put other characters where the
    // status bits are read.
    for (const std::string& wrong : {kModel, kStatus.substr(1), "(" + kStatus}) {
        Replies("Q1\r", wrong);
        EXPECT_EQ(A_GetUPSStatus(port_, reply_), -1) << wrong;
        EXPECT_EQ(reply_, "");
    }
}

TEST_F(SerialReply, StaleInputNeverStandsInForTheAnswer) {
    // The rest of an over-long reply and line noise wait in the buffer; the next question must
    // be answered by what the UPS says to it, not by the old bytes.
    Replies("Q1\r", kStatus);
    UpsSays(std::string(200, '(') + "\r" + kModel);
    EXPECT_EQ(A_GetUPSStatus(port_, reply_), 1);
    EXPECT_EQ(reply_, kStatus);
    UpsSays(kModel);
    EXPECT_EQ(A_GetUPSStatus(port_, reply_), 1);
    EXPECT_EQ(reply_, kStatus);
}

TEST_F(SerialReply, ThePortTakesNoByteFromTheLineAsFlowControlOrSignal) {
    // A real serial port starts with software flow control and signal characters on; a raw
    // pseudo-terminal hides that. Give the port those defaults first.
    termios t{};
    tcgetattr(port_, &t);
    t.c_iflag |= IXON | IXOFF | IXANY;
    t.c_lflag |= ISIG | IEXTEN;
    tcsetattr(port_, TCSANOW, &t);
    Replies("Q1\r", kStatus);

    int fd = A_UPSsureInit(ptsname(ups_));
    ASSERT_GE(fd, 0);
    tcgetattr(fd, &t);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(t.c_lflag & (ISIG | IEXTEN | ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
    UpsHeard();

    // Noise holding XOFF (DC3) and the interrupt character reaches the port: our questions must
    // still go out, and the answers still come in whole.
    UpsSays("\x13\x03\x1a");
    EXPECT_EQ(A_GetUPSStatus(fd, reply_), 1);
    EXPECT_EQ(UpsHeard(), "Q1\r");
    EXPECT_EQ(reply_, kStatus);
    close(fd);
}

TEST_F(SerialReply, ModelQueryRewritesItsFileEvenWhenItFails) {
    TempRoot root;
    Replies("I\r", kModel);
    EXPECT_EQ(A_GetUPSModel(port_, reply_), 1);
    EXPECT_EQ(UpsHeard(), "I\r");
    EXPECT_EQ(root.Read("kelvora.mdl"), kModel);

    Replies("F\r", kStatus);  // the wrong answer
    EXPECT_EQ(A_GetUPSRating(port_, reply_), -1);
    EXPECT_EQ(UpsHeard(), "F\r");
    EXPECT_TRUE(std::filesystem::exists(root.Path("kelvora.rtg")));
    EXPECT_EQ(root.Read("kelvora.rtg"), "");
}
