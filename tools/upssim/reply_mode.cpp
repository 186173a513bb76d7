#include "reply_mode.h"

#include <array>
#include <utility>

namespace upssim {
namespace {

constexpr std::array<std::pair<ReplyMode, std::string_view>, 7> kModes{{
    {ReplyMode::normal, "normal"},
    {ReplyMode::silent, "silent"},
    {ReplyMode::garbage, "garbage"},
    {ReplyMode::nocr, "nocr"},
    {ReplyMode::toolong, "toolong"},
    {ReplyMode::binary, "binary"},
    {ReplyMode::wrongfirst, "wrongfirst"},
}};

constexpr std::size_t kTooLongLength = 80;
constexpr std::size_t kBinaryMaxLength = 60;

}  // namespace

std::optional<ReplyMode> parse_reply_mode(std::string_view name) {
    for (const auto& [mode, text] : kModes) {
        if (text == name) return mode;
    }
    return std::nullopt;
}

std::string_view reply_mode_name(ReplyMode mode) {
    for (const auto& [m, text] : kModes) {
        if (m == mode) return text;
    }
    return "normal";
}

char ReplyShaper::random_printable() {
    return static_cast<char>(std::uniform_int_distribution<int>(0x20, 0x7e)(rng_));
}

std::string ReplyShaper::shape(const std::string& reply) {
    if (reply.empty()) return reply;
    const std::string text = reply.substr(0, reply.size() - 1);  // without the CR
    switch (mode_) {
        case ReplyMode::normal:
            return reply;
        case ReplyMode::silent:
            return {};
        case ReplyMode::garbage: {
            // As long as the right reply, so only the content gives it away.
            std::string out;
            while (out.size() < text.size()) {
                const char c = random_printable();
                if (out.empty() && (c == '(' || c == '#')) continue;
                out += c;
            }
            return out + '\r';
        }
        case ReplyMode::nocr:
            return text;
        case ReplyMode::toolong: {
            // Starts like the right reply, so only a reader that bounds its buffer notices.
            std::string out = text;
            for (std::size_t i = 0; out.size() < kTooLongLength; ++i)
                out += static_cast<char>('0' + i % 10);
            out.resize(kTooLongLength);
            return out + '\r';
        }
        case ReplyMode::binary: {
            const std::size_t length =
                std::uniform_int_distribution<std::size_t>(2, kBinaryMaxLength)(rng_);
            std::string out;
            while (out.size() < length) {
                const auto byte =
                    static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng_));
                if (byte != '\r') out += byte;
            }
            // The bytes that most often break a reader are always among them.
            std::uniform_int_distribution<std::size_t> where(0, length - 1);
            const std::size_t nul_at = where(rng_);
            std::size_t ff_at = where(rng_);
            if (ff_at == nul_at) ff_at = (nul_at + 1) % length;
            out[nul_at] = '\0';
            out[ff_at] = static_cast<char>(0xff);
            return out;
        }
        case ReplyMode::wrongfirst:
            return 'X' + reply.substr(1);
    }
    return reply;
}

std::string ReplyShaper::shape_sec(const std::string& reply) {
    if (reply.empty()) return reply;
    switch (mode_) {
        case ReplyMode::garbage: {
            // Neither "^" first nor "D" second: nothing a client may take for a reply.
            std::string out;
            while (out.size() < reply.size()) {
                const char c = random_printable();
                if ((out.empty() && c == '^') || (out.size() == 1 && c == 'D')) continue;
                out += c;
            }
            return out;
        }
        case ReplyMode::nocr:
            return reply.substr(0, reply.size() - 1);
        case ReplyMode::toolong: {
            std::string out = reply;
            for (std::size_t i = 0; out.size() < kTooLongLength; ++i)
                out += static_cast<char>('0' + i % 10);
            return out;
        }
        case ReplyMode::binary:
            // Random bytes of random length, the same noise as in the Q1 dialect.
            return shape(reply + '\r');
        case ReplyMode::normal:
            return reply;
        case ReplyMode::silent:
            return {};
        case ReplyMode::wrongfirst:
            return 'X' + reply.substr(1);
    }
    return reply;
}

}  // namespace upssim
