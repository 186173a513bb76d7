#include "event_texts.h"

#include <array>

namespace ups {

namespace {

constexpr std::array<std::string_view, 20> kTexts = {
    "The service was installed.",
    "The service was removed.",
    "The service could not be removed.",
    "The control handler could not be installed.",
    "The initialization process failed.",
    "The service was started.",
    "The service received an unsupported request.",
    "Debug: %1",
    "The service was stopped.",
    "AC Failure",
    "AC Power Restored",
    "UPS Battery Low",
    "Recovered from Low Battery",
    "System shutdown.",
    "UPS Self Test",
    "Called Pager Unsuccessfully",
    "Send E-Mail Unsuccessfully",
    "Call pager Successfully",
    "Send E-Mail Successfully",
    "UPS Failure",
};

}  // namespace

std::string_view EventText(std::uint32_t id) {
    if (id < kEvServiceInstalled || id > kEvUpsFailure) return {};
    return kTexts[id - kEvServiceInstalled];
}

std::string_view EventTypeName(std::uint16_t type) {
    switch (type) {
        case 1:
            return "Error";
        case 2:
            return "Warning";
        case 4:
            return "Information";
        default:
            return {};
    }
}

}  // namespace ups
