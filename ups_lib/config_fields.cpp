#include "config_fields.h"

#include <array>
#include <type_traits>

namespace ups {

namespace {

constexpr std::int64_t kAny = INT32_MAX;

const std::array<ConfigField, 24> kFields = {{
    {"upsType", &CConfig::upsType, 0, 4, 0, "UPS type"},
    {"comPort", &CConfig::comPort, 0, 4, 0, "serial port (0-3 = COM1-COM4, 4 = none)"},
    {"baudRate", &CConfig::baudRate, 1, kAny, 0, "serial speed"},
    {"reserved1", &CConfig::reserved1, INT32_MIN, kAny, 0, "reserved"},
    {"dataLogOn", &CConfig::dataLogOn, 0, 1, 0, "data logging on"},
    {"dataLogInterval", &CConfig::dataLogInterval, 0, 600, 0, "data log interval (s)"},
    {"acFailDelay", &CConfig::acFailDelay, 1, 2880, 0, "utility-failure delay (min)"},
    {"batteryLowDelay", &CConfig::batteryLowDelay, 1, 600, 0, "battery-low delay (min)"},
    {"upsOffDelay", &CConfig::upsOffDelay, 12, 5940, 0, "UPS shut-down delay (s)"},
    {"runProgram", &CConfig::runProgram, 0, 1, 0, "run program before shutdown"},
    {"programCmdLine", &CConfig::programCmdLine, 0, 0, CConfig::kMaxProgramLength,
     "program command line"},
    {"reserved2", &CConfig::reserved2, INT32_MIN, kAny, 0, "reserved"},
    {"scheduleWarnTime", &CConfig::scheduleWarnTime, 0, kAny, 0, "schedule warning time (min)"},
    {"closeApps", &CConfig::closeApps, 0, 1, 0, "close applications"},
    {"shutdownWindows", &CConfig::shutdownWindows, 0, 1, 0, "shut the system down"},
    {"showWarnings", &CConfig::showWarnings, 0, 1, 0, "show warning boxes"},
    {"warnRepeat", &CConfig::warnRepeat, 10, 600, 0, "warning repeat interval (s)"},
    {"emailOn", &CConfig::emailOn, 0, 1, 0, "e-mail on"},
    {"pagerOn", &CConfig::pagerOn, 0, 1, 0, "pager on"},
    {"mailServer", &CConfig::mailServer, 0, 0, 0xFFFFFFFF, "mail server address"},
    {"pagerPort", &CConfig::pagerPort, 0, 3, 0, "pager port (0-3 = COM1-COM4)"},
    {"agentPassword", &CConfig::agentPassword, 0, 0, 0xFFFFFFFF, "agent password"},
    {"turnUpsOff", &CConfig::turnUpsOff, 0, 1, 0, "turn UPS off"},
    {"showLastShutdown", &CConfig::showLastShutdown, 0, 1, 0, "show last shutdown"},
}};

}  // namespace

std::span<const ConfigField> ConfigFields() {
    return kFields;
}

const ConfigField* FindConfigField(std::string_view name) {
    for (const auto& f : kFields) {
        if (f.name == name) return &f;
    }
    return nullptr;
}

std::string ConfigValueNote(const ConfigField& field, std::int32_t value) {
    static constexpr std::array<std::string_view, 5> kTypes = {"Stavlen", "Demo", "Stav(USB)",
                                                               "SEC(24bps)", "SEC(96bps)"};
    if (field.name == "upsType") {
        return value >= 0 && value < 5 ? std::string(kTypes[static_cast<std::size_t>(value)])
                                       : "unknown";
    }
    if (field.name == "comPort" || field.name == "pagerPort") {
        if (value >= 0 && value < 4) return "COM" + std::to_string(value + 1);
        return value == 4 && field.name == "comPort" ? "none" : "unknown";
    }
    return {};
}

std::string ConfigProblem(const CConfig& config) {
    for (const auto& f : kFields) {
        std::string problem;
        std::visit(
            [&](auto member) {
                const auto& value = config.*member;
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) {
                    if (value.size() > f.maxLength)
                        problem = std::string(f.name) + " is longer than " +
                                  std::to_string(f.maxLength) + " characters";
                } else if (value < f.min || value > f.max) {
                    problem = std::string(f.name) + " " + std::to_string(value) + " is outside " +
                              std::to_string(f.min) + ".." + std::to_string(f.max);
                }
            },
            f.member);
        if (!problem.empty()) return problem;
    }
    return {};
}

}  // namespace ups
