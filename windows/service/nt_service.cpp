#include "nt_service.h"

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "ups_lib/event_texts.h"
#include "ups_lib/trace.h"

namespace torvane {

namespace {

std::atomic<CNTService*> theService{nullptr};

std::string Format(const char* format, auto... args) {
    char line[512];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

// The message-table text of an id with its insertion strings put in, as the event viewer shows
// it.
std::string EventMessage(std::uint32_t id, const char* const (&strings)[3]) {
    std::string text(ups::EventText(id));
    for (int i = 0; i < 3; ++i) {
        const std::string mark = "%" + std::to_string(i + 1);
        const auto at = text.find(mark);
        if (at != std::string::npos) text.replace(at, mark.size(), strings[i] ? strings[i] : "");
    }
    return text;
}

}  // namespace

std::string ServiceKey(std::string_view name) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + std::string(name);
}

std::string EventSourceKey(std::string_view name) {
    return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + std::string(name);
}

CNTService::CNTService(std::string_view name, ups::platform::SystemLog& log)
    : name_(name.substr(0, 63)), log_(log) {
    theService = this;
}

CNTService::~CNTService() {
    DebugMsg("CNTService::~CNTService()");
    CNTService* self = this;
    theService.compare_exchange_strong(self, nullptr);
}

void CNTService::Run() {
    DebugMsg("Entering CNTService::Run()");
    while (running_) {
        DebugMsg("Sleeping...");
        std::this_thread::sleep_for(std::chrono::milliseconds(5000));
    }
    DebugMsg("Leaving CNTService::Run()");
}

bool CNTService::OnInit() {
    DebugMsg("CNTService::OnInit()");
    return true;
}

void CNTService::OnStop() {
    DebugMsg("CNTService::OnStop()");
}
void CNTService::OnInterrogate() {
    DebugMsg("CNTService::OnInterrogate()");
}
void CNTService::OnPause() {
    DebugMsg("CNTService::OnPause()");
}
void CNTService::OnContinue() {
    DebugMsg("CNTService::OnContinue()");
}
void CNTService::OnShutdown() {
    DebugMsg("CNTService::OnShutdown()");
}

bool CNTService::OnUserControl(std::uint32_t code) {
    DebugMsg(Format("CNTService::OnUserControl(%8.8lXH)", static_cast<unsigned long>(code)));
    return false;
}

bool CNTService::ParseStandardArgs(int argc, char** argv, int& exit_code) {
    if (argc < 2) return false;
    const std::string_view arg = argv[1];
    const char* name = name_.c_str();
    std::string problem;
    exit_code = 0;
    if (arg == "-v") {
        ShowMessage(Format("%s Version %d.%d\nThe service is %s installed\n", name, kMajorVersion,
                           kMinorVersion, IsInstalled() ? "currently" : "not"));
        return true;
    }
    if (arg == "-i") {
        if (IsInstalled()) {
            ShowMessage(Format("%s is already installed\n", name));
        } else if (Install()) {
            ShowMessage(Format("%s installed\n", name));
        } else {
            ShowMessage(Format("%s failed to install. Error %d\n", name, errno ? errno : 1));
            exit_code = 1;
        }
        return true;
    }
    if (arg == "-u") {
        if (!IsInstalled()) {
            ShowMessage(Format("%s is not installed\n", name));
        } else if (Uninstall()) {
            ShowMessage(Format("%s removed. (You must delete the file (%s) yourself.)\n", name,
                               ProgramPath().c_str()));
        } else {
            ShowMessage(Format("Could not remove %s. Error %d\n", name, errno ? errno : 1));
            exit_code = 1;
        }
        return true;
    }
    return false;
}

bool CNTService::IsInstalled() {
    std::string problem;
    return PlatformIsInstalled(problem);
}

bool CNTService::Install() {
    std::string problem;
    errno = 0;
    if (!PlatformInstall(problem)) {
        if (!problem.empty()) DebugMsg(problem);
        return false;
    }
    LogEvent(ups::platform::EventType::Information, ups::kEvServiceInstalled, name_.c_str());
    return true;
}

bool CNTService::Uninstall() {
    std::string problem;
    errno = 0;
    if (PlatformUninstall(problem)) {
        LogEvent(ups::platform::EventType::Information, ups::kEvServiceRemoved);
        return true;
    }
    if (!problem.empty()) DebugMsg(problem);
    LogEvent(ups::platform::EventType::Error, ups::kEvServiceNotRemoved);
    return false;
}

bool CNTService::StartService() {
    DebugMsg("Calling StartServiceCtrlDispatcher()");
    const bool ran = RunDispatcher();
    DebugMsg("Returned from StartServiceCtrlDispatcher()");
    return ran;
}

void CNTService::SetStatus(std::uint32_t state) {
    DebugMsg(Format("CNTService::SetStatus(%lu, %lu)", 0ul, static_cast<unsigned long>(state)));
    ServiceStatus copy;
    {
        std::lock_guard lock(statusMutex_);
        status_.state = state;
        copy = status_;
    }
    ReportStatus(copy);
}

ServiceStatus CNTService::Status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void CNTService::LogEvent(ups::platform::EventType type, std::uint32_t id, const char* s1,
                          const char* s2, const char* s3) {
    const char* const strings[3] = {s1, s2, s3};
    log_.Report(name_, static_cast<std::uint16_t>(type), id, EventMessage(id, strings));
}

void CNTService::DebugMsg(std::string_view text) const {
    std::ostringstream thread;
    thread << std::this_thread::get_id();
    ups::Trace("[" + name_ + "](" + thread.str() + "): " + std::string(text) + "\n");
}

void CNTService::ServiceMain() {
    DebugMsg("Entering CNTService::ServiceMain()");
    {
        std::lock_guard lock(statusMutex_);
        status_.state = kServiceStartPending;
    }
    if (!RegisterControlHandler()) {
        LogEvent(ups::platform::EventType::Error, ups::kEvNoControlHandler);
        return;
    }
    if (Initialize()) {
        running_ = true;
        {
            std::lock_guard lock(statusMutex_);
            status_.exit_code = 0;
            status_.check_point = 0;
            status_.wait_hint = 0;
        }
        Run();
    }
    SetStatus(kServiceStopped);
    DebugMsg("Leaving CNTService::ServiceMain()");
}

bool CNTService::Initialize() {
    DebugMsg("Entering CNTService::Initialize()");
    SetStatus(kServiceStartPending);
    const bool ok = OnInit();
    if (!ok) {
        LogEvent(ups::platform::EventType::Error, ups::kEvInitFailed);
        {
            // A start that failed is no clean stop: the manager's recovery and systemd's
            // restart act on the exit code.
            std::lock_guard lock(statusMutex_);
            status_.exit_code = kServiceSpecificError;
            status_.specific_exit_code = 1;
        }
        SetStatus(kServiceStopped);
    } else {
        LogEvent(ups::platform::EventType::Information, ups::kEvServiceStarted);
        SetStatus(kServiceRunning);
    }
    DebugMsg("Leaving CNTService::Initialize()");
    return ok;
}

void CNTService::Handler(std::uint32_t code) {
    DebugMsg(Format("CNTService::Handler(%lu)", static_cast<unsigned long>(code)));
    switch (code) {
        case kControlStop:
            SetStatus(kServiceStopPending);
            OnStop();
            running_ = false;
            LogEvent(ups::platform::EventType::Information, ups::kEvServiceStopped);
            break;
        case kControlPause:
            OnPause();
            break;
        case kControlContinue:
            OnContinue();
            break;
        case kControlInterrogate:
            OnInterrogate();
            break;
        case kControlShutdown:
            OnShutdown();
            break;
        default:
            if (code < kControlUserFirst || !OnUserControl(code))
                LogEvent(ups::platform::EventType::Error, ups::kEvUnsupportedRequest);
            break;
    }
    const ServiceStatus copy = Status();
    DebugMsg(Format("Updating status (%lu, %lu)", 0ul, static_cast<unsigned long>(copy.state)));
    ReportStatus(copy);
}

CNTService* CNTService::Current() {
    return theService;
}

}  // namespace torvane
