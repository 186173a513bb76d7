// CUPS: the agent's whole view of the UPS. It lives on a thread of its own with a hidden window
// and a 2-second timer: every tick works out the countdown and sends one thing to the UPS (a
// queued command or the regular poll); every reply the link reports is parsed there, and what
// changed is posted to the owner window (the main frame) as WM_UPS_NOTIFY. It never decides to
// shut anything down itself.
//
// A link must outlive the UPS object, or be closed (which ends its reader thread) and detached
// before the UPS object is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "comm_link.h"
#include "ups_changes.h"
#include "ups_commands.h"
#include "ups_countdown.h"
#include "ups_lib/config.h"
#include "ups_lib/platform/copy_data.h"
#include "ups_lib/platform/events.h"
#include "ups_lib/platform/message_loop.h"
#include "ups_lib/ups_records.h"
#include "ups_tolerance.h"

namespace torvane {

class CRS232;
class CDemoComm;
class UsbLink;

// WM_UPS_NOTIFY: wParam the value (seconds, or 0), lParam the code.
inline constexpr std::uint32_t kWmUpsNotify = platform::kWmUser + 10;
inline constexpr std::uintptr_t kUpsTimerId = 34;
inline constexpr std::chrono::milliseconds kUpsTickPeriod{2000};

// What CUPS shares with the control panel's idea of a UPS: the owner, the times the alarms began
// and the delays.
class CBaseUPS {
  public:
    virtual ~CBaseUPS() = default;
    virtual bool IsACFail() const = 0;
    virtual bool IsBatteryLow() const = 0;
};

class CUPS final : public CBaseUPS, private CommNotifySink {
  public:
    // `now` gives calendar seconds; tests hand in their own clock.
    explicit CUPS(std::function<std::int64_t()> now = nullptr);
    ~CUPS() override;
    CUPS(const CUPS&) = delete;
    CUPS& operator=(const CUPS&) = delete;

    // Starts the UPS thread and its window, and the 2-second timer (`tick` for tests).
    void Start(platform::WindowHandle owner, std::chrono::milliseconds tick = kUpsTickPeriod);
    void SetDelays(int acFailMinutes, int batteryLowMinutes, int scheduleWarningMinutes);
    void SetScheduleSource(ScheduleSource* schedule);
    void SetSecDialect(bool sec);
    void SetUsb(bool usb);

    void AttachLink(CCommLink* link);
    void DetachLink();
    // The connect step: the link and dialect the configuration's UPS type asks for.
    // A serial port that cannot be opened is reported as lost (code 2) once; `reportFailure`
    // false for the owner's later attempts at the same port.
    void Connect(const ups::CConfig& config, CRS232& serial, CDemoComm& demo,
                 const std::string& demoFile, bool reportFailure = true);

    // Queue commands; the tick sends them. SetShutdown's event is raised when the UPS reports its
    // shutdown or the last repeat went out (a refused shutdown leaves it alone).
    platform::Event& SetShutdown(int delaySeconds, int restoreMinutes);
    bool ShutdownQueued() const { return shutdownQueued_; }
    void StartTest(int minutes);
    void CancelTest();
    void ToggleBeeper();

    int GetBatteryCapacity() const;
    void ResetData();

    bool IsConnected() const { return connected_; }
    // The USB helper has answered since the last miss.
    bool HelperPresent() const { return helperPresent_; }
    bool IsACFail() const override;
    bool IsBatteryLow() const override;
    bool IsStandby() const;
    bool IsSelfTest() const;
    // The alarms as the UPS last reported them, kept when it falls silent, as the countdown
    // keeps them: what a shutdown after a lost link must still act on.
    bool LastSaidACFail() const { return (lastAlarms_ & ups::kUtilityFail) != 0; }
    bool LastSaidBatteryLow() const { return (lastAlarms_ & ups::kBatteryLowBit) != 0; }
    bool IsBoost() const { return boost_; }
    bool IsBuck() const { return buck_; }
    bool IsBypass() const { return bypass_; }
    bool ScheduledCountdownActive() const { return scheduleActive_; }
    std::int64_t ConnectionTime() const;

    ups::UPSStatusValues Status() const { return status_.Get(); }
    ups::UPSBasicValues BasicInfo() const { return basic_.Get(); }
    ups::UPSRatingValues RatingInfo() const { return rating_.Get(); }
    const ups::CUPSStatus& StatusRecord() const { return status_; }

    // Fills the basic and rating information from the registry when the UPS does not answer
    // "I" and "F": values "BasicInfo" and "RatingInfo" under Software\Stavlen\UPSModel.
    void ReadModelInfoFromRegistry();

  private:
    class Window;
    friend class Window;

    void CommNotify(int lParam, int wParam) override;
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam);
    void OnTick();
    void OnLinkNotify(int lParam, int wParam);
    void HandleReply(const std::string& reply);
    void OnHelperReply(const platform::CopyDataMessage& message);
    void StartUsbLink();
    void StopUsbLink();
    bool HandleStatusLine(const std::string& line);
    void RunSecSequence();
    void Perform(const TickAction& action);
    void SendText(const std::string& text);
    void Post(const Reactions& reactions);
    void PostCode(int code, std::int64_t value = 0);
    void RefreshFlags();
    std::int64_t Now() const;
    LinkKind Kind() const;

    std::function<std::int64_t()> now_;
    platform::WindowHandle owner_;
    std::unique_ptr<platform::WindowThread> thread_;
    platform::WindowPtr<Window> window_;
    platform::WindowHandle self_;  // the window, for the links' threads

    // Touched on the UPS thread only.
    CCommLink* link_ = nullptr;
    ChangeDetector changes_;
    ConnectionTracker tracker_;
    Countdown countdown_;
    int secCapacity_ = -1;
    int secBeeper_ = 0;
    bool secIdle_ = true;  // no SEC poll sequence runs yet, so the first poll may go out
    bool secBusy_ = false;
    std::uint8_t alarms_ = 0;  // the last status byte the UPS sent; ResetData leaves it

    // Set from the main thread, read on the UPS thread.
    mutable std::mutex settingsMutex_;
    CountdownSettings settings_;
    ScheduleSource* schedule_ = nullptr;
    std::atomic<bool> sec_{false};
    std::atomic<bool> usb_{false};
    std::atomic<bool> stopping_{false};
    CommandQueue queue_;
    std::mutex sendMutex_;
    // Made and dropped by the connect step, used by the tick: the lock is held only to queue a
    // request, never while the link is torn down (its endpoint may be waiting for the UPS thread).
    std::mutex usbMutex_;
    std::unique_ptr<UsbLink> usbLink_;

    // Read by any thread.
    std::atomic<bool> connected_{false};
    std::atomic<bool> helperPresent_{false};
    std::atomic<std::int64_t> connectionTime_{0};
    std::atomic<bool> boost_{false};
    std::atomic<bool> buck_{false};
    std::atomic<bool> bypass_{false};
    std::atomic<bool> scheduleActive_{false};
    std::atomic<bool> shutdownQueued_{false};
    std::atomic<std::uint8_t> lastAlarms_{0};  // alarms_, for any thread
    ups::CUPSStatus status_;
    ups::CUPSBasicInfo basic_;
    ups::CUPSRatingInfo rating_;
    platform::Event shutdownDone_{platform::Event::Mode::kAutoReset};
};

}  // namespace torvane
