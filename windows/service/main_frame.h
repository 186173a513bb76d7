// CMainFrame: the agent's hidden frame window. It owns the UPS object and its links, the
// records (configuration, notification texts, schedule, event and data logs) and the alerts,
// and turns every UPS notification into the agent's reactions, up to the closing of
// applications, the UPS's shut-down command and the shut-down of the system.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "demo_comm.h"
#include "email_alert.h"
#include "frame_reactions.h"
#include "pager_alert.h"
#include "rs232.h"
#include "ups.h"
#include "ups_lib/config.h"
#include "ups_lib/data_log.h"
#include "ups_lib/event_log.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/platform/message_loop.h"
#include "ups_lib/schedule.h"

namespace torvane {

inline constexpr const char* kFrameTitle = "Torvane 2000 for Windows";
inline constexpr std::uint32_t kWmShutDownNow = platform::kWmUser + 1;
inline constexpr std::uint32_t kWmCloseAndShutDown = platform::kWmUser + 2;
inline constexpr std::uintptr_t kFrameSecondTimer = 0;
inline constexpr std::uintptr_t kFrameMinuteTimer = 1;

class CMainFrame final : public platform::Window {
  public:
    // Must be created on its window thread (WindowThread::Create). `program_mode` is false when
    // the agent runs as a service.
    explicit CMainFrame(bool program_mode = true);
    ~CMainFrame() override;

    // What the rest of the agent (the client link, the tests) may look at.
    const CUPS& Ups() const { return *ups_; }
    bool ShuttingDown() const { return shuttingDown_; }

  protected:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam,
                            std::intptr_t lparam) override;
    void OnTimer(std::uintptr_t id) override;

  private:
    class Schedule;

    void Connect();
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
    std::unique_ptr<CEmailAlert> email_;
    std::unique_ptr<CPagerAlerts> pager_;
    std::shared_ptr<PageHandle> lastPage_;
    std::jthread closing_;
    std::mutex closingMutex_;
    int closingChild_ = 0;  // under closingMutex_: the program the closing thread waits for
    ScheduledTestWatch testWatch_;
    std::atomic<bool> shuttingDown_{false};
    int lastAlertKind_ = -1;
};

}  // namespace torvane
