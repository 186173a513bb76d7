// The notification record, registry value "msgTab": for each of the seven notification kinds a
// warning text, an e-mail address, a pager number and a pager code.
#pragma once

#include <array>
#include <string>

#include "reg_serial.h"

namespace ups {

// Notification kinds, in index order.
enum NotifyKind : int {
    kUtilityFailed = 0,
    kBatteryLow = 1,
    kUtilityRestored = 2,
    kBatteryLowCleared = 3,
    kScheduledShutdownComing = 4,
    kScheduledShutdownCancelled = 5,
    kUpsFailure = 6,
};
inline constexpr int kNotifyKinds = 7;

class CMsgTab final : public CRegSerial {
  public:
    CMsgTab();
    CMsgTab(const CMsgTab&) = default;
    CMsgTab& operator=(const CMsgTab&) = default;

    const char* ClassName() const override { return "CMsgTab"; }
    // For each kind in order: text, address, number, code.
    void Serialize(Archive& ar) override;
    bool operator==(const CMsgTab& o) const {
        return text == o.text && address == o.address && number == o.number && code == o.code;
    }

    static std::string_view DefaultText(int kind);

    std::array<std::string, kNotifyKinds> text;
    std::array<std::string, kNotifyKinds> address;
    std::array<std::string, kNotifyKinds> number;
    std::array<std::string, kNotifyKinds> code;
};

}  // namespace ups
