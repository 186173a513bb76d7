// Reading records from the places upsrec takes them from: a file of archive bytes, standard
// input, the registry, the program directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ups_lib/serializable.h"

namespace upsrec {

// The bytes of FILE, or of standard input for "-". Fails on a missing file or one beyond
// any record's size.
std::vector<std::uint8_t> ReadInput(const std::string& file);

// Loads a whole record from archive bytes; anything short, malformed or followed by extra bytes
// is a Failure naming the kind.
void LoadStrict(ups::Serializable& record, const std::vector<std::uint8_t>& bytes,
                std::string_view kind);

}  // namespace upsrec
