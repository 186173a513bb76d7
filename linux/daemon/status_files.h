// The files through which the console sees the UPS: kelvora.q1 (last status reply),
// kelvora.mdl (model) and kelvora.rtg (rating). The console reads them with fixed widths
// (48, 39 and 22 characters), so what is written here is an interface.
#pragma once

#include <string>
#include <string_view>

// 49 blanks: what a file holds when the UPS has nothing to say.
inline constexpr std::string_view kBlankLine = "                                                 ";

// kelvora.q1, opened once and kept; each write goes to offset 0 without truncating, so a
// 47-character reply after a blank leaves the blank's tail behind (the console drops it).
class StatusFile {
public:
    StatusFile() = default;
    StatusFile(const StatusFile&) = delete;
    StatusFile& operator=(const StatusFile&) = delete;
    ~StatusFile();

    bool EnsureOpen();  // truncates once, on the first open
    void Write(std::string_view reply);  // an empty reply writes the blank line
    void Close();

private:
    int fd_ = -1;
};

// Replaces the file `name` under the root with `text` (kelvora.mdl, kelvora.rtg).
void WriteInfoFile(std::string_view name, std::string_view text);

// Writes the blank line over the model and rating files.
void BlankInfoFiles();
