// The panel's own settings in the registry: the list of remote agents with their passwords, the
// chosen address. On POSIX the panel's registry lives under the user's configuration directory
// in a directory only the user can open, since it holds passwords.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ups_lib/platform/registry.h"

namespace kelvora::panel {

struct RemoteUpsEntry {
    std::string name;
    std::string address;
    std::string location;
    std::string password;
    bool operator==(const RemoteUpsEntry&) const = default;
};

inline constexpr std::string_view kPanelKey = "Software\\Stavlen\\Kelvora";
inline constexpr std::string_view kPanelConfigKey = "SOFTWARE\\Stavlen\\Kelvora\\Config";
inline constexpr std::string_view kRemoteKey = "SOFTWARE\\Stavlen\\Kelvora\\Remote";

// The one character that numbers an entry's values: '0' plus its position, so the eleventh is
// ':'. Names cannot hold a backslash, the 45th character on, so the list keeps at most this many.
inline constexpr std::size_t kMaxRemoteEntries = 44;
char RemoteIndexCharacter(std::size_t position);

// Read by position until the first missing or empty name.
std::vector<RemoteUpsEntry> ReadRemoteList(ups::platform::Registry& registry);
// The whole key is removed and written anew in list order. False when a value could not be
// written; entries beyond kMaxRemoteEntries are not written.
bool WriteRemoteList(ups::platform::Registry& registry, const std::vector<RemoteUpsEntry>& list);

std::string ReadString(ups::platform::Registry& registry, std::string_view key,
                       std::string_view name);
bool WriteString(ups::platform::Registry& registry, std::string_view key, std::string_view name,
                 std::string_view text);

// $KELVORA_PANEL_REGISTRY, else $XDG_CONFIG_HOME/kelvora/registry, else
// ~/.config/kelvora/registry; the directory is made readable by its user alone.
std::unique_ptr<ups::platform::Registry> MakePanelRegistry();

}  // namespace kelvora::panel
