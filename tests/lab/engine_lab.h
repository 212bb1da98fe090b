#pragma once
// Fixture for the engine's lab tests: a fresh lab, a real store on a scratch file, a device
// peer in the devices' namespace, and the engine started in the PC namespace with short
// timings so that retransmission and ageing take fractions of a second.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devsim/device_peer.h"
#include "engine/device_protocol.h"
#include "store/sql_management.h"
#include "support/lab.h"
#include "support/lab_devices.h"

namespace fd::test {

using namespace std::chrono_literals;

// Generous: nothing below takes more than a second normally, but a loaded machine may not
// run the engine or the emulated devices for seconds. Only positive waits use it.
constexpr auto kWait = 30000ms;

class EngineLabTest : public LabTest {
protected:
    static constexpr const char* kPc = "198.18.0.1";
    static constexpr int kRetransmissionMax = 3;
    static constexpr int kIntervalMs = 150;

    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        char dir[] = "/tmp/fd-labdb-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dbDir = dir;
        m_store = std::make_unique<CSqlManagement>(m_dbDir + "/data.mdb");
        ASSERT_TRUE(m_store->IsOpen());
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<devsim::DevicePeer>(po);
    }

    void TearDown() override {
        // The engine goes first, while this thread is still in the PC namespace: its Stop()
        // sends the probes from there.
        m_engine.reset();
        m_peer.reset();
        m_store.reset();
        if (!m_dbDir.empty()) std::filesystem::remove_all(m_dbDir);
        LabTest::TearDown();
    }

    // Adds devices 0..n-1 (MakeDevice) and their addresses; the peer is not started.
    std::vector<std::string> AddDevices(int n, int first = 0) {
        return AddLabDevices(m_lab, *m_peer, n, first);
    }

    bool StartPeer() {
        std::string err;
        bool ok = m_peer->Start(&err);
        EXPECT_TRUE(ok) << err;
        return ok;
    }

    bool StartEngine(std::chrono::milliseconds livenessPeriod = 10000ms,
                     int retransmissionMax = kRetransmissionMax, int intervalMs = kIntervalMs) {
        DeviceProtocolOptions o;
        o.store = m_store.get();
        o.livenessPeriod = livenessPeriod;
        o.commands = m_commandLog;
        m_engine = std::make_unique<CDeviceProtocol>(o);
        bool ok = m_engine->Start(retransmissionMax, intervalMs);
        EXPECT_TRUE(ok);
        return ok;
    }

    // Where the engine records the commands it sends; set before StartEngine (null: nowhere).
    CommandLog* m_commandLog = nullptr;

    std::size_t StoredCount() {
        std::vector<std::string> macs;
        m_store->QueryApMacList(macs);
        return macs.size();
    }

    // The rows of the devices that have only answered a search (status 10), in the order
    // they answered.
    ApInfoList DiscoveredRows() {
        ApInfoList all, out;
        int pages = 0, rows = 0;
        m_store->QueryApPage(0, all, pages, rows, 1 << 20, 1, true, "");
        for (const ap_info_stu& rec : all)
            if (rec.ap_status == AP_STATUS_DISCOVERED) out.push_back(rec);
        return out;
    }

    std::optional<ap_info_stu> Row(const std::string& mac) {
        ap_info_stu rec{};
        if (!m_store->QueryApByMac(mac, rec)) return std::nullopt;
        return rec;
    }

    std::optional<PeerEntry> Peer(const std::string& mac) {
        for (const auto& p : m_engine->GetPeers())
            if (mac == p.mac) return p;
        return std::nullopt;
    }

    // A search, then wait until the store holds `count` devices. Like the status page, it
    // searches again while devices are missing: one broadcast is not retransmitted, and on a
    // loaded machine a datagram of the exchange can be lost.
    bool SearchUntilStored(std::size_t count) {
        const auto until = std::chrono::steady_clock::now() + kWait;
        do {
            m_engine->SendSearch();
            if (WaitUntil([&] { return StoredCount() >= count; }, 1000ms)) return true;
        } while (std::chrono::steady_clock::now() < until);
        return false;
    }

    bool PendingEmpty() {
        return WaitUntil([&] { return m_engine->GetPendingRequests().empty(); }, kWait);
    }

    std::string m_dbDir;
    std::unique_ptr<CSqlManagement> m_store;
    std::unique_ptr<devsim::DevicePeer> m_peer;
    std::unique_ptr<CDeviceProtocol> m_engine;
};

}  // namespace fd::test
