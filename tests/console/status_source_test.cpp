#include <gtest/gtest.h>

#include <random>
#include <string>

#include "screen_data.h"
#include "status_source.h"
#include "temp_root.h"

namespace {

const std::string kStatus = "(230.0 230.0 229.0 021 50.0 2.27 25.0 00001001\r";
const std::string kModel = "#Stavlen         SIM-1000   1.0       \r";
const std::string kRating = "#230.0 004 24.00 50.0\r";

class StatusFiles : public ::testing::Test {
  protected:
    TempRoot root_;
    ScreenData data_;
    int failures_ = 0;
};

}  // namespace

TEST_F(StatusFiles, ReadsAllThreeFiles) {
    root_.Write("kelvora.q1", kStatus);
    root_.Write("kelvora.mdl", kModel);
    root_.Write("kelvora.rtg", kRating);
    failures_ = 4;
    GetData(data_, failures_);
    EXPECT_EQ(failures_, 0);
    EXPECT_EQ(data_.output_voltage, "229.0");
    EXPECT_EQ(data_.ups_type, "Standby");
    EXPECT_EQ(data_.model, "Stavlen         SIM-1000   1.0       ");
    EXPECT_EQ(data_.rating_current, "  4");
    EXPECT_EQ(data_.battery_rating, "24.00");
}

TEST_F(StatusFiles, MissingOrEmptyStatusFileCountsAFailure) {
    GetData(data_, failures_);
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(data_.input_voltage, "N/A");
    root_.Write("kelvora.q1", "");
    root_.Write("kelvora.mdl", kModel);
    GetData(data_, failures_);
    EXPECT_EQ(failures_, 2);
    EXPECT_EQ(data_.model, "") << "no model is read without a status line";
    root_.Write("kelvora.q1", kStatus);
    GetData(data_, failures_);
    EXPECT_EQ(failures_, 0);
    EXPECT_EQ(data_.input_voltage, "230.0");
}

TEST_F(StatusFiles, ABlankedStatusFileShowsNAButIsNoFailure) {
    root_.Write("kelvora.q1", kStatus);
    GetData(data_, failures_);
    root_.Write("kelvora.q1",
                std::string(49, ' '));  // what the daemon writes when the UPS is silent
    GetData(data_, failures_);
    EXPECT_EQ(failures_, 0);
    EXPECT_EQ(data_.input_voltage, "N/A");
    EXPECT_EQ(data_.input_ac, "N/A");
    EXPECT_EQ(data_.rating_voltage, "N/A");
}

TEST_F(StatusFiles, MissingModelAndRatingLeaveTheirFieldsEmptyAndNA) {
    root_.Write("kelvora.q1", kStatus);
    root_.Write("kelvora.rtg", "");
    GetData(data_, failures_);
    EXPECT_EQ(data_.input_voltage, "230.0");
    EXPECT_EQ(data_.model, "");
    EXPECT_EQ(data_.rating_voltage, "N/A");
    EXPECT_EQ(data_.rating_frequency, "N/A");
}

TEST_F(StatusFiles, OnlyTheFirst48BytesOfAStatusFileAreRead) {
    root_.Write("kelvora.q1", kStatus + std::string(100000, 'x'));
    GetData(data_, failures_);
    EXPECT_EQ(data_.input_voltage, "230.0");
    EXPECT_EQ(data_.self_test, "Stop       ");
}

TEST_F(StatusFiles, RandomBytesNeverGiveAnythingButReadingsOrNA) {
    std::mt19937 rng(4);
    for (int round = 0; round < 500; ++round) {
        std::string junk(static_cast<std::size_t>(rng() % 60), '\0');
        for (char& c : junk) c = static_cast<char>(rng() % 256);
        root_.Write("kelvora.q1", junk);
        root_.Write("kelvora.mdl", junk);
        root_.Write("kelvora.rtg", junk);
        GetData(data_, failures_);
        for (std::string_view f :
             {data_.input_voltage.view(), data_.output_voltage.view(), data_.load.view(),
              data_.temperature.view(), data_.rating_voltage.view(), data_.model.view()}) {
            for (char c : f) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "round " << round;
        }
    }
}
