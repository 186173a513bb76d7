#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_agent.h"
#include "screen.h"
#include "status_screen.h"
#include "virtual_screen.h"

namespace {

class SnmpPass : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(screen_.ok()) << "no 24 x 80 curses screen on /dev/null";
        WeekSchedule week;
        InitConfig(&config_, &week);
        std::strcpy(config_.agent_ip, "10.200.0.2");
        std::strcpy(config_.community, "gazers");
        InitScreenData(data_);
        int flag = 0;
        GetFromConfig(data_, config_, week, flag);
        ports_ = agent_.Ports();
    }

    void Remote(int key = -1) { RemoteSnmpPass(key, view_, data_, "10.200.0.2", "public", ports_); }
    void Local(int key = -1, int daemon_present = 1) {
        SNMP_actions(key, view_, data_, config_, daemon_present, ports_);
    }
    std::string At(int row, int col, int length) const {
        return screen_.Row(row).substr(static_cast<std::size_t>(col),
                                       static_cast<std::size_t>(length));
    }
    bool NoDataShown() const {
        return At(23, 41, 37) == "Type 'r' to Redraw, Type 'q' to Quit." &&
               At(3, 62, 12) == "N/A         " && At(16, 25, 12) == "N/A         ";
    }
    bool MainPageShown() const {
        return At(23, 41, 37) == "[r]-Redraw, [m]-More, [q]-Quit       " && At(3, 62, 5) == "230.0";
    }
    bool MorePageShown() const { return screen_.Row(6) == "+" + std::string(77, '-') + "+ "; }
    int SlowReads() const { return agent_.Reads(snmp::kTemperature); }

    VirtualScreen screen_;
    UpsConfig config_{};
    ScreenData data_;
    SnmpView view_;
    FakeAgent agent_ = FakeAgent::Normal();
    SnmpPorts ports_;
};

}  // namespace

TEST_F(SnmpPass, TheRemoteDisplayWaitsForItsAgentAndRedrawsAllWhenItComes) {
    agent_.up = false;
    Remote();
    Remote();
    EXPECT_EQ(agent_.inits, 2);  // tried again every pass
    EXPECT_TRUE(NoDataShown());
    EXPECT_EQ(At(3, 23, 10), "10.200.0.2");
    EXPECT_EQ(At(4, 23, 6), "public");
    EXPECT_EQ(agent_.pauses, 0);  // only a drawn main page waits

    agent_.up = true;
    Remote();
    EXPECT_EQ(agent_.inits, 3);
    EXPECT_TRUE(MainPageShown());
    EXPECT_EQ(At(3, 23, 10), "10.200.0.2");
    EXPECT_EQ(SlowReads(), 1);  // the first pass with data reads everything
    EXPECT_EQ(At(8, 25, 7), "25.0 C ");
    EXPECT_EQ(agent_.pauses, 1);
    Remote();
    EXPECT_EQ(SlowReads(), 1);
    EXPECT_EQ(agent_.inits, 3);  // the link stays up

    // The agent goes away and comes back: no data meanwhile, then a full page again.
    agent_.up = false;
    Remote();
    EXPECT_TRUE(NoDataShown());
    EXPECT_EQ(agent_.inits, 3);
    agent_.up = true;
    Remote();
    EXPECT_TRUE(MainPageShown());
    EXPECT_EQ(SlowReads(), 2);
    EXPECT_EQ(At(16, 25, 12), "brownout    ");
}

TEST_F(SnmpPass, TheRemoteDisplayNeverShowsTheBanner) {
    agent_.values[snmp::kLineVoltage] = "0";
    agent_.values[snmp::kBatteryStatus] = "3";
    for (int pass = 0; pass < 3; ++pass) {
        Remote();
        EXPECT_EQ(At(5, 25, 8), "AC FAILS");
        EXPECT_EQ(At(6, 25, 8), "BAT. LOW");
        EXPECT_EQ(At(17, 4, 32), std::string(32, ' ')) << "pass " << pass;
    }
}

