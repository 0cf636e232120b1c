// When a repeat goes next: on its slot, and after a stall on a later slot
// rather than in a burst.
#include "messages/message_sender.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageSchedule, ARepeatKeepsItsSlotsAndSkipsThoseAStallTookAway)
{
    using std::chrono::milliseconds;
    const struct
    {
        std::int64_t slot;
        int elapsedMs;
        std::int64_t next;
    } cases[] = {
        {0, 0, 1},      // sent on time
        {4, 40, 5},     // a slow send never pulls the next one in
        {4, 56, 5},     // slot 5 is late but slot 6 has not come: 5 goes at once
        {4, 60, 6},     // slot 6 has come: slot 5 is skipped
        {4, 1003, 100}, // a stall of a second: one send at once, then on schedule
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.next, NextRepeatSlot(c.slot, milliseconds(c.elapsedMs), milliseconds(10))) << c.elapsedMs;
}

} // namespace
