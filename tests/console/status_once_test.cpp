#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "fake_agent.h"
#include "instance_lock.h"
#include "report_format.h"
#include "status_once.h"
#include "status_report.h"
#include "temp_root.h"

namespace {

const std::string kStatus = "(230.0 230.0 229.0 021 50.0 2.27 25.0 00000001\r";
const std::string kModel = "#Stavlen         SIM-1000   1.0       \r";
const std::string kRating = "#230.0 004 24.00 50.0\r";

// A process that holds the root's daemon lock, as a running vornd does.
class LockHolderProcess {
  public:
    LockHolderProcess() {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            kelvora::InstanceLock lock;
            char ok = lock.Acquire() == kelvora::LockResult::kHeld ? 'y' : 'n';
            ssize_t ignored = write(ready[1], &ok, 1);
            (void)ignored;
            pause();
            _exit(0);
        }
        close(ready[1]);
        char ok = 'n';
        held_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
    }
    ~LockHolderProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool held() const { return held_; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

class StatusOnceFiles : public ::testing::Test {
  protected:
    void WriteReplies() {
        root_.Write("kelvora.q1", kStatus);
        root_.Write("kelvora.mdl", kModel);
        root_.Write("kelvora.rtg", kRating);
    }
    int64_t Now() const { return static_cast<int64_t>(time(nullptr)); }
    void Age(const std::string& name, int seconds) {
        struct timespec times[2] = {{Now() - seconds, 0}, {Now() - seconds, 0}};
        utimensat(AT_FDCWD, root_.Path(name).c_str(), times, 0);
    }

    TempRoot root_;
};

}  // namespace

TEST_F(StatusOnceFiles, NoDaemonComesFirst) {
    WriteReplies();
    OnceResult r = StatusOnce(Now());
    EXPECT_EQ(r.status, kOnceNoDaemon);
    EXPECT_EQ(r.problem, "the daemon vornd is not running in " + root_.dir());
    EXPECT_TRUE(r.report.reading) << "the files were read";
    EXPECT_EQ(r.report.input_voltage_volts, std::nullopt) << "but are not shown as now";
    EXPECT_TRUE(r.report.updated_at);
}

TEST_F(StatusOnceFiles, ARunningDaemonWithAFreshReading) {
    LockHolderProcess daemon;
    ASSERT_TRUE(daemon.held());
    WriteReplies();
    OnceResult r = StatusOnce(Now());
    ASSERT_EQ(r.status, kOnceOk) << r.problem;
    EXPECT_EQ(r.problem, "");
    EXPECT_TRUE(r.report.connected());
    EXPECT_EQ(r.report.daemon_pid, daemon.pid());
    EXPECT_EQ(r.report.input_voltage_volts, "230.0");
    EXPECT_EQ(r.report.output_voltage_volts, "229.0");
    EXPECT_EQ(r.report.model, "SIM-1000");
    EXPECT_EQ(r.report.rating_current_amperes, "4");
    EXPECT_EQ(r.report.status, "OL");
    EXPECT_EQ(r.report.source, "") << "no configuration in this root";
}

TEST_F(StatusOnceFiles, StaleMissingAndBlank) {
    LockHolderProcess daemon;
    ASSERT_TRUE(daemon.held());
    OnceResult r = StatusOnce(Now());
    EXPECT_EQ(r.status, kOnceNoReading);
    EXPECT_EQ(r.problem,
              "no status from the daemon: " + root_.Path("kelvora.q1") + " is missing or empty");

    WriteReplies();
    Age("kelvora.q1", kStaleSeconds + 5);
    r = StatusOnce(Now());
    EXPECT_EQ(r.status, kOnceStale);
    EXPECT_EQ(r.problem, "the reading is stale: " + root_.Path("kelvora.q1") +
                             " was last written " + std::to_string(kStaleSeconds + 5) + " s ago");
    EXPECT_EQ(r.report.status, std::nullopt);
    Age("kelvora.q1", kStaleSeconds - 5);
    EXPECT_EQ(StatusOnce(Now()).status, kOnceOk);

    root_.Write("kelvora.q1", std::string(49, ' '));  // the daemon's word for a silent UPS
    r = StatusOnce(Now());
    EXPECT_EQ(r.status, kOnceNoReading);
    EXPECT_EQ(r.problem, "the UPS does not answer: no reading in " + root_.Path("kelvora.q1"));
}

TEST_F(StatusOnceFiles, FilesThatAreNoReplies) {
    LockHolderProcess daemon;
    ASSERT_TRUE(daemon.held());
    const std::string q1 = root_.Path("kelvora.q1");
    root_.Write("kelvora.q1", "");
    EXPECT_EQ(StatusOnce(Now()).status, kOnceNoReading);
    root_.Write("kelvora.q1", std::string(48, '\0'));
    EXPECT_EQ(StatusOnce(Now()).status, kOnceNoReading);

    // A huge file is read only as far as a reply reaches.
    {
        std::ofstream out(q1, std::ios::binary | std::ios::trunc);
        out << kStatus;
        for (int i = 0; i < 64 * 1024; ++i) out << "garbage garbage garbage garbage\n";
    }
    OnceResult r = StatusOnce(Now());
    EXPECT_EQ(r.status, kOnceOk) << r.problem;
    EXPECT_EQ(r.report.input_voltage_volts, "230.0");

    // A FIFO must not make the report wait for a writer; a directory is no file either.
    unlink(q1.c_str());
    ASSERT_EQ(mkfifo(q1.c_str(), 0644), 0);
    EXPECT_EQ(StatusOnce(Now()).status, kOnceNoReading);
    unlink(q1.c_str());
    ASSERT_EQ(mkdir(q1.c_str(), 0755), 0);
    EXPECT_EQ(StatusOnce(Now()).status, kOnceNoReading);
    rmdir(q1.c_str());

    // A model file that is a FIFO leaves the model unknown and the reading good.
    root_.Write("kelvora.q1", kStatus);
    unlink(root_.Path("kelvora.mdl").c_str());
    ASSERT_EQ(mkfifo(root_.Path("kelvora.mdl").c_str(), 0644), 0);
    r = StatusOnce(Now());
    EXPECT_EQ(r.status, kOnceOk);
    EXPECT_EQ(r.report.model, std::nullopt);
}

TEST_F(StatusOnceFiles, ARootWithoutALockFileButUnwritable) {
    // The heartbeat queue's last send decides then: with no queue, no daemon. Looking must not
    // create the queue.
    if (geteuid() == 0) GTEST_SKIP() << "the super-user may write anywhere";
    chmod(root_.dir().c_str(), 0555);
    EXPECT_EQ(StatusOnce(Now()).status, kOnceNoDaemon);
    chmod(root_.dir().c_str(), 0755);
}

TEST(StatusFromAgent, ReadingsInTheirUnits) {
    FakeAgent agent = FakeAgent::Normal();
    agent.values[snmp::kFirmwareRev] = "\"2.1\" trailing";
    StatusReport r;
    r.daemon_running = r.fresh = true;
    ReportFromAgent(r, agent.Reader());
    ASSERT_TRUE(r.connected());
    EXPECT_EQ(r.status, "OL");
    EXPECT_EQ(r.input_voltage_volts, "230.0");
    EXPECT_EQ(r.output_voltage_volts, "230.0");
    EXPECT_EQ(r.load_percent, "21");
    EXPECT_EQ(r.battery_charge_percent, "100");
    EXPECT_EQ(r.battery_voltage_volts, "27.2");
    EXPECT_EQ(r.temperature_celsius, "25.0");
    EXPECT_EQ(r.input_frequency_hertz, "50.0");
    EXPECT_EQ(r.rating_battery_voltage_volts, "24.0");
    EXPECT_EQ(r.model, "SIM-1000");
    EXPECT_EQ(r.firmware, "2.1");
    EXPECT_EQ(r.self_test, false);
    EXPECT_EQ(r.boost, false);

    agent.values[snmp::kLineVoltage] = "0";
    agent.values[snmp::kBatteryStatus] = "3";
    agent.values[snmp::kOutputStatus] = "4";
    agent.values[snmp::kSelfTestState] = "4";
    agent.values[snmp::kTemperature] = "0";
    ReportFromAgent(r, agent.Reader());
    EXPECT_EQ(r.status, "OB LB CAL BOOST");
    EXPECT_EQ(r.temperature_celsius, std::nullopt) << "0 is no thermometer";

    agent.up = false;
    StatusReport silent;
    ReportFromAgent(silent, agent.Reader());
    EXPECT_FALSE(silent.reading);
    EXPECT_EQ(silent.status, std::nullopt);
}

TEST_F(StatusOnceFiles, SnmpModeAsksTheAgentNotTheFiles) {
    LockHolderProcess daemon;
    ASSERT_TRUE(daemon.held());
    WriteReplies();  // what a serial daemon left behind: not the UPS's state now
    root_.Write("vorn.ini", "");
    // Delays, rating, port, switches, mode 1 (SNMP), agent and community. An agent at a
    // loopback address is never asked, so the test reaches no network.
    root_.Write("kelvora.cfg",
                "[5]\n[1]\n[3.0]\n[0.0]\n[/dev/null]\n[1]\n[0]\n[1]\n[1]\n[127.0.0.1]\n[gazers]\n");
    OnceResult r = StatusOnce(Now());
    EXPECT_EQ(r.report.source, "snmp");
    EXPECT_EQ(r.status, kOnceNoReading);
    EXPECT_EQ(r.problem, "the SNMP agent at 127.0.0.1 gives no reading");
    EXPECT_EQ(r.report.input_voltage_volts, std::nullopt);
}
