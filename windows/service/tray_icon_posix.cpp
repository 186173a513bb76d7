#include <cstdio>
#include <string>

#include "tray_icon.h"

namespace torvane {

namespace {

class LoggedTray final : public TrayIcon {
  public:
    bool Add(std::string_view tip) override { return Show(tip); }
    bool Modify(std::string_view tip) override { return Show(tip); }
    void Remove() override {}

  private:
    // Only changes are written: a line every five seconds would bury everything else.
    bool Show(std::string_view tip) {
        if (tip != shown_) {
            shown_ = tip;
            std::fprintf(stderr, "Torvane: %s\n", shown_.c_str());
        }
        return true;
    }

    std::string shown_;
};

}  // namespace

std::unique_ptr<TrayIcon> MakeTrayIcon() {
    return std::make_unique<LoggedTray>();
}

}  // namespace torvane
