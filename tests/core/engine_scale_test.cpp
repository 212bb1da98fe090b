// The engine with tens of thousands of devices, driven directly (no thread, no socket):
// the cost of each answer must not grow with the number of commands in flight.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "core/engine_fakes.h"

using namespace fd;
using namespace fd::test;

namespace {

std::string NthMac(int n) {
    const uint8_t mac[6] = {0x02, 0xfd, 0, static_cast<uint8_t>(n >> 16),
                            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    return MacToText(mac);
}

std::string NthIp(int n) {
    return "198.18." + std::to_string(1 + n / 250) + "." + std::to_string(1 + n % 250);
}

}  // namespace

TEST(EngineScale, TwentyThousandAnswersEndTheirCommandsWithoutQuadraticCost) {
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o;
    o.store = &store;
    o.sendHook = sent.Hook();
    o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.254.0.0"}})}; };
    o.openSockets = false;
    o.queueCapacity = 1 << 16;
    CDeviceProtocol engine(o);
    std::vector<LocalAdapterInfo> list;
    engine.ReadLocalAdapters(list);

    constexpr int kDevices = 20000;
    uint8_t block[sizeof(DeviceNameBlock)] = {};
    auto sendStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kDevices; ++i)
        ASSERT_TRUE(engine.SendToDevice(NthIp(i), CMD_SET_NAME, block, sizeof block, NthMac(i),
                                        true));
    // The sending is linear whatever the list; it calibrates the bound below for a slow
    // machine or a sanitizer build.
    auto sending = std::chrono::steady_clock::now() - sendStart;
    ASSERT_EQ(engine.GetPendingRequests().size(), std::size_t(kDevices));

    // The answers arrive oldest and newest alternately: a list searched from the front is
    // walked to its end for half of them, and a packed list shifts every record behind the
    // other half. Both are quadratic in the commands in flight; an index is not.
    auto start = std::chrono::steady_clock::now();
    for (int lo = 0, hi = kDevices - 1; lo <= hi; ++lo, --hi) {
        for (int i : {lo, hi}) {
            engine.InjectDatagram(CDeviceProtocol::PORT_REPLY,
                                  DeviceDatagram(CMD_SET_NAME, NthMac(i)), NthIp(i));
            if (lo == hi) break;
        }
        if (lo % 512 == 0) engine.ProcessQueue(CDeviceProtocol::PORT_REPLY);
    }
    engine.ProcessQueue(CDeviceProtocol::PORT_REPLY);
    auto took = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(engine.GetPendingRequests().empty());
    EXPECT_EQ(engine.GetStats().handled[CDeviceProtocol::PORT_REPLY], std::size_t(kDevices));
    // A bound, not a measurement: answering costs a few times what sending cost, where a
    // quadratic list needs over a hundred times as long (tens of seconds in a plain build).
    const auto bound = std::max<std::chrono::steady_clock::duration>(std::chrono::seconds(4),
                                                                     10 * sending);
    EXPECT_LT(took, bound) << "sending took "
                           << std::chrono::duration_cast<std::chrono::milliseconds>(sending).count()
                           << " ms, answering "
                           << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                           << " ms";

    // Nothing was left to retransmit.
    sent.Clear();
    engine.RetransmitPending();
    EXPECT_TRUE(sent.All().empty());
}

TEST(EngineScale, DuplicateCommandsEndOldestFirstAndUnsentOnesAreTakenBack) {
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o;
    o.store = &store;
    o.sendHook = sent.Hook();
    o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
    o.openSockets = false;
    o.retransmissionMax = 5;
    CDeviceProtocol engine(o);
    std::vector<LocalAdapterInfo> list;
    engine.ReadLocalAdapters(list);

    const std::string mac = NthMac(1), ip = NthIp(1);
    uint8_t first = 1, second = 2;
    ASSERT_TRUE(engine.SendToDevice(ip, CMD_SET_VLAN, &first, 1, mac, true));
    engine.RetransmitPending();  // the first has one retry less now
    ASSERT_TRUE(engine.SendToDevice(ip, CMD_SET_VLAN, &second, 1, mac, true));
    // A third copy that cannot be sent takes back itself, not one of the two in flight.
    sent.succeed = false;
    EXPECT_FALSE(engine.SendToDevice(ip, CMD_SET_VLAN, &second, 1, mac, true));
    sent.succeed = true;
    auto pending = engine.GetPendingRequests();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].body[0], 1);
    EXPECT_EQ(pending[0].retries_left, 4);
    EXPECT_EQ(pending[1].retries_left, 5);

    // One answer ends the older one; the newer one is still retried.
    engine.InjectDatagram(CDeviceProtocol::PORT_REPLY, DeviceDatagram(CMD_SET_VLAN, mac, {0}), ip);
    engine.ProcessQueue(CDeviceProtocol::PORT_REPLY);
    pending = engine.GetPendingRequests();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].body[0], 2);
    for (int i = 0; i < 10; ++i) engine.RetransmitPending();
    EXPECT_TRUE(engine.GetPendingRequests().empty());
    // The older one and its one retry, the attempt that failed, the newer one and its five.
    EXPECT_EQ(sent.WithCommand(CMD_SET_VLAN).size(), 2u + 1u + 6u);
}