TEST_F(SnmpPass, TheMorePageOpensOnlyWithDataAndIsASnapshot) {
    agent_.values[snmp::kSysName] = "\"ups-room\"";
    agent_.up = false;
    Remote('m');
    EXPECT_EQ(view_.page, 1);
    EXPECT_TRUE(NoDataShown());

    agent_.up = true;
    Remote();
    Remote('m');
    EXPECT_EQ(view_.page, 2);
    EXPECT_TRUE(MorePageShown());
    EXPECT_EQ(At(3, 2, 30), "System Name       : \"ups-room\"");
    EXPECT_EQ(At(23, 41, 30), "[r]-Redraw, [b]-Back, [q]-Quit");
    EXPECT_EQ(agent_.Reads(snmp::kSysName), 1);
    int pauses = agent_.pauses;
    Remote();
    Remote('m');  // already there: not read again
    EXPECT_EQ(agent_.Reads(snmp::kSysName), 1);
    EXPECT_EQ(agent_.pauses, pauses);  // the "more" page does not wait
    Remote('r');
    EXPECT_EQ(agent_.Reads(snmp::kSysName), 2);
    EXPECT_TRUE(MorePageShown());

    Remote('b');
    EXPECT_EQ(view_.page, 1);
    EXPECT_TRUE(MainPageShown());

    // Losing the agent on the "more" page goes back to the main page's no-data screen.
    Remote('m');
    agent_.up = false;
    Remote();
    EXPECT_EQ(view_.page, 1);
    EXPECT_TRUE(NoDataShown());
}

TEST_F(SnmpPass, TheLocalDisplayNeedsTheDaemonToo) {
    // The first pass takes the menu's word for the daemon; later ones ask.
    agent_.daemon = 1;
    Local(-1, 0);
    EXPECT_TRUE(NoDataShown());
    EXPECT_EQ(At(3, 23, 10), "10.200.0.2");
    EXPECT_EQ(At(4, 23, 6), "gazers");
    Local(-1, 0);
    EXPECT_TRUE(MainPageShown());
    EXPECT_EQ(SlowReads(), 1);

    agent_.daemon = 0;
    Local('m');
    EXPECT_EQ(view_.page, 1);
    EXPECT_TRUE(NoDataShown());
    agent_.daemon = 1;
    Local();
    EXPECT_TRUE(MainPageShown());
    EXPECT_EQ(SlowReads(), 2);  // back with the daemon: everything read again

    Local('m');
    EXPECT_TRUE(MorePageShown());
    Local('b');
    EXPECT_TRUE(MainPageShown());
}

TEST_F(SnmpPass, TheLocalDisplayShowsTheBannerAndRecovers) {
    agent_.values[snmp::kLineVoltage] = "0";
    Local();
    EXPECT_EQ(At(17, 4, 32), "<<System is About to Shut Down>>");
    EXPECT_EQ(At(3, 23, 10), "10.200.0.2");

    agent_.values[snmp::kLineVoltage] = "2300";
    agent_.up = false;
    Local();
    EXPECT_TRUE(NoDataShown());
    EXPECT_EQ(At(17, 4, 32).find_first_not_of(' '), std::string::npos);
    agent_.up = true;
    Local();
    EXPECT_TRUE(MainPageShown());
    EXPECT_EQ(SlowReads(), 2);
    EXPECT_EQ(At(16, 25, 12), "brownout    ");
}

TEST_F(SnmpPass, AnAgentSilentHalfWayThroughThePageGetsAFullRedrawAfter) {
    Local();
    EXPECT_EQ(SlowReads(), 1);
    Local();
    EXPECT_EQ(SlowReads(), 1);
    agent_.answer_reads = 1;  // the link test answers, the page's reads do not
    Local();
    EXPECT_EQ(At(3, 62, 12), "N/A         ");
    agent_.answer_reads = -1;
    agent_.up = true;
    Local();
    EXPECT_EQ(SlowReads(), 2);
    EXPECT_EQ(At(3, 62, 5), "230.0");
}

TEST_F(SnmpPass, ALongAddressOrCommunityStopsBeforeTheRightPane) {
    std::strcpy(config_.agent_ip, "10.200.0.2.and.a.long.tail.x");  // 29, hand-edited
    std::strcpy(config_.community, "c\x1b[2Jcommunity-of-29-charact");
    agent_.up = false;
    Local();
    EXPECT_EQ(At(3, 23, 19), "10.200.0.2.and.a.lo");
    EXPECT_EQ(At(4, 23, 19), "c [2Jcommunity-of-2");  // and printable only
    EXPECT_EQ(At(3, 42, 19), " UPS Input Voltage:");
    EXPECT_EQ(At(4, 42, 2), " |");

    // The menu's longest entries are shown whole.
    Remote();
    RemoteSnmpPass(-1, view_, data_, "255.255.255.255", std::string(19, 'x'), ports_);
    EXPECT_EQ(At(3, 23, 16), "255.255.255.255|");  // up to the border
    EXPECT_EQ(At(4, 23, 20), std::string(19, 'x') + " ");
}
