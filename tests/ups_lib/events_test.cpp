#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ups_lib/platform/events.h"

namespace {

using namespace std::chrono_literals;
using platform::Event;

TEST(Events, AutoResetWakesOneWaitAndClears) {
    Event e(Event::Mode::kAutoReset);
    EXPECT_FALSE(e.Wait(0ms));
    e.Set();
    EXPECT_TRUE(e.Wait(0ms));
    EXPECT_FALSE(e.Wait(0ms)) << "the wait that saw it cleared it";

    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.Wait(2s); });
    std::thread b([&] { woken += e.Wait(300ms); });
    std::this_thread::sleep_for(50ms);
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 1);
}

TEST(Events, ManualResetStaysSetUntilReset) {
    Event e(Event::Mode::kManualReset, true);
    EXPECT_TRUE(e.Wait(0ms));
    EXPECT_TRUE(e.Wait(0ms));
    e.Reset();
    EXPECT_FALSE(e.Wait(20ms));

    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.Wait(2s); });
    std::thread b([&] { woken += e.Wait(2s); });
    std::this_thread::sleep_for(50ms);
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 2);
}

TEST(Events, WaitAnyGivesTheFirstSetAndTimesOut) {
    Event quit(Event::Mode::kManualReset);
    Event work(Event::Mode::kAutoReset);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::WaitAny({&quit, &work}, 100ms), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);

    work.Set();
    EXPECT_EQ(platform::WaitAny({&quit, &work}, 0ms), 1);
    EXPECT_FALSE(work.Wait(0ms)) << "WaitAny took the auto-reset event";

    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        quit.Set();
    });
    EXPECT_EQ(platform::WaitAny({&work, &quit}, platform::kInfinite), 1);
    setter.join();
    EXPECT_TRUE(quit.Wait(0ms)) << "a manual-reset event stays set";
    work.Set();
    EXPECT_EQ(platform::WaitAny({&quit, &work}, 0ms), 0) << "the first one set wins";
}

}  // namespace
