// Reading records from the places upsrec takes them from: a file of archive bytes, standard
// input, the registry, the program directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ups_lib/serializable.h"

namespace upsrec {

// The most upsrec reads of one kind of input: as much as the agent itself ever writes of it, so
// that a file that cannot be one of ours is refused before it is read, not taken into memory.
struct InputLimit {
    std::uint64_t bytes;
    std::string_view what;  // completes "larger than ...", e.g. "any event log the agent writes"
};

extern const InputLimit kRegistryRecordInput;  // config, msgtab, schedule
extern const InputLimit kUpsRecordInput;       // status, basicinfo, ratinginfo
extern const InputLimit kEventLogInput;
extern const InputLimit kDataLogInput;
extern const InputLimit kCloseInfoInput;  // CLOSEAPP.INI and the record made from it
extern const InputLimit kJsonInput;

// The bytes of FILE, or of standard input for "-". Fails on a missing or unreadable file and on
// one larger than the limit.
std::vector<std::uint8_t> ReadInput(const std::string& file, const InputLimit& limit);
// The message for input larger than its limit; name is the file or "standard input".
std::string TooLargeMessage(const std::string& name, const InputLimit& limit);

// Loads a whole record from archive bytes; anything short, malformed or followed by extra bytes
// is a Failure naming the kind.
void LoadStrict(ups::Serializable& record, const std::vector<std::uint8_t>& bytes,
                std::string_view kind);

}  // namespace upsrec
