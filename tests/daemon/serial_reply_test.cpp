// Replies read over a real pseudo-terminal, the way the daemon reads a serial UPS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "serial_port.h"
#include "temp_root.h"
#include "ups_commands.h"

namespace {

const std::string kStatus = "(230.0 230.0 230.0 021 50.0 2.27 25.0 00001001\r";
const std::string kModel = "#Stavlen         SIM-1000   1.0       \r";

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
    }
    void TearDown() override {
        close(ups_);
        close(port_);
    }
    void UpsSays(const std::string& bytes) {
        ASSERT_EQ(write(ups_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string UpsHeard() {
        char buf[128];
        ssize_t n = read(ups_, buf, sizeof buf);
        return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    int ups_ = -1;   // the UPS's end
    int port_ = -1;  // the daemon's end
    std::string reply_ = "stale";
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
    UpsSays(std::string("(1\0\0" "2\r", 6));
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
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fdread(port_, reply_), -1);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(reply_, "");
    EXPECT_GE(waited, std::chrono::milliseconds(2900));
    EXPECT_LT(waited, std::chrono::milliseconds(4500));
}

TEST_F(SerialReply, AHungUpLineEndsTheWaitAtOnce) {
    close(ups_);
    ups_ = open("/dev/null", O_RDONLY);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fdread(port_, reply_), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SerialReply, StatusQueryTakesOnlyAWholeStatusLine) {
    UpsSays(kStatus);
    EXPECT_EQ(A_GetUPSStatus(port_, reply_), 1);
    EXPECT_EQ(reply_, kStatus);
    EXPECT_EQ(UpsHeard(), "Q1\r");

    // A model line, or a status line of another width, would put other characters where the
    // status bits are read.
    for (const std::string& wrong : {kModel, kStatus.substr(1), "(" + kStatus}) {
        tcflush(port_, TCIFLUSH);
        UpsSays(wrong);
        EXPECT_EQ(A_GetUPSStatus(port_, reply_), -1) << wrong;
        EXPECT_EQ(reply_, "");
    }
}

TEST_F(SerialReply, ModelQueryRewritesItsFileEvenWhenItFails) {
    TempRoot root;
    UpsSays(kModel);
    EXPECT_EQ(A_GetUPSModel(port_, reply_), 1);
    EXPECT_EQ(UpsHeard(), "I\r");
    EXPECT_EQ(root.Read("kelvora.mdl"), kModel);

    UpsSays(kStatus);  // the wrong answer
    EXPECT_EQ(A_GetUPSRating(port_, reply_), -1);
    EXPECT_EQ(UpsHeard(), "F\r");
    EXPECT_TRUE(std::filesystem::exists(root.Path("kelvora.rtg")));
    EXPECT_EQ(root.Read("kelvora.rtg"), "");
}
