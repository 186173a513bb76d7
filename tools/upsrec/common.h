// What every part of upsrec shares: the error that ends the program with status 1, and the
// names of the record kinds.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace upsrec {

// Bad input of any kind: the message goes to standard error and the exit status is 1.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class Kind {
    Config,
    MsgTab,
    Schedule,
    EventLog,
    DataLog,
    CloseInfo,
    Status,
    BasicInfo,
    RatingInfo
};

Kind ParseKind(std::string_view name);
std::string_view KindName(Kind kind);

// "2024-06-10 22:00:00" in local time.
std::string LocalTimeText(std::int64_t t);
// Accepts seconds since 1970 or a local "YYYY-MM-DD HH:MM[:SS]".
std::int64_t ParseTime(std::string_view text);
// A whole decimal number within [min, max].
std::int64_t ParseInteger(std::string_view text, std::int64_t min, std::int64_t max,
                          std::string_view what);

}  // namespace upsrec
