// When `search --settle N` ends a search: not before anything answered, and only after a
// full quiet period since the last new answer.

#include "cli/cli_settle.h"

#include <gtest/gtest.h>

using fd::cli::SettleWatch;
using namespace std::chrono_literals;

TEST(SettleWatch, WaitsForTheFirstAnswerThenAFullQuietPeriod) {
    std::size_t answers = 0;
    int calls = 0;
    SettleWatch w(3, [&] {
        ++calls;
        return answers;
    });
    const auto t0 = SettleWatch::Clock::time_point{} + 100s;
    EXPECT_FALSE(w.Settled(t0));
    EXPECT_FALSE(w.Settled(t0 + 10s)) << "nothing answered: a quiet network is no result";
    answers = 5;
    EXPECT_FALSE(w.Settled(t0 + 11s));
    EXPECT_FALSE(w.Settled(t0 + 13s));
    answers = 6;  // a late answer starts the quiet period again
    EXPECT_FALSE(w.Settled(t0 + 13500ms));
    EXPECT_FALSE(w.Settled(t0 + 16s));
    EXPECT_TRUE(w.Settled(t0 + 16500ms));

    // The count is not asked for more than four times a second.
    const int before = calls;
    for (int i = 0; i < 100; ++i) w.Settled(t0 + 16500ms + std::chrono::milliseconds(i));
    EXPECT_EQ(calls, before);
}

TEST(SettleWatch, ZeroSecondsNeverSettles) {
    SettleWatch w(0, [] { return std::size_t{40}; });
    EXPECT_FALSE(w.Settled(SettleWatch::Clock::time_point{} + 1000s));
}
