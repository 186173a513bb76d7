#include "tray_icon.h"

#include <cstdio>

namespace torvane {

std::string CapacityTip(int percent) {
    char tip[64];
    std::snprintf(tip, sizeof tip, "UPS Capacity: %d%%", percent);
    return tip;
}

CapacityTray::CapacityTray(std::unique_ptr<TrayIcon> icon) : icon_(std::move(icon)) {
    icon_->Add(kTrayTip);
}

CapacityTray::~CapacityTray() {
    icon_->Remove();
}

void CapacityTray::Tick(int capacity_percent) {
    if (++ticks_ % 5 != 0) return;
    const std::string tip = CapacityTip(capacity_percent);
    if (!icon_->Modify(tip)) icon_->Add(tip);
}

}  // namespace torvane
