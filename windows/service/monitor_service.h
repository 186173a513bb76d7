// CMonitorService: the agent as a service. Start-up creates the main frame on its window thread;
// Run waits until the frame has closed; the stop request closes the frame with WM_CLOSE, never
// touching it from the control thread.
#pragma once

#include <mutex>

#include "main_frame.h"
#include "nt_service.h"
#include "ups_lib/platform/events.h"
#include "ups_lib/platform/message_loop.h"

namespace torvane {

inline constexpr const char* kServiceName = "Torvane";

class CMonitorService final : public CNTService {
  public:
    explicit CMonitorService(ups::platform::SystemLog& log = ups::platform::DefaultSystemLog());
    ~CMonitorService() override;

    bool OnInit() override;
    void Run() override;
    void OnStop() override;

  private:
    platform::WindowThread thread_;
    platform::WindowPtr<CMainFrame> frame_;
    std::unique_ptr<platform::CopyDataEndpoint> endpoint_;  // the local panel's way in
    std::mutex
        windowMutex_;  // frameWindow_ is set on the dispatcher thread, read on the control thread
    platform::WindowHandle frameWindow_;
    platform::Event closed_{platform::Event::Mode::kManualReset};
};

}  // namespace torvane
