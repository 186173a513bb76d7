// Two panels saving the same agent's records: each keeps what its own user changed.
#include "gui/panel/record_merge.h"

#include <gtest/gtest.h>

namespace kelvora::panel {
namespace {

TEST(RecordMerge, ASecondSaveKeepsTheFirstPanelsChangesAndMakesItsOwn) {
    ups::CConfig read;  // what both panels read
    ups::CConfig first = read;
    first.acFailDelay = 5;  // the first panel saved this meanwhile
    first.mailServer = "mail.example";
    ups::CConfig edited = read;  // the second panel's user changed other fields
    edited.batteryLowDelay = 3;
    edited.agentPassword = "secret";
    const ups::CConfig merged = MergeChanges(read, edited, first);
    EXPECT_EQ(merged.acFailDelay, 5);
    EXPECT_EQ(merged.mailServer, "mail.example");
    EXPECT_EQ(merged.batteryLowDelay, 3);
    EXPECT_EQ(merged.agentPassword, "secret");
    // The same field changed by both: the later save wins, as the user just asked for it.
    edited.acFailDelay = 20;
    EXPECT_EQ(MergeChanges(read, edited, first).acFailDelay, 20);
    // Nothing edited: the agent's record comes back as it is.
    EXPECT_TRUE(MergeChanges(read, read, first) == first);
}

TEST(RecordMerge, NotificationTextsMergeOneEntryAtATime) {
    ups::CMsgTab read;
    ups::CMsgTab now = read;
    now.address[0] = "ops@example";
    ups::CMsgTab edited = read;
    edited.text[3] = "Battery fine again";
    edited.number[6] = "555";
    const ups::CMsgTab merged = MergeChanges(read, edited, now);
    EXPECT_EQ(merged.address[0], "ops@example");
    EXPECT_EQ(merged.text[3], "Battery fine again");
    EXPECT_EQ(merged.number[6], "555");
    EXPECT_EQ(merged.text[0], read.text[0]);
}

TEST(RecordMerge, ScheduleEditsAreMadeAgainOnTheListAsItIsNow) {
    const ups::CScheduleDetail a(ups::kShutdown, ups::kDaily, 0, 1000);
    const ups::CScheduleDetail b(ups::kSwitchOn, ups::kOnce, 0, 2000);
    const ups::CScheduleDetail c(ups::kSelfTest, ups::kWeekly, 5, 3000);
    const ups::CScheduleDetail d(ups::kSelfTest, ups::kOnce, -1, 4000);
    ScheduleEdits edits;
    edits.Removed(a);
    edits.Added(c);
    edits.Added(d);
    edits.Removed(d);    // taken back: never sent
    ups::CSchedule now;  // another panel added b meanwhile
    now.Add(a);
    now.Add(b);
    edits.ApplyTo(now);
    EXPECT_EQ(now.Entries(), (std::vector<ups::CScheduleDetail>{b, c}));
    // Removing an entry the other panel already removed changes nothing else.
    ups::CSchedule gone;
    gone.Add(b);
    ScheduleEdits remove;
    remove.Removed(a);
    remove.ApplyTo(gone);
    EXPECT_EQ(gone.Entries(), (std::vector<ups::CScheduleDetail>{b}));
    EXPECT_FALSE(edits.empty());
    edits.clear();
    EXPECT_TRUE(edits.empty());
}

}  // namespace
}  // namespace kelvora::panel
