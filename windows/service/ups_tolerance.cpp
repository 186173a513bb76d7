#include "ups_tolerance.h"

#include <cstdio>

#include "ups_lib/ups_records.h"

namespace torvane {
namespace {

std::string ToleranceLine(const char* kind, int misses, int max) {
    char line[96];
    std::snprintf(line, sizeof line, "%s tolerance count: %d Max tolerance: %d\n", kind, misses,
                  max);
    return line;
}

}  // namespace

LinkOutcome ConnectionTracker::OnLinkConnected(std::int64_t now) {
    LinkOutcome out;
    misses_ = 0;
    out.reactions.Trace("UPS have been connected\n");
    connected_ = true;
    connectionTime_ = now;
    out.reactions.Post(kNotifyConnected);
    return out;
}

LinkOutcome ConnectionTracker::OnLinkDisconnected() {
    LinkOutcome out;
    out.reactions.Trace("UPS disconnected notify by CRS232\n");
    return out;
}

LinkOutcome ConnectionTracker::OnNoReply(std::uint8_t status) {
    LinkOutcome out;
    if (!connected_) return out;
    if (infoQueryPending_) {
        infoQueryPending_ = false;
        out.infoQueryDropped = true;
        out.reactions.Post(kNotifyInfoUnanswered);
    }
    ++misses_;
    if ((status & ups::kShutdownActive) != 0 && misses_ <= kShutdownTolerance) {
        out.reactions.Trace(ToleranceLine("Shut down", misses_, kShutdownTolerance));
    } else if ((status & ups::kUtilityFail) != 0 && misses_ <= kAcFailTolerance) {
        out.reactions.Trace(ToleranceLine("AC fail", misses_, kAcFailTolerance));
    } else if (misses_ <= kDefaultTolerance) {
        out.reactions.Trace(ToleranceLine("Default", misses_, kDefaultTolerance));
    } else {
        misses_ = 0;
        Disconnect(out, "UPS disconnected\n");
    }
    return out;
}

LinkOutcome ConnectionTracker::OnPortOpenFailed() {
    LinkOutcome out;
    Disconnect(out, "UPS disconnected cause by can't open com port\n");
    return out;
}

LinkOutcome ConnectionTracker::OnDetached() {
    LinkOutcome out;
    if (connected_) Disconnect(out, nullptr);
    return out;
}

void ConnectionTracker::Disconnect(LinkOutcome& out, const char* trace) {
    connected_ = false;
    connectionTime_ = 0;
    out.resetData = true;
    out.reactions.Post(kNotifyDisconnected);
    if (trace != nullptr) out.reactions.Trace(trace);
}

}  // namespace torvane
