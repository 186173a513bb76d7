#include "sec_input.h"

namespace upssim {
namespace {

constexpr std::size_t kHeader = 5;  // "^P003"

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::vector<std::string> SecInput::feed(std::string_view bytes) {
    std::vector<std::string> messages;
    for (char c : bytes) {
        if (partial_.empty()) {
            if (c == '^') partial_ = c;
            continue;
        }
        if (c == '^') {
            ++dropped_;
            partial_ = c;
            continue;
        }
        partial_ += c;
        const std::size_t at = partial_.size() - 1;
        const bool header_ok = at == 1 ? (c == 'P' || c == 'S') : at < kHeader ? is_digit(c) : true;
        if (!header_ok) {
            ++dropped_;
            partial_.clear();
            continue;
        }
        if (partial_.size() < kHeader) continue;
        const std::size_t body = static_cast<std::size_t>(std::stoi(partial_.substr(2, 3)));
        if (body > kMaxBody) {
            ++dropped_;
            partial_.clear();
        } else if (partial_.size() == kHeader + body) {
            messages.push_back(std::move(partial_));
            partial_.clear();
        }
    }
    return messages;
}

}  // namespace upssim
