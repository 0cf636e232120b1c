// The arithmetic behind sending: the bar's percentage and split, the texts of
// the progress window, the send timer's schedule and the spin's acceleration.
#include "panes/send_schedule.h"
#include "platform/spin_button.h"
#include "progress/progress_text.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(SendProgress, PercentTextAndSplitColumn)
{
    struct Case
    {
        int pos, upper;
        const char* text;
        int split; // in a client area 300 pixels wide
    } cases[] = {
        {0, 0, "0%", 0},          {0, 1000, "0%", 0},          {512, 1000, "51.2%", 153},
        {1, 1048576, "0.0%", 0},  {1000, 1000, "100.0%", 300}, {1500, 1000, "150.0%", 450}, // not clamped
        {333, 999, "33.3%", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos << " of " << c.upper);
        const float p = ProgressPercent(c.pos, c.upper);
        EXPECT_EQ(c.text, PercentText(p));
        EXPECT_EQ(c.split, SplitColumn(300, p));
    }
    EXPECT_EQ("512 / 1000", CountText(512, 1000));
}

TEST(SendProgress, ElapsedTimeText)
{
    struct Case
    {
        std::int64_t ticks, frequency;
        const char* text;
    } cases[] = {
        {0, 1000000000, "[00:00:00 000]"},           {250000000, 1000000000, "[00:00:00 250]"},
        {83500000000, 1000000000, "[00:01:23 500]"}, {3723125000000, 1000000000, "[01:02:03 125]"},
        {3723125, 1000, "[01:02:03 125]"},           {360000, 1, "[100:00:00 000]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, ElapsedTimeText(c.ticks, c.frequency)) << c.ticks;
}

TEST(SendProgress, TicksKeepTheScheduleWithoutCatchingUp)
{
    using Clock = SendSchedule::Clock;
    const Clock::time_point t0 = Clock::now();
    struct Case
    {
        const char* what;
        bool runnable;
        std::chrono::microseconds endedAfter; // the tick's end, after it was due
        std::chrono::microseconds nextAfter;  // the next tick, after t0
    } cases[] = {
        {"short work: 1 ms start to start", true, 300us, 1000us},
        {"work longer than a tick: at once", true, 1500us, 1500us},
        {"after a stall: from then on, no burst", true, 5s, 5s},
        {"nothing to send: slow", false, 300us, 50300us},
    };
    for (const Case& c : cases) {
        SendSchedule schedule;
        schedule.TickStarted(t0);
        EXPECT_EQ(t0 + c.nextAfter, schedule.Next(c.runnable, t0 + c.endedAfter)) << c.what;
    }
}

TEST(SendProgress, HeldSpinArrowAccelerates)
{
    const std::pair<std::chrono::milliseconds, int> cases[] = {
        {0ms, 1}, {1999ms, 1}, {2000ms, 5}, {4999ms, 5}, {5000ms, 20}, {60s, 20},
    };
    for (const auto& [held, step] : cases)
        EXPECT_EQ(step, SpinAcceleratedStep(held)) << held.count();
}

} // namespace
