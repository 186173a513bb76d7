// A link that replays a text file instead of a UPS, so the agent can be shown without one.
//
// File layout, by line number: 1-9 free text (a header for whoever edits the file), 10 the
// reply to "I", 11 free, 12 the reply to "F", 13 onwards the status replies, answered in turn
// to every other command and then from the first status reply again.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "comm_link.h"

namespace torvane {

class CDemoComm final : public CCommLink {
  public:
    // A demo file is a few dozen lines; anything past this is not read at all.
    static constexpr std::size_t kMaxFileBytes = 256 * 1024;
    // The UPS object reads replies into a 200-byte buffer; longer lines are cut.
    static constexpr std::size_t kMaxLineBytes = 200;

    CDemoComm() = default;
    ~CDemoComm() override = default;

    // Loads the replies of `fileName`; false (and nothing loaded) when it is not a readable
    // regular text file.
    bool Open(const std::string& fileName);

    int Read(char* buffer, int maxBytes) override;
    int Write(const char* text) override;
    void Close() override;
    void SetEventChar(char c) override;
    void SetWriteSignal(int flag) override { writeSignal_.store(flag); }

    std::size_t EntryCount() const;

  private:
    mutable std::mutex mutex_;  // the entries and the index: written by Open, read by the UPS
    std::vector<std::string> entries_;
    std::size_t next_ = 0;
    char eventChar_ = '\r';
    bool justOpened_ = false;
};

}  // namespace torvane
