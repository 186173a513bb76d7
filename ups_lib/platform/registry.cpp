#include "registry.h"

#include <mutex>

namespace ups::platform {

bool Registry::WriteString(std::string_view key, std::string_view name, ValueType type,
                           std::string_view text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return WriteValue(key, name, type, bytes);
}

bool Registry::WriteDword(std::string_view key, std::string_view name, std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return WriteValue(key, name, ValueType::Dword, bytes);
}

Registry& SystemRegistry() {
    static std::unique_ptr<Registry> registry = MakeSystemRegistry();
    return *registry;
}

}  // namespace ups::platform
