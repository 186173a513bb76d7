// The three Q1 reply texts, built field by field at their fixed widths.
//
// Clients find the status bits by position, so a line must never grow: a value that does not
// fit its field is clamped to the widest value that does. Numbers are zero-padded ("000.0"),
// never blank-padded, because clients also split the status line on blanks.
#pragma once

#include <string>
#include <string_view>

#include "ups_state.h"

namespace upssim {

inline constexpr std::size_t kStatusLength = 47;
inline constexpr std::size_t kModelLength = 39;
inline constexpr std::size_t kRatingLength = 22;

// `value` with `decimals` places in exactly `width` characters, clamped to fit.
std::string fixed_field(double value, int width, int decimals);
// An integer in exactly `width` zero-padded characters, clamped to fit.
std::string integer_field(long value, int width);
// The battery voltage: two places below 10 ("2.27"), one from 10 ("27.0"), four characters.
std::string battery_field(double value);
// Text cut or blank-padded to exactly `width` characters.
std::string text_field(std::string_view text, std::size_t width);

std::string status_reply(const UpsState& ups);
std::string model_reply(const UpsState& ups);
std::string rating_reply(const UpsState& ups);

// The eight status bits as the status reply shows them ("00001001").
std::string bits_text(const StatusBits& bits);

}  // namespace upssim
