// The real registry, through the same four operations the records need.
#include <windows.h>

#include <string>

#include "registry.h"

namespace ups::platform {

namespace {

class UniqueKey {
  public:
    UniqueKey() = default;
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    ~UniqueKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

DWORD ToRegType(ValueType type) {
    switch (type) {
        case ValueType::Binary:
            return REG_BINARY;
        case ValueType::ExpandString:
            return REG_EXPAND_SZ;
        case ValueType::Dword:
            return REG_DWORD;
    }
    return REG_BINARY;
}

class Win32Registry final : public Registry {
  public:
    std::optional<std::vector<std::uint8_t>> ReadValue(std::string_view key,
                                                       std::string_view name) override {
        UniqueKey k;
        const std::string path(key), value(name);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, k.out()) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        DWORD size = 0;
        if (RegQueryValueExA(k.get(), value.c_str(), nullptr, nullptr, nullptr, &size) !=
                ERROR_SUCCESS ||
            size > kMaxValueSize) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes(size);
        if (RegQueryValueExA(k.get(), value.c_str(), nullptr, nullptr, bytes.data(), &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        bytes.resize(size);
        return bytes;
    }

    bool WriteValue(std::string_view key, std::string_view name, ValueType type,
                    std::span<const std::uint8_t> bytes) override {
        UniqueKey k;
        const std::string path(key), value(name);
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, k.out(), nullptr) != ERROR_SUCCESS) {
            return false;
        }
        return RegSetValueExA(k.get(), value.c_str(), 0, ToRegType(type), bytes.data(),
                              static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
    }

    bool CreateKey(std::string_view key) override {
        UniqueKey k;
        const std::string path(key);
        return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, k.out(),
                               nullptr) == ERROR_SUCCESS;
    }
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() {
    return std::make_unique<Win32Registry>();
}

}  // namespace ups::platform
