// Saving over a record that another panel may have changed since this one read it. A panel
// asks the agent for the record again before it saves, and sends the record as the agent now
// has it with only the fields its own user changed: two panels editing at once each keep what
// they changed instead of the second silently undoing the first.
#pragma once

#include <vector>

#include "ups_lib/config.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"

namespace kelvora::panel {

// `now` with every field in which `edited` differs from `read`.
ups::CConfig MergeChanges(const ups::CConfig& read, const ups::CConfig& edited,
                          const ups::CConfig& now);
ups::CMsgTab MergeChanges(const ups::CMsgTab& read, const ups::CMsgTab& edited,
                          const ups::CMsgTab& now);

// The entries a user added and removed since the schedule was read, to be made again on the
// schedule as the agent has it when it is saved.
class ScheduleEdits {
  public:
    void Added(const ups::CScheduleDetail& entry);
    void Removed(const ups::CScheduleDetail& entry);
    // Removes one equal entry for each removal, then appends the additions in their order.
    void ApplyTo(ups::CSchedule& schedule) const;
    bool empty() const { return added_.empty() && removed_.empty(); }
    void clear();

  private:
    std::vector<ups::CScheduleDetail> added_;
    std::vector<ups::CScheduleDetail> removed_;
};

}  // namespace kelvora::panel
