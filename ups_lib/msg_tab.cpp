#include "msg_tab.h"

namespace ups {

namespace {

constexpr std::array<std::string_view, kNotifyKinds> kDefaultTexts = {
    "Attention! Utility Power Failure!",
    "Attention! UPS Battery Low!",
    "Utility Power Restored",
    "UPS Recovered from Low Battery",
    "Scheduled Shutdown Warning",
    "Scheduled Shutdown Aborted",
    "Attention! UPS Failure",
};

}  // namespace

std::string_view CMsgTab::DefaultText(int kind) {
    return kind >= 0 && kind < kNotifyKinds ? kDefaultTexts[static_cast<std::size_t>(kind)] : "";
}

CMsgTab::CMsgTab() : CRegSerial(kAgentKey, "msgTab") {
    for (std::size_t k = 0; k < kDefaultTexts.size(); ++k) text[k] = kDefaultTexts[k];
}

void CMsgTab::Serialize(Archive& ar) {
    for (std::size_t k = 0; k < kNotifyKinds; ++k) {
        ar.Field(text[k]);
        ar.Field(address[k]);
        ar.Field(number[k]);
        ar.Field(code[k]);
    }
}

}  // namespace ups
