#include "actions/wait_progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct RecordingSearcher : fd::IWaitSearcher {
    int tick = 0;  // set by the test before each Tick()
    std::vector<int> probes;
    std::vector<int> searches;
    void ProbeDiscoveredDevices() override { probes.push_back(tick); }
    void SendSearch() override { searches.push_back(tick); }
};

// Runs ticks until the wait reports the end; returns the counter it ended at.
int RunToEnd(fd::WaitProgress& w, RecordingSearcher& s, int limit = 1000) {
    for (int i = 0; i < limit; ++i) {
        s.tick = w.Counter() + 1;
        if (w.Tick()) return w.Counter();
    }
    return -1;
}

TEST(WaitProgress, SixtySecondsWithThreeSearches) {
    RecordingSearcher s;
    fd::WaitProgress w(60, true, 3, &s);
    EXPECT_EQ(w.Duration(), 120);
    EXPECT_EQ(w.Counter(), 1);
    EXPECT_EQ(RunToEnd(w, s), 120);
    EXPECT_EQ(s.searches, (std::vector<int>{108, 114, 120}));
    // The discovered devices are probed once, with the first of the searches.
    EXPECT_EQ(s.probes, (std::vector<int>{108}));
    EXPECT_EQ(w.Position(), 120);
    EXPECT_TRUE(w.Finished());
    // A tick after the end changes nothing and searches no more.
    EXPECT_TRUE(w.Tick());
    EXPECT_EQ(s.searches.size(), 3u);
}

TEST(WaitProgress, PositionFollowsTheCounter) {
    RecordingSearcher s;
    fd::WaitProgress w(5, false, 0, &s);
    std::vector<int> positions;
    while (!w.Tick()) positions.push_back(w.Position());
    EXPECT_EQ(positions, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(w.Position(), 10);
    EXPECT_TRUE(s.searches.empty());
    EXPECT_TRUE(s.probes.empty());
}

TEST(WaitProgress, NoSearchWithoutTheFlagOrWithoutASearcher) {
    RecordingSearcher s;
    fd::WaitProgress off(60, false, 3, &s);
    RunToEnd(off, s);
    EXPECT_TRUE(s.searches.empty());
    fd::WaitProgress none(60, true, 3, nullptr);  // must not crash
    int ticks = 0;
    while (!none.Tick()) ++ticks;
    EXPECT_EQ(ticks, 118);
}

TEST(WaitProgress, SearchesAreCountedBackFromTheEnd) {
    // 10 s = 20 ticks, 3 searches: ticks 8, 14, 20.
    RecordingSearcher s;
    fd::WaitProgress w(10, true, 3, &s);
    RunToEnd(w, s);
    EXPECT_EQ(s.searches, (std::vector<int>{8, 14, 20}));
    EXPECT_EQ(s.probes, (std::vector<int>{8}));
}

TEST(WaitProgress, ZeroSecondsEndsAtOnce) {
    fd::WaitProgress w(0, false, 0, nullptr);
    EXPECT_TRUE(w.Finished());
    EXPECT_TRUE(w.Tick());
    EXPECT_EQ(w.Position(), 0);
}

}  // namespace
