#include "registry.h"

#include <mutex>
#include <string>

#include "../trace.h"

namespace ups::platform {

bool Registry::WriteValue(std::string_view key, std::string_view name, ValueType type,
                          std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxValueSize) {
        Trace("registry: " + std::string(key) + "\\" + std::string(name) + " would be " +
              std::to_string(bytes.size()) + " bytes, more than the " +
              std::to_string(kMaxValueSize) + " a value may hold; not written\n");
        return false;
    }
    return StoreValue(key, name, type, bytes);
}

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
