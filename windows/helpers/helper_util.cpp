#include "helper_util.h"

namespace helpers {

std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool keep = (c >= 0x20 && c != 0x7f) || c == '\n' || c == '\t';
        out += keep ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace helpers
