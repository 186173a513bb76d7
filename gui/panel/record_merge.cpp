#include "record_merge.h"

#include <algorithm>
#include <type_traits>
#include <variant>

#include "ups_lib/config_fields.h"

namespace kelvora::panel {

ups::CConfig MergeChanges(const ups::CConfig& read, const ups::CConfig& edited,
                          const ups::CConfig& now) {
    ups::CConfig merged = now;
    for (const ups::ConfigField& field : ups::ConfigFields()) {
        std::visit(
            [&](auto member) {
                if (edited.*member != read.*member) merged.*member = edited.*member;
            },
            field.member);
    }
    return merged;
}

ups::CMsgTab MergeChanges(const ups::CMsgTab& read, const ups::CMsgTab& edited,
                          const ups::CMsgTab& now) {
    ups::CMsgTab merged = now;
    for (auto list : {&ups::CMsgTab::text, &ups::CMsgTab::address, &ups::CMsgTab::number,
                      &ups::CMsgTab::code}) {
        for (std::size_t i = 0; i < (merged.*list).size(); ++i) {
            if ((edited.*list)[i] != (read.*list)[i]) (merged.*list)[i] = (edited.*list)[i];
        }
    }
    return merged;
}

void ScheduleEdits::Added(const ups::CScheduleDetail& entry) {
    added_.push_back(entry);
}

void ScheduleEdits::Removed(const ups::CScheduleDetail& entry) {
    // Taking back an entry added in this edit leaves the agent's list as it was.
    if (auto it = std::find(added_.begin(), added_.end(), entry); it != added_.end()) {
        added_.erase(it);
        return;
    }
    removed_.push_back(entry);
}

void ScheduleEdits::ApplyTo(ups::CSchedule& schedule) const {
    std::vector<ups::CScheduleDetail> entries = schedule.Entries();
    for (const auto& gone : removed_) {
        if (auto it = std::find(entries.begin(), entries.end(), gone); it != entries.end())
            entries.erase(it);
    }
    entries.insert(entries.end(), added_.begin(), added_.end());
    schedule.RemoveAll();
    for (const auto& e : entries) schedule.Add(e);
}

void ScheduleEdits::clear() {
    added_.clear();
    removed_.clear();
}

}  // namespace kelvora::panel
