// The texts of the agent's event ids, as its message table has them (without the final line end).
#pragma once

#include <cstdint>
#include <string_view>

namespace ups {

enum EventId : std::uint32_t {
    kEvServiceInstalled = 0x64,
    kEvServiceRemoved = 0x65,
    kEvServiceNotRemoved = 0x66,
    kEvNoControlHandler = 0x67,
    kEvInitFailed = 0x68,
    kEvServiceStarted = 0x69,
    kEvUnsupportedRequest = 0x6a,
    kEvDebug = 0x6b,
    kEvServiceStopped = 0x6c,
    kEvAcFailure = 0x6d,
    kEvAcRestored = 0x6e,
    kEvBatteryLow = 0x6f,
    kEvBatteryRecovered = 0x70,
    kEvSystemShutdown = 0x71,
    kEvSelfTest = 0x72,
    kEvPagerFailed = 0x73,
    kEvMailFailed = 0x74,
    kEvPagerSent = 0x75,
    kEvMailSent = 0x76,
    kEvUpsFailure = 0x77,
};

// The text of an id, or an empty view for an id the table does not hold.
std::string_view EventText(std::uint32_t id);

// "Error", "Warning", "Information", or an empty view.
std::string_view EventTypeName(std::uint16_t type);

}  // namespace ups
