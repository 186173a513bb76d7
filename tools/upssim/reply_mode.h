// How the UPS answers queries: properly, or in one of the broken ways real lines produce.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace upssim {

enum class ReplyMode { normal, silent, garbage, nocr, toolong, binary, wrongfirst };

std::optional<ReplyMode> parse_reply_mode(std::string_view name);
std::string_view reply_mode_name(ReplyMode mode);

class ReplyShaper {
  public:
    ReplyShaper() : rng_(std::random_device{}()) {}

    void set_mode(ReplyMode mode) { mode_ = mode; }
    ReplyMode mode() const { return mode_; }

    // The bytes to send for the right reply `reply` (which ends with a carriage return).
    std::string shape(const std::string& reply);
    // The same for a SEC reply, which has no terminator but carries its length: "nocr" sends
    // it a byte short, "toolong" pads it past the length it claims.
    std::string shape_sec(const std::string& reply);

  private:
    char random_printable();

    ReplyMode mode_ = ReplyMode::normal;
    std::mt19937 rng_;
};

}  // namespace upssim
