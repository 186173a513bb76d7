#include "monitor_service.h"

#include <exception>
#include <string>

#include "ups_lib/trace.h"

namespace torvane {

CMonitorService::CMonitorService(ups::platform::SystemLog& log) : CNTService(kServiceName, log) {}

CMonitorService::~CMonitorService() {
    endpoint_.reset();
    frame_.reset();
}

bool CMonitorService::OnInit() {
    try {
        frame_ = thread_.Create<CMainFrame>(false, [this] { closed_.Set(); });
    } catch (const std::exception& e) {
        DebugMsg(std::string("the main frame could not start: ") + e.what());
        return false;
    }
    if (!frame_) return false;
    endpoint_ = OpenFrameEndpoint(*frame_);
    std::lock_guard lock(windowMutex_);
    frameWindow_ = frame_->handle();
    return true;
}

void CMonitorService::Run() {
    DebugMsg("Entering CMonitorService::Run()");
    closed_.Wait();
    // The frame's end: timers, the UPS object and its links, the alert threads.
    endpoint_.reset();
    frame_.reset();
    DebugMsg("Leaving CMonitorService::Run()");
}

void CMonitorService::OnStop() {
    DebugMsg("CMonitorService::OnStop()");
    // The frame may be gone already (it closed itself); then there is nothing left to stop.
    std::lock_guard lock(windowMutex_);
    if (!frameWindow_.Post(platform::kWmClose)) closed_.Set();
}

}  // namespace torvane
