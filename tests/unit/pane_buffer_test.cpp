// The pane's byte window over a long stream: it always holds exactly the
// newest bytes, whatever the sizes of the appends, with zeros after them.
#include "panes/pane_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

bool TailIsZero(const PaneBuffer& b)
{
    for (int i = b.m_nLength; i < PANE_CAPACITY; ++i) {
        if (b.m_pData[i] != 0)
            return false;
    }
    return true;
}

} // namespace

TEST(PaneBuffer, LongStreamKeepsTheNewestBytes)
{
    std::vector<std::uint8_t> stream(3 * PANE_CAPACITY + 12345);
    for (std::size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<std::uint8_t>(i * 7 + i / 4099);
    PaneBuffer buffer;
    std::mt19937 rng(7);
    std::size_t fed = 0;
    int appends = 0;
    while (fed < stream.size()) {
        // Mostly socket-sized blocks, now and then a large one.
        std::size_t n = (rng() % 8 == 0) ? rng() % (PANE_CAPACITY / 3) : 1 + rng() % 4096;
        n = std::min(n, stream.size() - fed);
        buffer.Append(static_cast<int>(n), stream.data() + fed);
        fed += n;
        ++appends;
        const std::size_t kept = std::min<std::size_t>(fed, PANE_CAPACITY);
        ASSERT_EQ(static_cast<int>(kept), buffer.m_nLength) << "append " << appends;
        // Both ends of the window, every time; the whole of it now and then.
        ASSERT_EQ(0, std::memcmp(buffer.m_pData, stream.data() + fed - kept, std::min<std::size_t>(kept, 64)));
        ASSERT_EQ(0, std::memcmp(buffer.m_pData + kept - std::min<std::size_t>(kept, 64),
                                 stream.data() + fed - std::min<std::size_t>(kept, 64),
                                 std::min<std::size_t>(kept, 64)));
        if (appends % 97 == 0) {
            ASSERT_EQ(0, std::memcmp(buffer.m_pData, stream.data() + fed - kept, kept));
            ASSERT_TRUE(TailIsZero(buffer));
        }
    }
    EXPECT_EQ(0, std::memcmp(buffer.m_pData, stream.data() + stream.size() - PANE_CAPACITY, PANE_CAPACITY));

    // Shrinking and growing again shows zeros, wherever the window stands.
    buffer.Resize(10);
    EXPECT_TRUE(TailIsZero(buffer));
    buffer.Resize(PANE_CAPACITY);
    EXPECT_EQ(0, std::memcmp(buffer.m_pData, stream.data() + stream.size() - PANE_CAPACITY, 10));
    EXPECT_EQ(0, buffer.m_pData[10]);
    EXPECT_EQ(0, buffer.m_pData[PANE_CAPACITY - 1]);

    buffer.Clear();
    EXPECT_EQ(0, buffer.m_nLength);
    EXPECT_TRUE(TailIsZero(buffer));
}
