// The upgrade's timed course with a recording engine, a store whose statuses the test sets
// (as the devices' reports would) and a file server that only records.

#include "actions/upgrade_session.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <map>

#include "config/labels.h"
#include "engine_fakes.h"
#include "support/fake_device_engine.h"
#include "support/temp_dir.h"

using namespace fd;

namespace {

class StatusStore : public test::FakeStore {
public:
    std::map<std::string, int> status;
    std::vector<std::string> resets;
    int GetApStatus(const std::string& mac) override {
        auto it = status.find(mac);
        return it == status.end() ? 0 : it->second;
    }
    bool IsApUpgradeWait(const std::string& mac) override {
        return GetApStatus(mac) == AP_STATUS_UPGRADE_WAIT;
    }
    bool ResetApUpgradeFail(const std::string& mac) override {
        resets.push_back(mac);
        if (GetApStatus(mac) == AP_STATUS_UPGRADE_FAIL) status[mac] = AP_STATUS_ONLINE;
        return true;
    }
};

class FakeServer : public IUpgradeFileServer {
public:
    std::vector<std::string> calls;
    bool running = false;
    int looks = 0;
    bool ServeImage(const std::string& image, const std::vector<std::string>& addresses) override {
        std::string on;
        for (const auto& a : addresses) on += " " + a;
        calls.push_back("serve " + image + (on.empty() ? "" : " on" + on));
        return true;
    }
    void Start() override { calls.push_back("start"); }
    bool IsRunning() override {
        ++looks;
        return running;
    }
    void Stop() override { calls.push_back("stop"); }
};

DeviceTarget Target(int n, int model) {
    DeviceTarget t{};
    std::snprintf(t.ip, sizeof t.ip, "198.18.1.%d", n);
    std::snprintf(t.mac, sizeof t.mac, "02:fd:00:00:00:%02x", n);
    t.ap_type = model;
    return t;
}

struct Rig {
    test::RecordingEngine engine;
    StatusStore store;
    FakeServer server;
    std::vector<std::pair<std::string, int>> shown;
    std::vector<bool> closes;
    CUpgradeSession session{engine,
                            store,
                            server,
                            {[this](const std::string& mac, int s) { shown.emplace_back(mac, s); },
                             [this](bool confirmed) { closes.push_back(confirmed); }, nullptr}};
    UpgradeImageInfo image = MakeUpgradeImageInfo("fw-2.1.bin", 123456);

    void Ticks(int n) {
        for (int i = 0; i < n; ++i) session.Tick();
    }
    std::vector<test::RecordingEngine::Send> Sent(int command) const {
        std::vector<test::RecordingEngine::Send> out;
        for (const auto& s : engine.Sends())
            if (s.command == command) out.push_back(s);
        return out;
    }
    int Searches() const {
        int n = 0;
        for (const auto& c : engine.Calls()) n += c == "search";
        return n;
    }
    void SetAll(const std::vector<DeviceTarget>& ts, int status) {
        for (const auto& t : ts) store.status[t.mac] = status;
    }
};

}  // namespace

LocalAdapterInfo Adapter(const char* name, std::vector<std::pair<const char*, const char*>> addrs,
                         bool up = true) {
    LocalAdapterInfo a{};
    a.up = up ? 1 : 0;
    std::snprintf(a.name, sizeof a.name, "%s", name);
    for (const auto& [ip, mask] : addrs) {
        std::snprintf(a.addrs[a.ip_count].ip, sizeof a.addrs[0].ip, "%s", ip);
        std::snprintf(a.addrs[a.ip_count].mask, sizeof a.addrs[0].mask, "%s", mask);
        ++a.ip_count;
    }
    return a;
}

