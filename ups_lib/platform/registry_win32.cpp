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

// A key or value that is not there is missing; any other failure (access denied, for one)
// leaves it unreadable.
ValueRead Failed(LONG rc, const std::string& what) {
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return {};
    return {ReadStatus::Unreadable, {}, what + ": registry error " + std::to_string(rc)};
}

class Win32Registry final : public Registry {
  public:
    ValueRead ReadValue(std::string_view key, std::string_view name) override {
        UniqueKey k;
        const std::string path(key), value(name);
        const std::string what = path + "\\" + value;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, k.out());
        if (rc != ERROR_SUCCESS) return Failed(rc, what);
        DWORD size = 0;
        rc = RegQueryValueExA(k.get(), value.c_str(), nullptr, nullptr, nullptr, &size);
        if (rc != ERROR_SUCCESS) return Failed(rc, what);
        if (size > kMaxValueSize) {
            return {ReadStatus::Unreadable,
                    {},
                    what + ": larger than the " + std::to_string(kMaxValueSize) +
                        " bytes a value may hold"};
        }
        std::vector<std::uint8_t> bytes(size);
        rc = RegQueryValueExA(k.get(), value.c_str(), nullptr, nullptr, bytes.data(), &size);
        // ERROR_MORE_DATA: it grew since it was measured; unreadable rather than read twice.
        if (rc != ERROR_SUCCESS) return Failed(rc, what);
        bytes.resize(size);
        return {ReadStatus::Found, std::move(bytes), {}};
    }

    bool CreateKey(std::string_view key) override {
        UniqueKey k;
        const std::string path(key);
        return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, k.out(),
                               nullptr) == ERROR_SUCCESS;
    }

    bool DeleteKey(std::string_view key) override {
        const std::string path(key);
        if (path.empty()) return false;
        const LSTATUS status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
        // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
        const LSTATUS gone = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
        return gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND;
    }

  protected:
    bool StoreValue(std::string_view key, std::string_view name, ValueType type,
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
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() {
    return std::make_unique<Win32Registry>();
}

}  // namespace ups::platform
