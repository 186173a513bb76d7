// vorn.ini: the 120-byte configuration image followed by seven 16-byte schedule entries.
// Offsets are the file format, so the record is written field by field, never as a struct.
#include <bit>
#include <cstring>
#include <type_traits>

#include "config.h"
#include "config_fields.h"

namespace {

void PutU16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}
void PutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}
uint16_t GetU16(const uint8_t* at) {
    return uint16_t(at[0] | at[1] << 8);
}
uint32_t GetU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

template <typename T>
constexpr std::size_t WidthOf() {
    return std::is_array_v<T> ? 30 : sizeof(T);
}

// One field at its offset. The output is zero-filled first, so no stale memory reaches the file.
template <typename T>
void Encode(uint8_t* at, const T& v) {
    if constexpr (std::is_same_v<T, int16_t>) PutU16(at, static_cast<uint16_t>(v));
    if constexpr (std::is_same_v<T, int32_t>) PutU32(at, static_cast<uint32_t>(v));
    if constexpr (std::is_same_v<T, float>) PutU32(at, std::bit_cast<uint32_t>(v));
    if constexpr (std::is_array_v<T>) std::memcpy(at, v, strnlen(v, kConfigTextMax));
}

template <typename T>
void Decode(const uint8_t* at, T& v) {
    if constexpr (std::is_same_v<T, int16_t>) v = static_cast<int16_t>(GetU16(at));
    if constexpr (std::is_same_v<T, int32_t>) v = static_cast<int32_t>(GetU32(at));
    if constexpr (std::is_same_v<T, float>) v = std::bit_cast<float>(GetU32(at));
    if constexpr (std::is_array_v<T>) {
        // The stored field may lack its NUL; never let it run into the next field.
        std::memcpy(v, at, 30);
        v[kConfigTextMax] = '\0';
    }
}

constexpr std::size_t kDayOffset(std::size_t day) {
    return kConfigImageSize + day * 16;
}

}  // namespace

std::array<uint8_t, kIniFileSize> EncodeIni(const UpsConfig& c, const WeekSchedule& s) {
    std::array<uint8_t, kIniFileSize> out{};  // padding and reserved stay 0
    for (const config_fields::Field& f : config_fields::kFields) {
        std::visit([&](auto member) { Encode(out.data() + f.offset, c.*member); }, f.member);
    }
    for (std::size_t d = 0; d < s.day.size(); ++d) {
        uint8_t* at = out.data() + kDayOffset(d);
        const ScheduleDay& day = s.day[d];
        for (int32_t v :
             {day.restart_hour, day.restart_minute, day.shutdown_hour, day.shutdown_minute}) {
            PutU32(at, static_cast<uint32_t>(v));
            at += 4;
        }
    }
    return out;
}

void DecodeIni(std::span<const uint8_t> bytes, UpsConfig& c, WeekSchedule& s) {
    // A short file leaves every field it does not hold whole as it was.
    auto have = [&](std::size_t offset, std::size_t width) {
        return offset + width <= bytes.size();
    };
    for (const config_fields::Field& f : config_fields::kFields) {
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(c.*member)>;
                if (have(f.offset, WidthOf<T>())) Decode(bytes.data() + f.offset, c.*member);
            },
            f.member);
    }
    if (have(config_fields::kReservedOffset, 4)) {
        Decode(bytes.data() + config_fields::kReservedOffset, c.reserved);
    }
    for (std::size_t d = 0; d < s.day.size(); ++d) {
        ScheduleDay& day = s.day[d];
        std::size_t at = kDayOffset(d);
        for (int32_t* v :
             {&day.restart_hour, &day.restart_minute, &day.shutdown_hour, &day.shutdown_minute}) {
            if (have(at, 4)) Decode(bytes.data() + at, *v);
            at += 4;
        }
    }
}