TEST(UpgradeSession, OnlyTheChosenModelIsQueuedAndTheServerServesItsImageWhereTheDevicesAre) {
    Rig r;
    const std::vector<DeviceTarget> ts = {Target(1, 2), Target(2, 3), Target(3, 2)};
    // The model choice lists each model once, in the order of the rows.
    auto choices = UpgradeModelChoices(ts);
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[0], std::make_pair(GetModelLabel(2), 2));
    EXPECT_EQ(choices[1], std::make_pair(GetModelLabel(3), 3));

    r.SetAll(ts, AP_STATUS_ONLINE);
    // The devices sit behind the second address of eth1; an unplugged adapter in the same
    // subnet and the other adapters are not listened on.
    const std::vector<LocalAdapterInfo> adapters = {
        Adapter("eth9", {{"198.18.0.9", "255.255.0.0"}}, false),
        Adapter("eth0", {{"10.0.0.1", "255.0.0.0"}}),
        Adapter("eth1", {{"192.168.1.2", "255.255.255.0"}, {"198.18.0.1", "255.255.0.0"}}),
        Adapter("eth2", {{"198.18.0.2", "255.255.0.0"}})};
    r.session.Start(ts, 2, "/srv/images/fw-2.1.bin", r.image, adapters);
    EXPECT_EQ(r.session.TransferLimit(), 120);
    EXPECT_EQ(r.session.ProgressMax(), 120);
    ASSERT_EQ(r.session.WatchList().size(), 2u);
    EXPECT_STREQ(r.session.WatchList()[1].mac, ts[2].mac);
    EXPECT_EQ(r.server.calls, (std::vector<std::string>{
                                  "stop", "serve /srv/images/fw-2.1.bin on 198.18.0.1", "start"}));
    // Devices behind two adapters: both; none behind any: every address.
    DeviceTarget far = Target(7, 2);
    std::snprintf(far.ip, sizeof far.ip, "10.9.8.7");
    EXPECT_EQ(UpgradeServerAddresses(adapters, {Target(1, 2), far, Target(3, 2)}),
              (std::vector<std::string>{"198.18.0.1", "10.0.0.1"}));
    std::snprintf(far.ip, sizeof far.ip, "172.16.0.1");
    EXPECT_TRUE(UpgradeServerAddresses(adapters, {far}).empty());
    EXPECT_STREQ(r.session.PhaseText(), "Upgrade file transfer progress");

    // The server is up at the first look (after three seconds): the batch goes out then,
    // each device cleared of an old failure first.
    r.server.running = true;
    r.Ticks(2);
    EXPECT_TRUE(r.Sent(CMD_UPGRADE).empty());
    r.Ticks(1);
    auto sent = r.Sent(CMD_UPGRADE);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].mac, ts[0].mac);
    EXPECT_EQ(sent[1].ip, "198.18.1.3");
    EXPECT_TRUE(sent[0].retransmit);
    ASSERT_EQ(sent[0].body.size(), sizeof(UpgradeImageInfo));
    EXPECT_EQ(std::memcmp(sent[0].body.data(), &r.image, sizeof r.image), 0);
    EXPECT_EQ(r.store.resets, (std::vector<std::string>{ts[0].mac, ts[2].mac}));
    // The status display covers the watched devices only, every second.
    EXPECT_EQ(r.shown.size(), 6u);
    EXPECT_EQ(r.shown.back(), std::make_pair(std::string(ts[2].mac), int(AP_STATUS_ONLINE)));
}

TEST(UpgradeSession, ServerNeverSeenStillSendsAfterSixSeconds) {
    Rig r;
    r.session.Start({Target(1, 1)}, 1, "/x", r.image);
    r.Ticks(5);
    EXPECT_TRUE(r.Sent(CMD_UPGRADE).empty());
    EXPECT_EQ(r.server.looks, 3);
    r.Ticks(1);
    EXPECT_EQ(r.Sent(CMD_UPGRADE).size(), 1u);
    EXPECT_EQ(r.server.looks, 3);
}

