#include "copy_data.h"

namespace platform::detail {

std::string CopyDataFileName(std::string_view caption) {
    if (caption.empty() || caption.size() > kCopyDataMaxCaption) return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (char c : caption) {
        auto u = static_cast<unsigned char>(c);
        bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                     u == '.' || u == '_' || u == '-';
        // A leading dot would hide the file and ".." would climb out of the directory.
        if (plain && !(u == '.' && name.empty())) {
            name += c;
        } else {
            name += '%';
            name += kHex[u >> 4];
            name += kHex[u & 0x0F];
        }
    }
    return name;
}

}  // namespace platform::detail
