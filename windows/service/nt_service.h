// CNTService: the agent as a service of the system's service manager. The manager starts the
// program, the program hands its main thread to the dispatcher, and the dispatcher calls
// ServiceMain (start-up, then Run) and, from the manager's control requests, Handler.
//
// On Windows that manager is the service control manager. On POSIX it is systemd: the
// dispatcher is the calling thread, the stop request is SIGTERM (or SIGINT), and the status goes
// to systemd over $NOTIFY_SOCKET (READY=1 once running, STOPPING=1 when a stop begins). What the
// Windows manager keeps in the registry for an installed service, -i writes to the agent's
// registry on POSIX too, so -v and the start-up see the same "installed" on both.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "ups_lib/platform/system_log.h"

#ifdef _WIN32
// windows.h makes StartService a macro for the manager's function of that name; the member of
// that name here is the dispatcher's start. Included first, windows.h cannot bring it back.
#include <windows.h>
#undef StartService
#endif

namespace torvane {

// The service manager's numbers, as SERVICE_STATUS carries them.
enum ServiceState : std::uint32_t {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
};

enum ServiceControl : std::uint32_t {
    kControlStop = 1,
    kControlPause = 2,
    kControlContinue = 3,
    kControlInterrogate = 4,
    kControlShutdown = 5,
    kControlUserFirst = 128,  // codes from here on belong to the service itself
};

// The exit code of a service that failed for a reason of its own (ERROR_SERVICE_SPECIFIC_ERROR).
inline constexpr std::uint32_t kServiceSpecificError = 1066;

struct ServiceStatus {
    std::uint32_t type = 0x10;  // SERVICE_WIN32_OWN_PROCESS
    std::uint32_t state = kServiceStopped;
    std::uint32_t controls_accepted = 0x1;  // SERVICE_ACCEPT_STOP only
    std::uint32_t exit_code = 0;
    std::uint32_t specific_exit_code = 0;
    std::uint32_t check_point = 0;
    std::uint32_t wait_hint = 0;
};

// Where the service manager keeps an installed service, and where the event viewer finds the
// texts of a source's events.
std::string ServiceKey(std::string_view name);
std::string EventSourceKey(std::string_view name);

class CNTService {
  public:
    // One instance per process: the control handler reaches it through a static pointer.
    explicit CNTService(std::string_view name,
                        ups::platform::SystemLog& log = ups::platform::DefaultSystemLog());
    virtual ~CNTService();
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    virtual void Run();
    virtual bool OnInit();
    virtual void OnStop();
    virtual void OnInterrogate();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
    virtual bool OnUserControl(std::uint32_t code);

    // -v, -i and -u. Returns true when argv held one of them (its message is shown and the
    // program should end with `exit_code`); false for anything else.
    bool ParseStandardArgs(int argc, char** argv, int& exit_code);

    bool IsInstalled();
    bool Install();
    bool Uninstall();
    // Hands the calling thread to the dispatcher; returns when the service has stopped, or at
    // once (false) when the program was not started by the service manager.
    bool StartService();

    void SetStatus(std::uint32_t state);
    // Reports an event of the service's source; the non-null strings are its insertion strings.
    void LogEvent(ups::platform::EventType type, std::uint32_t id, const char* s1 = nullptr,
                  const char* s2 = nullptr, const char* s3 = nullptr);
    // A trace line with the service name and the thread.
    void DebugMsg(std::string_view text) const;

    const std::string& Name() const { return name_; }
    ServiceStatus Status() const;
    bool IsRunning() const { return running_; }

    // The dispatcher's two entries. Public so that a platform's dispatcher glue (and the tests)
    // can call them; nothing else should.
    void ServiceMain();
    void Handler(std::uint32_t code);
    // The one instance, for the dispatcher's static entry points.
    static CNTService* Current();

  protected:
    bool Initialize();

    static constexpr int kMajorVersion = 1;
    static constexpr int kMinorVersion = 0;

  private:
    // The platform's half: report the status to the manager; install and remove the service;
    // run the dispatcher. In nt_service_posix.cpp and nt_service_win32.cpp.
    void ReportStatus(const ServiceStatus& status);
    bool RegisterControlHandler();
    bool PlatformIsInstalled(std::string& problem);
    bool PlatformInstall(std::string& problem);
    bool PlatformUninstall(std::string& problem);
    bool RunDispatcher();
    // Shows the text of a command-line switch to whoever ran it (a message box on Windows).
    void ShowMessage(const std::string& text);
    std::string ProgramPath() const;

    std::string name_;
    ups::platform::SystemLog& log_;
    mutable std::mutex statusMutex_;
    ServiceStatus status_;
    std::atomic<bool> running_{false};
};

}  // namespace torvane
