// The files through which the console sees the UPS: kelvora.q1 (last status reply),
// kelvora.mdl (model) and kelvora.rtg (rating). The console reads them with fixed widths
// (q1_protocol.h), so what is written here is an interface.
#pragma once

#include <string>
#include <string_view>

#include "unique_fd.h"

// 49 blanks: what a file holds when the UPS has nothing to say.
inline constexpr std::string_view kBlankLine = "                                                 ";

// kelvora.q1, opened once and kept; each write goes to offset 0 without truncating, so a
// 47-character reply after a blank leaves the blank's tail behind (the console drops it).
class StatusFile {
  public:
    // Truncates once, on the first open. False while it cannot be opened as a regular file
    // (a directory or FIFO in its place, a root that is not writable); each call tries again.
    bool EnsureOpen();
    void Write(std::string_view reply);  // an empty reply writes the blank line
    void Close() { fd_.Reset(); }

  private:
    kelvora::UniqueFd fd_;
};

// Replaces the file `name` under the root with `text` (kelvora.mdl, kelvora.rtg).
void WriteInfoFile(std::string_view name, std::string_view text);

// Writes the blank line over the model and rating files.
void BlankInfoFiles();
