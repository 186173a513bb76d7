// CMainFrame: the agent's hidden frame window. It owns the UPS object and its links, the
// records (configuration, notification texts, schedule, event and data logs) and the alerts,
// and turns every UPS notification into the agent's reactions, up to the closing of
// applications, the UPS's shut-down command and the shut-down of the system.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "client_link.h"
#include "demo_comm.h"
#include "email_alert.h"
#include "frame_reactions.h"
#include "local_link.h"
#include "pager_alert.h"
#include "rs232.h"
#include "tray_icon.h"
#include "udp_events.h"
#include "ups.h"
#include "ups_lib/config.h"
#include "ups_lib/data_log.h"
#include "ups_lib/event_log.h"
#include "ups_lib/link_message.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/platform/copy_data.h"
#include "ups_lib/platform/message_loop.h"
#include "ups_lib/schedule.h"
#include "watch/http/metrics_server.h"
#include "watch/notify/webhooks.h"
#include "watch/nut/nut_server.h"
#include "watch/ups_snapshot.h"
#include "watch/watch_settings.h"

namespace torvane {

inline constexpr const char* kFrameTitle = "Torvane 2000 for Windows";
inline constexpr std::uint32_t kWmShutDownNow = platform::kWmUser + 1;
inline constexpr std::uint32_t kWmCloseAndShutDown = platform::kWmUser + 2;
// A NUT client with the primary's password sent FSD.
inline constexpr std::uint32_t kWmForcedShutdown = platform::kWmUser + 3;
inline constexpr std::uintptr_t kFrameSecondTimer = 0;
inline constexpr std::uintptr_t kFrameMinuteTimer = 1;

class CMainFrame final : public platform::Window, private LinkOwner {
  public:
    // Must be created on its window thread (WindowThread::Create). `program_mode` is false when
    // the agent runs as a service. A window cannot destroy itself here, so WM_CLOSE (the
    // service's stop) calls `on_close`, and its owner destroys the frame.
    explicit CMainFrame(bool program_mode = true, std::function<void()> on_close = {});
    ~CMainFrame() override;

    // What the rest of the agent (the client link, the tests) may look at.
    const CUPS& Ups() const { return *ups_; }
    bool ShuttingDown() const { return shuttingDown_; }
    // Where control panels and event clients reach the agent (0 while not listening).
    std::uint16_t TcpPort() const { return link_->Port(); }
    std::uint16_t UdpPort() const { return udp_->Started() ? udp_->Port() : 0; }
    // What the NUT clients, the metrics endpoint and the webhooks see.
    const watch::SnapshotBoard& Board() const { return board_; }

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override;
    void OnTimer(std::uintptr_t id) override;

  private:
    class Schedule;
    // The panel on this machine, as a client of the same messages as those over TCP.
    static constexpr ClientId kLocalClient = 0;

    // The client links (frame_clients.cpp).
    void OpenClientLinks();
    void Listen();
    void ReportLinkProblem(const std::string& problem);
    std::string LinkPassword() override;
    void OnClientAccepted(ClientId client) override;
    void OnClientMessage(ClientId client, ups::link::Message& message) override;
    std::intptr_t OnCopyData(const platform::CopyDataMessage& data);
    void SendState(ClientId client);
    void Reply(ClientId client, const std::vector<std::uint8_t>& message);
    void Broadcast(const std::vector<std::uint8_t>& message);
    void BroadcastCodes(const Reaction& r);
    void DropClients();
    CUdpEvents::UpsState UdpState() const;

    // The watchers of other tools and the webhooks (frame_watchers.cpp).
    // Before the e-mail alert, whose mailer they choose.
    void ReadWatchSettings();
    void OpenWatchers();
    void StartWatchers();
    Mailer MailerForSettings() const;
    void CloseWatchers();
    void PublishSnapshot();
    void TellWatchers(watch::EventKind kind, const std::string& text);
    void NoteCountdown(int code, int value);
    // The machines that share the UPS are told to shut down; then, before this system goes,
    // they are given their time to log out.
    void ForceSecondariesDown();
    void WaitForSecondaries();

    void Connect(bool reportFailure = true);
    void ReopenMissingPort();
    void OnUpsNotify(int code, int value);
    void Carry(const Reaction& r);
    void Alert(int kind);
    void ShowBox(const std::string& text);
    void StartClosing();
    // Ends the closing thread, and the program it waits for, if it runs.
    void EndClosing();
    void ShutDownNow(bool turnUpsOff, bool shutdownSystem);
    void BatteryLowShutdown();
    void SampleDataLog();
    void ScheduledSelfTest();
    ReactionSettings Settings() const;
    UpsView View() const;
    std::int64_t Now() const;

    bool programMode_;
    std::function<void()> onClose_;
    std::unique_ptr<CapacityTray> tray_;  // program mode only
    // Changed on this thread only (a client's new records): held there while they change and by
    // the mail thread, which reads them. The schedule has a lock of its own.
    mutable std::mutex recordsMutex_;
    ups::CConfig config_;
    ups::CMsgTab msgTab_;
    ups::CSchedule schedule_;
    std::unique_ptr<ups::CEventLog> eventLog_;
    std::unique_ptr<ups::CDataLog> dataLog_;
    std::unique_ptr<Schedule> scheduleSource_;
    FrameReactions reactions_;
    std::unique_ptr<CUPS> ups_;
    CRS232 serial_;
    CDemoComm demo_;
    std::unique_ptr<EventLogAlertSink> alertLog_;
    // Set when the agent stops: a secure mail in hand ends at once (the plain one at its step's
    // time-out).
    std::atomic<bool> mailStopping_{false};
    std::unique_ptr<CEmailAlert> email_;
    std::unique_ptr<CPagerAlerts> pager_;
    std::shared_ptr<PageHandle> lastPage_;
    CLocalLink local_;
    std::unique_ptr<CClientLink> link_;
    std::unique_ptr<CUdpEvents> udp_;
    std::atomic<int> countdownSeconds_{0};  // for the UDP spooler's countdown events
    std::string linkProblem_;               // the last one reported, so that it is said once
    std::jthread closing_;
    std::mutex closingMutex_;
    int closingChild_ = 0;  // under closingMutex_: the program the closing thread waits for
    ScheduledTestWatch testWatch_;
    std::atomic<bool> shuttingDown_{false};
    int lastAlertKind_ = -1;
    watch::WatchSettings watchSettings_;
    watch::SnapshotBoard board_;
    std::unique_ptr<watch::NutServer> nut_;
    std::unique_ptr<watch::MetricsServer> metrics_;
    std::unique_ptr<watch::Webhooks> webhooks_;
    std::string nutProblem_, metricsProblem_;  // the last ones reported
    int countdownLeft_ = 0;                    // seconds, while a countdown runs
    std::optional<std::chrono::steady_clock::time_point> secondariesToldAt_;
};

// The frame's copy-data endpoint, by which the panel on this machine finds it. Opened and closed
// by the frame's owner, never on the frame's thread: closing waits for a message that may be
// waiting for that thread. Null, and the reason traced, when the title is taken or the run
// directory is not safe.
std::unique_ptr<platform::CopyDataEndpoint> OpenFrameEndpoint(const CMainFrame& frame);

}  // namespace torvane
