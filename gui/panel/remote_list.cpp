#include "remote_list.h"

#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kelvora::panel {

namespace fs = std::filesystem;
using ups::platform::Registry;

char RemoteIndexCharacter(std::size_t position) {
    return static_cast<char>('0' + position);
}

namespace {

std::string Indexed(std::string_view name, std::size_t position) {
    std::string text(name);
    text.back() = RemoteIndexCharacter(position);
    return text;
}

}  // namespace

std::string ReadString(Registry& registry, std::string_view key, std::string_view name) {
    const auto read = registry.ReadValue(key, name);
    if (read.status != ups::platform::ReadStatus::Found) return {};
    std::string text(read.bytes.begin(), read.bytes.end());
    if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

bool WriteString(Registry& registry, std::string_view key, std::string_view name,
                 std::string_view text) {
    return registry.WriteString(key, name, ups::platform::ValueType::ExpandString, text);
}

std::vector<RemoteUpsEntry> ReadRemoteList(Registry& registry) {
    std::vector<RemoteUpsEntry> list;
    for (std::size_t i = 0; i < kMaxRemoteEntries; ++i) {
        RemoteUpsEntry e;
        e.name = ReadString(registry, kRemoteKey, Indexed("UPS Name 0", i));
        if (e.name.empty()) break;
        e.location = ReadString(registry, kRemoteKey, Indexed("Location 0", i));
        e.address = ReadString(registry, kRemoteKey, Indexed("IP Address 0", i));
        e.password = ReadString(registry, kRemoteKey, Indexed("Password 0", i));
        list.push_back(std::move(e));
    }
    return list;
}

bool WriteRemoteList(Registry& registry, const std::vector<RemoteUpsEntry>& list) {
    if (!registry.DeleteKey(kRemoteKey)) return false;
    bool ok = true;
    for (std::size_t i = 0; i < list.size() && i < kMaxRemoteEntries; ++i) {
        const RemoteUpsEntry& e = list[i];
        ok = WriteString(registry, kRemoteKey, Indexed("UPS Name 0", i), e.name) && ok;
        ok = WriteString(registry, kRemoteKey, Indexed("Location 0", i), e.location) && ok;
        ok = WriteString(registry, kRemoteKey, Indexed("IP Address 0", i), e.address) && ok;
        ok = WriteString(registry, kRemoteKey, Indexed("Password 0", i), e.password) && ok;
    }
    return ok;
}

std::unique_ptr<Registry> MakePanelRegistry() {
    fs::path root;
    if (const char* own = std::getenv("KELVORA_PANEL_REGISTRY"); own != nullptr && *own != '\0') {
        root = own;
    } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
        root = fs::path(xdg) / "kelvora" / "registry";
    } else {
        const char* home = std::getenv("HOME");
        root = fs::path(home != nullptr ? home : ".") / ".config" / "kelvora" / "registry";
    }
    std::error_code ec;
    fs::create_directories(root, ec);
#ifndef _WIN32
    // The passwords of the remote agents are in there: no other user may even look in.
    ::chmod(root.c_str(), 0700);
#endif
    return ups::platform::MakePrivateFileRegistry(root);
}

}  // namespace kelvora::panel
