// The service manager on POSIX is systemd. The dispatcher is the calling thread, which runs
// ServiceMain; a second thread waits for the stop signals (blocked in every thread by main) and
// turns them into the stop request, as the Windows manager's control thread does. The status
// goes to systemd's notification socket when the unit gave one, which lets a Type=notify unit
// know when the agent protects the machine and when it has begun to stop.
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "nt_service.h"
#include "ups_lib/platform/registry.h"
#include "ups_lib/platform/unique_fd.h"

namespace torvane {

namespace {

// Sends one notification to systemd; silently nothing when not run by it. The socket path is
// either a file path or, starting with '@', an abstract name.
void Notify(const char* message) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t len = std::strlen(path);
    if (len >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path, len);
    if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
    ups::platform::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return;
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
    (void)::sendto(fd.get(), message, std::strlen(message), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&addr), size);
}

// The signal that ends the control thread once ServiceMain has returned. It only counts with the
// flag set, so one sent from outside cannot take the stop request away.
constexpr int kEndControl = SIGUSR2;
std::atomic<bool> dispatcherEnding{false};

}  // namespace

void CNTService::ReportStatus(const ServiceStatus& status) {
    // The handler reports the status again after every request; systemd hears each state once.
    static std::atomic<std::uint32_t> reported{0};
    if (reported.exchange(status.state) == status.state) return;
    switch (status.state) {
        case kServiceRunning:
            Notify("READY=1\nSTATUS=Watching the UPS");
            break;
        case kServiceStopPending:
            Notify("STOPPING=1");
            break;
        default:
            break;
    }
}

bool CNTService::RegisterControlHandler() {
    // The control thread is started by the dispatcher before ServiceMain runs.
    return true;
}

bool CNTService::PlatformIsInstalled(std::string& problem) {
    const auto read = ups::platform::SystemRegistry().ReadValue(ServiceKey(name_), "ImagePath");
    if (read.status == ups::platform::ReadStatus::Unreadable) problem = read.problem;
    return read.status == ups::platform::ReadStatus::Found;
}

// What the Windows manager records for a demand-started service of its own process, and the
// event source's values, so the two systems' registries look alike.
bool CNTService::PlatformInstall(std::string& problem) {
    auto& reg = ups::platform::SystemRegistry();
    const std::string service = ServiceKey(name_);
    const std::string source = EventSourceKey(name_);
    const std::string path = ProgramPath();
    using ups::platform::ValueType;
    const bool ok = reg.WriteString(source, "EventMessageFile", ValueType::ExpandString, path) &&
                    reg.WriteDword(source, "TypesSupported", 7) &&
                    reg.WriteString(service, "DisplayName", ValueType::ExpandString, name_) &&
                    reg.WriteDword(service, "Type", 0x10) && reg.WriteDword(service, "Start", 3) &&
                    reg.WriteDword(service, "ErrorControl", 1) &&
                    // Last: it is what says "installed".
                    reg.WriteString(service, "ImagePath", ValueType::ExpandString, path);
    if (!ok) problem = "cannot write the service's keys in the registry";
    return ok;
}

bool CNTService::PlatformUninstall(std::string& problem) {
    if (ups::platform::SystemRegistry().DeleteKey(ServiceKey(name_))) return true;
    problem = "cannot remove the service's key from the registry";
    return false;
}

bool CNTService::RunDispatcher() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, kEndControl}) sigaddset(&signals, sig);
    // Whoever runs the dispatcher blocks these before starting threads; blocking them here too
    // keeps a signal from killing the process before the control thread waits for it.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    dispatcherEnding = false;
    std::thread control([this, signals] {
        for (;;) {
            int sig = 0;
            if (sigwait(&signals, &sig) != 0) continue;
            if (sig == kEndControl) {
                if (dispatcherEnding) return;
                continue;
            }
            // A closed terminal is no reason to stop protecting the machine.
            if (sig == SIGHUP) continue;
            Handler(kControlStop);
        }
    });
    ServiceMain();
    dispatcherEnding = true;
    pthread_kill(control.native_handle(), kEndControl);
    control.join();
    return true;
}

void CNTService::ShowMessage(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

std::string CNTService::ProgramPath() const {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? name_ : self.string();
}

}  // namespace torvane
