#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

#include "serial/ReceiveRing.h"

// The ring against the byte-at-a-time rule it replaces: below the limit a
// byte is added, at or above it the byte displaces the oldest; across
// wrap-arounds, pushes larger than the ring, clears and a limit lowered
// below what is held.
TEST(ReceiveRing, KeepsTheNewestBytesAsByteAtATimeWould)
{
    CReceiveRing ring;
    std::deque<char> model;
    std::mt19937 random(7);
    std::size_t limit = 1000;
    for (int step = 0; step < 4000; ++step) {
        if (step == 1500)
            limit = 5000; // a larger buffer, filled
        if (step == 3000)
            limit = 1000; // restored while holding more: its length stays
        if (random() % 200 == 0) {
            ring.Clear(limit);
            model.clear();
            continue;
        }
        std::string data(random() % (step % 3 == 0 ? 3000 : 150), '\0');
        for (char& c : data)
            c = static_cast<char>('a' + random() % 26);
        ring.Push(data.data(), data.size(), limit);
        for (char c : data) {
            if (model.size() < limit) {
                model.push_back(c);
            } else if (!model.empty()) {
                model.pop_front();
                model.push_back(c);
            }
        }
        ASSERT_EQ(ring.Contents(), std::string(model.begin(), model.end())) << step;
    }
    ring.Clear(0);
    ring.Push("abc", 3, 0); // a limit of 0 keeps nothing
    EXPECT_EQ(ring.Size(), 0u);
}
