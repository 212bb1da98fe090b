// The search sequence of the device lists, over a recording engine: no socket, no clock.

#include "actions/search_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engine_fakes.h"
#include "actions/engine_search_adapter.h"

using namespace fd;
using Reload = SearchSession::Reload;

namespace {

class RecordingEngine : public ISearchEngine {
public:
    void ProbeDiscoveredDevices() override { calls.push_back("probe@" + std::to_string(now)); }
    void ForgetDiscoveredDevices() override { calls.push_back("forget@" + std::to_string(now)); }
    void PurgeStaleDevices() override { calls.push_back("purge@" + std::to_string(now)); }
    void SendSearch() override { calls.push_back("search@" + std::to_string(now)); }
    std::vector<std::string> calls;
    int now = 0;  // the tick the session is at, set by the test
};

struct Recorded {
    RecordingEngine engine;
    std::vector<std::pair<int, Reload>> reloads;
};

// Runs ticks until the session ends or `limit` ticks, recording the tick of each call.
void RunTicks(SearchSession& s, Recorded& r, int limit) {
    for (int t = 1; t <= limit && s.IsRunning(); ++t) {
        r.engine.now = t;
        s.Tick();
    }
}

}  // namespace

TEST(SearchSession, StartPreparesTheEngineInOrderThenBroadcasts) {
    Recorded r;
    SearchSession s(r.engine);
    s.SetReloadHandler([&](Reload w) { r.reloads.emplace_back(r.engine.now, w); });
    s.Start();
    EXPECT_EQ(r.engine.calls,
              (std::vector<std::string>{"probe@0", "forget@0", "purge@0", "search@0"}));
    EXPECT_TRUE(s.IsRunning());
    ASSERT_EQ(r.reloads.size(), 1u);
    EXPECT_EQ(r.reloads[0].second, Reload::FirstPage);
}

TEST(SearchSession, BroadcastsEveryThirdTickAndEndsAtThirty) {
    Recorded r;
    SearchSession s(r.engine);
    s.SetReloadHandler([&](Reload w) { r.reloads.emplace_back(r.engine.now, w); });
    s.Start();
    RunTicks(s, r, 100);
    std::vector<std::string> searches;
    for (const auto& c : r.engine.calls)
        if (c.rfind("search@", 0) == 0) searches.push_back(c);
    std::vector<std::string> expected = {"search@0"};
    for (int t = 3; t <= 27; t += 3) expected.push_back("search@" + std::to_string(t));
    EXPECT_EQ(searches, expected);  // ten broadcasts; none at 30, where the search ends
    EXPECT_EQ(s.Broadcasts(), 10);
    EXPECT_FALSE(s.IsRunning());
    EXPECT_EQ(s.Ticks(), 30);
    // Page 1 at the start and with each broadcast, the current page once at the end.
    ASSERT_EQ(r.reloads.size(), 11u);
    EXPECT_EQ(r.reloads.back(), std::make_pair(30, Reload::CurrentPage));
    EXPECT_EQ(r.reloads[9], std::make_pair(27, Reload::FirstPage));
    // Ticks after the end do nothing.
    EXPECT_FALSE(s.Tick());
    EXPECT_EQ(r.engine.calls.size(), 3u + 10u);
}

TEST(SearchSession, StopAfterTwoSecondsLeavesOneBroadcast) {
    Recorded r;
    SearchSession s(r.engine);
    s.SetReloadHandler([&](Reload w) { r.reloads.emplace_back(r.engine.now, w); });
    s.Start();
    RunTicks(s, r, 2);
    s.Stop();
    EXPECT_FALSE(s.IsRunning());
    EXPECT_EQ(s.Broadcasts(), 1);
    EXPECT_EQ(r.engine.calls.back(), "search@0");
    EXPECT_EQ(r.reloads.back().second, Reload::CurrentPage);
    // A second Stop is no new end.
    s.Stop();
    EXPECT_EQ(r.reloads.size(), 2u);
    // Ticks while stopped send nothing.
    RunTicks(s, r, 10);
    EXPECT_EQ(r.engine.calls.size(), 4u);
}

TEST(SearchSession, LengthIsAdjustableAndStartBeginsAgain) {
    Recorded r;
    SearchSession shortOne(r.engine, 5);
    shortOne.Start();
    RunTicks(shortOne, r, 100);
    EXPECT_EQ(shortOne.Ticks(), 5);
    EXPECT_EQ(shortOne.Broadcasts(), 2);  // at the start and at 3

    SearchSession oneTick(r.engine, 0);  // clamped to one tick
    oneTick.Start();
    EXPECT_FALSE(oneTick.Tick());
    EXPECT_EQ(oneTick.Broadcasts(), 1);

    SearchSession s(r.engine, 60);
    s.Start();
    RunTicks(s, r, 100);
    EXPECT_EQ(s.Broadcasts(), 20);  // 0, 3, ... 57

    // Starting a running search starts its count over.
    s.Start();
    RunTicks(s, r, 4);
    s.Start();
    EXPECT_EQ(s.Ticks(), 0);
    EXPECT_EQ(s.Broadcasts(), 1);
}

TEST(SearchSession, ReloadFlagKeepsTheLatestRequest) {
    Recorded r;
    SearchSession s(r.engine, 4);
    Reload w{};
    EXPECT_FALSE(s.TakeReloadRequest(&w));
    s.Start();
    ASSERT_TRUE(s.TakeReloadRequest(&w));
    EXPECT_EQ(w, Reload::FirstPage);
    EXPECT_FALSE(s.TakeReloadRequest());
    s.Tick(), s.Tick();
    EXPECT_FALSE(s.TakeReloadRequest());
    s.Tick();  // 3: broadcast
    s.Tick();  // 4: end; the end is what the caller must act on
    ASSERT_TRUE(s.TakeReloadRequest(&w));
    EXPECT_EQ(w, Reload::CurrentPage);
}

TEST(SearchSession, AdapterDrivesTheRealEngine) {
    // The engine with recorded sends: the session's start reaches the wire as one search
    // broadcast per adapter subnet.
    fd::test::FakeStore store;
    fd::test::Recorder sent;
    DeviceProtocolOptions o;
    o.store = &store;
    o.sendHook = sent.Hook();
    o.adapterSource = [] {
        return std::vector{fd::test::MakeAdapter({{"198.18.0.1", "255.255.0.0"}})};
    };
    o.openSockets = false;
    CDeviceProtocol engine(o);
    EngineSearchAdapter adapter(engine);
    SearchSession s(adapter, 4);
    s.Start();
    s.Tick(), s.Tick(), s.Tick();
    auto searches = sent.WithCommand(CMD_SEARCH);
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0].out.destIp, "198.18.255.255");
    EXPECT_EQ(searches[0].out.destPort, kPortSearch);
}