TEST(UpgradeSession, AnswersWithinTenSecondsStartTheFlashingOfThoseWaiting) {
    Rig r;
    const std::vector<DeviceTarget> ts = {Target(1, 2), Target(2, 3), Target(3, 2), Target(4, 2)};
    r.SetAll(ts, AP_STATUS_ONLINE);
    r.server.running = true;
    r.session.Start(ts, 2, "/x", r.image);
    r.Ticks(3);  // batch sent
    r.Ticks(5);
    // Two fetched the image, one failed: the batch is over at its next second.
    r.store.status[ts[0].mac] = AP_STATUS_UPGRADE_WAIT;
    r.store.status[ts[2].mac] = AP_STATUS_UPGRADE_FAIL;
    r.Ticks(1);
    EXPECT_EQ(r.session.GetPhase(), CUpgradeSession::Phase::Transfer);
    r.store.status[ts[3].mac] = AP_STATUS_UPGRADE_WAIT;
    r.Ticks(1);
    auto starts = r.Sent(CMD_UPGRADE_START);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].mac, ts[0].mac);
    EXPECT_EQ(starts[1].mac, ts[3].mac);
    EXPECT_TRUE(starts[0].body.empty());
    EXPECT_TRUE(r.session.AllSent());
    // Everything sent: the transfer phase is over at its next tick.
    EXPECT_EQ(r.session.GetPhase(), CUpgradeSession::Phase::Upgrading);
    EXPECT_STREQ(r.session.PhaseText(), "Firmware upgrading progress");
    EXPECT_EQ(r.session.ProgressMax(), 130);
    EXPECT_EQ(r.session.ProgressPos(), 0);
}

TEST(UpgradeSession, SilentDevicesEndTheTransferAtItsLimitThenSearchesAndClose) {
    Rig r;
    const std::vector<DeviceTarget> ts = {Target(1, 5), Target(2, 5)};
    r.SetAll(ts, AP_STATUS_ONLINE);
    r.session.Start(ts, 5, "/x", r.image);  // server never seen: batch at 6 s
    r.Ticks(119);
    EXPECT_EQ(r.session.GetPhase(), CUpgradeSession::Phase::Transfer);
    EXPECT_EQ(r.session.ProgressPos(), 119);
    r.Ticks(1);
    EXPECT_EQ(r.session.GetPhase(), CUpgradeSession::Phase::Upgrading);
    EXPECT_TRUE(r.Sent(CMD_UPGRADE_START).empty());

    // The batch still waits its own 120 s (to 126); a device that got ready by then is told
    // to go on, the silent one is not.
    r.store.status[ts[1].mac] = AP_STATUS_UPGRADE_WAIT;
    r.Ticks(5);
    EXPECT_TRUE(r.Sent(CMD_UPGRADE_START).empty());
    r.Ticks(1);
    auto starts = r.Sent(CMD_UPGRADE_START);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].mac, ts[1].mac);

    // Upgrading seconds so far: 6. Searches at 124, 127, 130, and the end at 130.
    std::vector<int> searchAt;
    for (int s = 7; s <= 130; ++s) {
        const int before = r.Searches();
        r.Ticks(1);
        if (r.Searches() > before) searchAt.push_back(s);
        if (s < 130) {
            EXPECT_TRUE(r.closes.empty()) << s;
        }
    }
    EXPECT_EQ(searchAt, (std::vector<int>{124, 127, 130}));
    EXPECT_EQ(r.closes, std::vector<bool>{true});
    EXPECT_EQ(r.session.ProgressPos(), 130);
    EXPECT_EQ(r.server.calls.back(), "stop");
    // Closed: nothing more happens.
    const auto sends = r.engine.Sends().size();
    const auto shown = r.shown.size();
    r.Ticks(10);
    EXPECT_EQ(r.engine.Sends().size(), sends);
    EXPECT_EQ(r.shown.size(), shown);
    EXPECT_EQ(r.Searches(), 3);
}

TEST(UpgradeSession, AllFailedClosesWhenTheTransferPhaseEnds) {
    Rig r;
    const std::vector<DeviceTarget> ts = {Target(1, 1), Target(2, 1)};
    r.server.running = true;
    r.session.Start(ts, 1, "/x", r.image);
    r.Ticks(3);
    r.SetAll(ts, AP_STATUS_UPGRADE_FAIL);
    r.Ticks(1);
    EXPECT_EQ(r.closes, std::vector<bool>{true});
    // The failures came in after the display last ran; it shows them before the close,
    // so a front end that judges by it says the fetch failed, not that nobody answered.
    CUpgradeTally tally;
    for (const auto& [mac, status] : r.shown) tally.Note(mac, status);
    for (const auto& t : ts) {
        EXPECT_TRUE(tally.FetchFailed(t.mac));
        EXPECT_EQ(tally.Judge(t.mac, true, AP_STATUS_UPGRADE_FAIL, "").text,
                  "failed: the device could not fetch the image");
    }
    EXPECT_EQ(r.session.GetPhase(), CUpgradeSession::Phase::Closed);
    EXPECT_TRUE(r.Sent(CMD_UPGRADE_START).empty());
    EXPECT_EQ(r.Searches(), 0);
    EXPECT_EQ(r.server.calls.back(), "stop");
}

