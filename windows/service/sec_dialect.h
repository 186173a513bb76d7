// The SEC dialect: a query per value, replies that carry their own length, and a poll
// sequence that turns a dozen of them into one Q1 status line and one Q1 "I" line, so the UPS
// object parses and compares SEC readings exactly as it does Q1 ones.
//
//   query   ^P003ST2            "^P", three-digit length, three-letter name
//   reply   ^D0120,1,500,2300   "^D", three-digit length, comma-separated fields
//   setting ^S006PSD120         "^S", three-digit length, name and value
//   ack     ^1                  (refused: ^0)
//
// Nothing here sleeps or reads a clock directly: time comes from a SecClock, so the tests run
// the 3-second give-up rules without waiting for them.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comm_link.h"

namespace torvane {

// Purge flags of the serial port.
inline constexpr int kPurgeTransmit = 4;
inline constexpr int kPurgeReceive = 8;

inline constexpr std::size_t kSecReplyBytes = 200;
inline constexpr std::size_t kSecHeaderBytes = 5;  // "^D" and the length

// The texts the UPS object sends as they are.
inline constexpr const char* kSecPollQuery = "^P003ST2";
inline constexpr const char* kSecAutoRestartOn = "^S004ATR1";
inline constexpr const char* kSecShutdownType = "^S004SDA1";
inline constexpr const char* kSecCancelTest = "^S005TST-1";
inline constexpr const char* kSecBeeper = "^S011NOM,,,,,,,2";

// "^S" + the three-digit length of `body` + `body`; empty when the body is over 999 bytes.
std::string SecSettingText(std::string_view body);
// Shut the output down after `delaySeconds`: "^S006PSD120" for 120.
std::string SecShutdownText(int delaySeconds);
// Restart after the same delay, sent before the shut-down when a restore time is wanted.
std::string SecRestoreText(int delaySeconds);
// -1 until battery low, 0 the short test, 1..99 the timed test; nothing for other values.
std::optional<std::string> SecTestText(int minutes);

class SecClock {
  public:
    virtual void Wait(std::chrono::milliseconds ms) = 0;
    virtual std::chrono::steady_clock::time_point Now() = 0;

  protected:
    ~SecClock() = default;
};

// Really sleeps, on the steady clock.
SecClock& SteadySecClock();

// What a SEC exchange needs besides the link. The hooks the UPS object fills in are its own:
// its locked sender, its stop flag and, on a serial link, the port's purge.
struct SecLine {
    CCommLink& link;
    SecClock& clock;
    std::function<void(int flags)> purge;        // empty: the link has nothing to purge
    std::function<void(const char* text)> send;  // empty: SetWriteSignal(1) and Write
    std::function<bool()> stopping;              // empty: never

    void Send(const char* text) const;
    void Purge(int flags) const {
        if (purge) purge(flags);
    }
    bool Stopping() const { return stopping && stopping(); }
};

// Sends `query` and collects the reply into `reply` (at most 200 bytes): the byte count, or
// -1 after more than 3 whole seconds without a usable reply or when the link is being replaced.
int Transact(const SecLine& line, const char* query, std::string& reply);

// "^D" and three digits.
bool IsSecDataReply(std::string_view reply);

// The length a data reply claims, cut to the bytes that really came: 0 for anything that is
// not "^D" and three digits.
int SecDataLength(std::string_view reply);

// Field `index` (the text after the index-th comma) of a reply whose data is `count` bytes
// long, as a decimal integer. Only the bytes really in `reply` are ever looked at; a missing
// comma, an empty field, a field over 7 characters or one that is not a number give 0.
int GetField(int index, int count, std::string_view reply);

// Sends a setting until the UPS acknowledges it with "^1" (true) or more than 3 whole seconds
// have passed since the first send (false). Used for the self-test and the beeper.
bool SendSecSettingAcknowledged(const SecLine& line, const std::string& text);

// The shut-down command group: auto-restart on, shut-down type, the restore text when one is
// given, then the shut-down text.
void SendSecShutdown(const SecLine& line, const std::string& restoreText,
                     const std::string& shutdownText);

struct SecPollResult {
    bool complete = false;           // all twelve steps answered
    std::string statusLine;          // Q1 status layout, as far as the sequence got
    std::string infoLine;            // Q1 "I" layout, as far as the sequence got
    std::string st2Reply;            // the last "ST2" reply, kept whole
    std::optional<int> capacity;     // tenths of a percent, once "ST1" answered
    std::optional<int> beeper;       // the "NOM" alarm field, once the second "NOM" answered
    std::vector<int> notifications;  // UPS notification codes to post: 15 boost, 16 buck
};

// One poll sequence, started by a data-ready report in polled mode. A step that gets no reply,
// or one that is not a data reply, ends it. The UPS object sets its
// busy flag before and its idle flag after, raises the link's continue event unless it is
// stopping, posts `notifications`, then handles `statusLine` and `infoLine` as Q1 replies
// (status first); an incomplete line fails the Q1 layout check and changes nothing.
SecPollResult RunSecPoll(const SecLine& line);

}  // namespace torvane
