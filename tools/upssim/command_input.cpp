#include "command_input.h"

namespace upssim {

std::vector<std::string> CommandInput::feed(std::string_view bytes) {
    std::vector<std::string> lines;
    for (char c : bytes) {
        if (dropping_) {
            dropping_ = c != '\r';
            continue;
        }
        partial_ += c;
        if (c == '\r') {
            lines.push_back(std::move(partial_));
            partial_.clear();
        } else if (partial_.size() > kMaxLine) {
            partial_.clear();
            dropping_ = true;
            ++dropped_;
        }
    }
    return lines;
}

std::string command_text(std::string_view line) {
    std::string text;
    for (char c : line) {
        if (c != '\r' && c != '\n') text += c;
    }
    return text;
}

}  // namespace upssim
