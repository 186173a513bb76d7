// Whether the UPS counts as connected: the link's own notices and the replies that did not come.
// A UPS may miss a few polls; how many depends on what it is doing, since a UPS busy with its
// own shutdown or running on battery is exactly the one we must not give up on too early.
#pragma once

#include <cstdint>

#include "ups_changes.h"

namespace torvane {

// Misses tolerated before the UPS is declared gone.
inline constexpr int kDefaultTolerance = 3;
inline constexpr int kAcFailTolerance = 4;
inline constexpr int kShutdownTolerance = 6;

struct LinkOutcome {
    Reactions reactions;
    // Clear the three records, the connected flag and the connection time (ResetData).
    bool resetData = false;
    // The pending "F"/"I" query went unanswered (code 4 is among the posts); the owner may read
    // the model file or its registry copy here.
    bool infoQueryDropped = false;
};

class ConnectionTracker {
  public:
    // lParam 1: the link saw its first reply.
    LinkOutcome OnLinkConnected(std::int64_t now);
    // lParam 2: the link's own disconnect count ran out; ours decides.
    LinkOutcome OnLinkDisconnected();
    // lParam 3: a reply arrived. It answers a pending "F"/"I" query too, whether or not it
    // parses, so a later miss of a status poll is not taken for an unanswered query.
    void OnDataReady() {
        misses_ = 0;
        infoQueryPending_ = false;
    }
    // An "F" or "I" query went out (TickAction::infoQuerySent).
    void OnInfoQuerySent() { infoQueryPending_ = true; }
    // lParam 4: no reply within the wait. `status` is the last status byte.
    LinkOutcome OnNoReply(std::uint8_t status);
    // lParam 5: the port could not be opened.
    LinkOutcome OnPortOpenFailed();
    // Losing the link another way (DetachLink while connected) ends the connection too.
    LinkOutcome OnDetached();

    bool connected() const { return connected_; }
    std::int64_t connectionTime() const { return connectionTime_; }
    bool infoQueryPending() const { return infoQueryPending_; }
    int misses() const { return misses_; }

  private:
    void Disconnect(LinkOutcome& out, const char* trace);

    bool connected_ = false;
    std::int64_t connectionTime_ = 0;
    int misses_ = 0;
    bool infoQueryPending_ = false;
};

}  // namespace torvane