TEST(UpgradeSession, MoreThanTenGoInBatchesOfTen) {
    Rig r;
    std::vector<DeviceTarget> ts;
    for (int i = 1; i <= 23; ++i) ts.push_back(Target(i, 4));
    r.SetAll(ts, AP_STATUS_ONLINE);
    r.server.running = true;
    r.session.Start(ts, 4, "/x", r.image);
    EXPECT_EQ(r.session.TransferLimit(), 360);
    r.Ticks(3);
    EXPECT_EQ(r.Sent(CMD_UPGRADE).size(), 10u);
    // The first ten are ready: they are told to go on and the next ten are asked at once.
    r.SetAll({ts.begin(), ts.begin() + 10}, AP_STATUS_UPGRADE_WAIT);
    r.Ticks(1);
    EXPECT_EQ(r.Sent(CMD_UPGRADE_START).size(), 10u);
    EXPECT_EQ(r.Sent(CMD_UPGRADE).size(), 20u);
    EXPECT_EQ(r.session.Queue().size(), 3u);
    // The second batch ends by its time limit; the last three follow.
    r.Ticks(120);
    EXPECT_EQ(r.Sent(CMD_UPGRADE).size(), 23u);
    EXPECT_FALSE(r.session.AllSent());
    r.SetAll({ts.begin() + 20, ts.end()}, AP_STATUS_UPGRADE_SUCCESS);
    r.Ticks(1);
    EXPECT_TRUE(r.session.AllSent());
    EXPECT_EQ(r.session.GetPhase(), CUpgradeSession::Phase::Upgrading);
}

TEST(UpgradeSession, CancelStopsTheServerAndEverythingElse) {
    Rig r;
    r.session.Start({Target(1, 1)}, 1, "/x", r.image);
    r.Ticks(2);
    r.session.Cancel();
    EXPECT_EQ(r.closes, std::vector<bool>{false});
    EXPECT_EQ(r.server.calls.back(), "stop");
    r.Ticks(20);
    EXPECT_TRUE(r.engine.Sends().empty());
}

TEST(UpgradeImage, PathChecksAndRequestBody) {
    EXPECT_EQ(CheckUpgradeFilePath(""), "Please select the upgrade file!");
    EXPECT_EQ(CheckUpgradeFilePath("/a/fw.Bin"), "Upgrade file is not .bin file!");
    EXPECT_EQ(CheckUpgradeFilePath("/a/fw.bin.txt"), "Upgrade file is not .bin file!");
    EXPECT_EQ(CheckUpgradeFilePath("bin"), "Upgrade file is not .bin file!");
    EXPECT_EQ(CheckUpgradeFilePath("/a/fw.BIN"), "");
    EXPECT_EQ(CheckUpgradeFilePath(".bin"), "");

    test::TempDir tmp;
    const std::string path = tmp.Write("fw.bin", std::string(70000, 'x'));
    EXPECT_EQ(UpgradeImageSize(path), 70000u);
    EXPECT_EQ(UpgradeImageSize(tmp.Path("missing.bin")), 0u);
    EXPECT_EQ(UpgradeImageSize(tmp.Dir()), 0u);
    // A FIFO named like an image must not hang the dialog.
    ASSERT_EQ(::mkfifo(tmp.Path("pipe.bin").c_str(), 0600), 0);
    EXPECT_EQ(UpgradeImageSize(tmp.Path("pipe.bin")), 0u);
    auto [folder, name] = SplitImagePath(path);
    EXPECT_EQ(folder + "/" + name, path);
    EXPECT_EQ(name, "fw.bin");

    auto info = MakeUpgradeImageInfo(name, 70000);
    EXPECT_STREQ(info.file_name, "fw.bin");
    EXPECT_EQ(info.name_len, 6);
    EXPECT_EQ(info.file_size, 70000u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    EXPECT_EQ(bytes[264], 0x70);  // little-endian size at its offset
    EXPECT_EQ(bytes[265], 0x11);
    EXPECT_EQ(bytes[261] | bytes[262] | bytes[263], 0);
}
