// The report the close-applications helper leaves in CLOSEAPP.INI: which applications it
// closed at the last shutdown and which files each had open.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ini_file.h"
#include "serializable.h"

namespace ups {

class CCloseInfo final : public Serializable {
  public:
    static constexpr std::string_view kFileName = "CLOSEAPP.INI";

    CCloseInfo() = default;
    CCloseInfo(const CCloseInfo&) = default;
    CCloseInfo& operator=(const CCloseInfo&) = default;

    const char* ClassName() const override { return "CCloseInfo"; }
    // Storing: the application count and names, then the number of file lists and for each its
    // count and names. Loading replaces the record with the sender's copy.
    void Serialize(Archive& ar) override;

    // Appends the report held by ini (the lists are not emptied first). Counts are taken only as
    // far as the file could hold them, so a hostile AppNumber does not make a huge list.
    void LoadFrom(const IniFile& ini);
    // Appends the report in the file and marks it shown (ShowMsg=0). A missing file adds
    // nothing, and marking it creates it, as the profile functions do. False when the file is
    // there but cannot be read (it is then left alone) or the mark cannot be written.
    bool Load(const std::filesystem::path& file);
    bool Load() { return Load(DefaultFile()); }
    // Whether the file holds a report not shown yet.
    static std::int32_t ShowMsg(const std::filesystem::path& file);
    static std::filesystem::path DefaultFile();

    bool IsEmpty() const { return apps.empty(); }
    void Clear();
    bool operator==(const CCloseInfo& o) const { return apps == o.apps && files == o.files; }

    std::vector<std::string> apps;                // section names of the closed applications
    std::vector<std::vector<std::string>> files;  // parallel to apps: each one's file names
};

}  // namespace ups
