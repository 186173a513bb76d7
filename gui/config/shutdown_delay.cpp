#include "gui/config/shutdown_delay.h"

#include <array>

namespace kelvora::panel {

namespace {

// The short entries in seconds, ".2" to ".9" of a minute.
constexpr std::array<int, 8> kShortSeconds = {12, 18, 24, 30, 36, 42, 48, 54};
// The upper bound of each short entry when a stored delay is shown. ".5" takes 30 to 35
// seconds, so a delay set by hand between the steps still finds an entry.
constexpr std::array<int, 8> kShortUpTo = {12, 18, 24, 35, 36, 42, 48, 54};
constexpr int kShortEntries = static_cast<int>(kShortSeconds.size());

}  // namespace

QStringList ShutdownDelayList() {
    QStringList list;
    list.reserve(kDelayEntries);
    for (int tenth = 2; tenth <= 9; ++tenth) list << QStringLiteral(".%1").arg(tenth);
    for (int minutes = 1; minutes <= 99; ++minutes) list << QString::number(minutes);
    return list;
}

int DelayIndexToSeconds(int index) {
    if (index < 0) return 0;
    if (index >= kDelayEntries) index = kDelayEntries - 1;
    if (index < kShortEntries) return kShortSeconds[static_cast<std::size_t>(index)];
    return (index - (kShortEntries - 1)) * 60;
}

int DelaySecondsToIndex(int seconds) {
    for (int i = 0; i < kShortEntries; ++i) {
        if (seconds <= kShortUpTo[static_cast<std::size_t>(i)]) return i;
    }
    if (seconds >= 60) {
        const int index = seconds / 60 + (kShortEntries - 1);
        return index < kDelayEntries ? index : kDelayEntries - 1;
    }
    // 55 to 59 seconds fall between ".9" and "1"; they show as the first entry.
    return 0;
}

void ApplyBaudRule(ups::CConfig& config) {
    switch (config.upsType) {
        case ups::CConfig::kStavlen:
        case ups::CConfig::kSec24:
            config.baudRate = 2400;
            break;
        case ups::CConfig::kSec96:
            config.baudRate = 9600;
            break;
        default:
            break;
    }
}

bool SerialPortEnabled(int upsType) {
    return upsType == ups::CConfig::kStavlen || upsType == ups::CConfig::kSec24 ||
           upsType == ups::CConfig::kSec96;
}

}  // namespace kelvora::panel
