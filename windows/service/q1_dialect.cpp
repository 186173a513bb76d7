#include "q1_dialect.h"

#include <limits>
#include <string>

namespace torvane::q1 {
namespace {

// Only an exact match of the layout counts as a reply: line noise, two replies run together or a
// reply cut short must not move a single value.
bool FitsLayout(std::string_view reply, const Layout& layout) {
    if (reply.size() != layout.width) return false;
    if (reply.front() != layout.lead || reply.back() != '\r') return false;
    for (std::size_t i = 0; i < layout.spaceCount; ++i) {
        if (reply[layout.spaces[i]] != ' ') return false;
    }
    return true;
}

std::optional<std::int32_t> Number(std::string_view reply, const NumberField& field) {
    return ParseNumber(reply.substr(field.at, field.width), field.scale);
}

// Company, model and version are shown and logged as they come; a control character (a NUL
// above all) means the line was garbled on the way.
bool PrintableText(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

}  // namespace

ReplyKind ClassifyReply(std::string_view reply) {
    if (reply.empty()) return ReplyKind::kNone;
    if (reply[0] == kStatusLayout.lead) return ReplyKind::kStatus;
    if (reply[0] != '#') return ReplyKind::kNone;
    const auto crAt = [&](std::size_t at) { return reply.size() > at && reply[at] == '\r'; };
    if (crAt(kBasicLayout.CarriageReturnAt())) return ReplyKind::kBasicInfo;
    if (crAt(kRatingLayout.CarriageReturnAt())) return ReplyKind::kRatingInfo;
    return ReplyKind::kNone;
}

std::optional<std::int32_t> ParseNumber(std::string_view field, std::int32_t scale) {
    std::int64_t whole = 0;
    std::int64_t fraction = 0;  // scaled part of the digits after the point
    std::int64_t place = scale;
    bool point = false;
    bool digits = false;
    for (char c : field) {
        if (c == '.') {
            if (point) return std::nullopt;
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        digits = true;
        const int d = c - '0';
        if (!point) {
            whole = whole * 10 + d;
            if (whole > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
        } else if (place >= 10) {
            place /= 10;
            fraction += d * place;
        }
        // Digits finer than the scale are dropped: truncation toward zero.
    }
    if (!digits) return std::nullopt;
    const std::int64_t value = whole * scale + fraction;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<ups::UPSStatusValues> ParseStatus(std::string_view reply) {
    if (!FitsLayout(reply, kStatusLayout)) return std::nullopt;
    const auto input = Number(reply, kInputVoltage);
    const auto fault = Number(reply, kInputFaultVoltage);
    const auto output = Number(reply, kOutputVoltage);
    const auto load = Number(reply, kLoad);
    const auto frequency = Number(reply, kFrequency);
    const auto battery = Number(reply, kBatteryVoltage);
    const auto temperature = Number(reply, kTemperature);
    if (!input || !fault || !output || !load || !frequency || !battery || !temperature) {
        return std::nullopt;
    }
    std::uint8_t bits = 0;
    for (std::size_t i = 0; i < kStatusBitCount; ++i) {
        const char c = reply[kStatusBitsAt + i];
        if (c != '0' && c != '1') return std::nullopt;
        bits = static_cast<std::uint8_t>((bits << 1) | (c == '1' ? 1 : 0));
    }
    ups::UPSStatusValues v;
    v.rawLine = std::string(reply);
    v.inputVoltage = *input;
    v.inputFaultVoltage = *fault;
    v.outputVoltage = *output;
    v.load = *load;
    v.inputFrequency = *frequency;
    v.batteryVoltage = *battery;
    v.temperature = *temperature;
    v.status = bits;
    return v;
}

std::optional<ups::UPSBasicValues> ParseBasicInfo(std::string_view reply) {
    if (!FitsLayout(reply, kBasicLayout)) return std::nullopt;
    if (!PrintableText(reply.substr(1, reply.size() - 2))) return std::nullopt;
    ups::UPSBasicValues v;
    v.rawLine = std::string(reply);
    v.company = std::string(reply.substr(kCompany.at, kCompany.width));
    v.model = std::string(reply.substr(kModel.at, kModel.width));
    v.version = std::string(reply.substr(kVersion.at, kVersion.width));
    return v;
}

std::optional<ups::UPSRatingValues> ParseRatingInfo(std::string_view reply) {
    if (!FitsLayout(reply, kRatingLayout)) return std::nullopt;
    const auto voltage = Number(reply, kRatedVoltage);
    const auto current = Number(reply, kRatedCurrent);
    const auto battery = Number(reply, kRatedBatteryVoltage);
    const auto frequency = Number(reply, kRatedFrequency);
    if (!voltage || !current || !battery || !frequency) return std::nullopt;
    ups::UPSRatingValues v;
    v.rawLine = std::string(reply);
    v.voltage = *voltage;
    v.current = *current;
    v.batteryVoltage = *battery;
    v.frequency = *frequency;
    return v;
}

bool ParseStatus(std::string_view reply, ups::CUPSStatus& record) {
    auto parsed = ParseStatus(reply);
    if (!parsed) return false;
    parsed->batteryCapacity = record.Get().batteryCapacity;
    record.Set(*parsed);
    return true;
}

bool ParseBasicInfo(std::string_view reply, ups::CUPSBasicInfo& record) {
    const auto parsed = ParseBasicInfo(reply);
    if (!parsed) return false;
    record.Set(*parsed);
    return true;
}

bool ParseRatingInfo(std::string_view reply, ups::CUPSRatingInfo& record) {
    const auto parsed = ParseRatingInfo(reply);
    if (!parsed) return false;
    record.Set(*parsed);
    return true;
}

}  // namespace torvane::q1
