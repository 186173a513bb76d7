// The agent's icon in the notification area, shown in program mode only. Its tip carries the
// battery capacity, refreshed every fifth second; when the shell has lost the icon (Explorer
// restarted), the refresh adds it again.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace torvane {

inline constexpr const char* kTrayTip = "Torvane";

class TrayIcon {
  public:
    virtual ~TrayIcon() = default;
    virtual bool Add(std::string_view tip) = 0;
    // False when the shell no longer knows the icon.
    virtual bool Modify(std::string_view tip) = 0;
    virtual void Remove() = 0;
};

// The system's notification area. On Linux there is none the agent can reach from a system
// service, so the tip goes to standard error whenever it changes.
std::unique_ptr<TrayIcon> MakeTrayIcon();

std::string CapacityTip(int percent);

// The frame's side: one call per second.
class CapacityTray {
  public:
    explicit CapacityTray(std::unique_ptr<TrayIcon> icon);
    ~CapacityTray();
    CapacityTray(const CapacityTray&) = delete;
    CapacityTray& operator=(const CapacityTray&) = delete;

    void Tick(int capacity_percent);

  private:
    std::unique_ptr<TrayIcon> icon_;
    unsigned ticks_ = 0;
};

}  // namespace torvane
