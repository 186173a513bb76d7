#include "close_info.h"

#include <algorithm>

#include "platform/paths.h"

namespace ups {

namespace {

constexpr std::string_view kMain = "Main";

// A count from the file, bounded by how many keys the section really has: every App%d or
// File%d it promises needs a line of its own.
std::int32_t BoundedCount(const IniFile& ini, std::string_view section, std::string_view key) {
    const std::int32_t n = ini.GetInt(section, key, 0);
    if (n <= 0) return 0;
    return static_cast<std::int32_t>(
        std::min<std::size_t>(static_cast<std::size_t>(n), ini.KeyCount(section)));
}

void SerializeStrings(Archive& ar, std::vector<std::string>& list) {
    if (ar.IsStoring()) {
        ar.WriteNumber(static_cast<std::uint32_t>(list.size()));
        for (auto& s : list) ar.WriteString(s);
        return;
    }
    const std::uint32_t n = ar.ReadNumber();
    for (std::uint32_t i = 0; i < n; ++i) list.push_back(ar.ReadString());
}

}  // namespace

void CCloseInfo::Serialize(Archive& ar) {
    if (ar.IsLoading()) Clear();
    SerializeStrings(ar, apps);
    if (ar.IsStoring()) {
        ar.WriteNumber(static_cast<std::uint32_t>(files.size()));
        for (auto& list : files) SerializeStrings(ar, list);
        return;
    }
    const std::uint32_t n = ar.ReadNumber();
    for (std::uint32_t i = 0; i < n; ++i) {
        files.emplace_back();
        SerializeStrings(ar, files.back());
    }
}

void CCloseInfo::LoadFrom(const IniFile& ini) {
    const std::int32_t appCount = BoundedCount(ini, kMain, "AppNumber");
    for (std::int32_t i = 0; i < appCount; ++i) {
        const std::string app = ini.GetString(kMain, "App" + std::to_string(i), "");
        apps.push_back(app);
        // The title is read by the helper's convention but nothing here needs it.
        const std::int32_t fileCount = BoundedCount(ini, app, "FileNumber");
        std::vector<std::string> list;
        for (std::int32_t j = 0; j < fileCount; ++j) {
            list.push_back(ini.GetString(app, "File" + std::to_string(j), ""));
        }
        files.push_back(std::move(list));
    }
}

bool CCloseInfo::Load(const std::filesystem::path& file) {
    platform::ReadError error = platform::ReadError::Unreadable;
    auto ini = IniFile::Load(file, &error);
    if (!ini) {
        // Only a file that is not there is started anew; one that cannot be read may still
        // hold a report, and is not replaced.
        if (error != platform::ReadError::Missing) return false;
        ini = IniFile::Parse("");
    }
    LoadFrom(*ini);
    // Already marked: nothing to write. A panel may ask for the report as often as it likes,
    // and each write is a synchronised replacement of the file.
    if (error != platform::ReadError::Missing && ini->Get(kMain, "ShowMsg") == "0") return true;
    ini->Set(kMain, "ShowMsg", "0");
    return ini->Save(file);
}

std::int32_t CCloseInfo::ShowMsg(const std::filesystem::path& file) {
    const auto ini = IniFile::Load(file);
    return ini ? ini->GetInt(kMain, "ShowMsg", 0) : 0;
}

std::filesystem::path CCloseInfo::DefaultFile() {
    return platform::WindowsDirectory() / std::string(kFileName);
}

void CCloseInfo::Clear() {
    apps.clear();
    files.clear();
}

}  // namespace ups
