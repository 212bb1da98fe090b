// The engine tells its owner which pending requests a device answered, so that a caller
// can tell an answer from retries running out.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "core/engine_fakes.h"

using namespace fd;
using namespace fd::test;

namespace {

const std::string kMac = "00:11:22:33:44:01";
const std::string kIp = "198.18.1.1";

class EngineAcknowledgement : public ::testing::Test {
protected:
    FakeStore store;
    Recorder sent;
    std::mutex m;
    std::vector<Acknowledgement> acks;
    std::vector<int> statusesSeenAtAck;  // the store's latest status change at each answer
    std::unique_ptr<CDeviceProtocol> engine;

    void SetUp() override {
        DeviceProtocolOptions o;
        o.store = &store;
        o.sendHook = sent.Hook();
        o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
        o.openSockets = false;
        o.retransmissionMax = 2;
        o.onAcknowledged = [this](const Acknowledgement& a) {
            std::lock_guard l(m);
            acks.push_back(a);
            auto st = store.Statuses();
            statusesSeenAtAck.push_back(st.empty() ? -1 : st.back().status);
        };
        engine = std::make_unique<CDeviceProtocol>(o);
        std::vector<LocalAdapterInfo> list;
        engine->ReadLocalAdapters(list);
    }
    void Reply(int command, const std::string& mac, const std::string& ip,
               std::vector<uint8_t> body = {}) {
        engine->InjectDatagram(CDeviceProtocol::PORT_REPLY, DeviceDatagram(command, mac, body), ip);
        engine->ProcessQueue(CDeviceProtocol::PORT_REPLY);
    }
};

}  // namespace

TEST_F(EngineAcknowledgement, OnlyAnswersThatEndAPendingRequestAreReported) {
    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_REBOOT, nullptr, 0, kMac, true));
    Reply(CMD_REBOOT, kMac, "198.18.1.99");  // wrong source: not the request's answer
    Reply(CMD_RESET, kMac, kIp);             // nothing pending for this command
    EXPECT_TRUE(acks.empty());

    Reply(CMD_REBOOT, kMac, kIp);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].mac, kMac);
    EXPECT_EQ(acks[0].ip, kIp);
    EXPECT_EQ(acks[0].command, CMD_REBOOT);
    EXPECT_EQ(acks[0].result, 0);
    // The store had the new status before the owner heard of the answer.
    EXPECT_EQ(statusesSeenAtAck[0], AP_STATUS_RESTARTING);

    // A repeated answer finds nothing pending any more.
    Reply(CMD_REBOOT, kMac, kIp);
    EXPECT_EQ(acks.size(), 1u);
}

TEST_F(EngineAcknowledgement, RefusalsCarryTheirResultAndRetriesRunningOutAreSilent) {
    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_RESET, nullptr, 0, kMac, true));
    Reply(CMD_RESET, kMac, kIp, {1});
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].result, 1);

    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_SET_NAME, "x", 1, kMac, true));
    for (int i = 0; i < 5; ++i) engine->RetransmitPending();
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    EXPECT_EQ(acks.size(), 1u);
}

TEST(EngineAcknowledgementRace, AnAnswerFasterThanTheSendReturnsStillCounts) {
    // The device answers while the engine is still inside the send, as one on the same
    // segment can. The answer must end the request: no retransmission follows.
    FakeStore store;
    std::unique_ptr<CDeviceProtocol> engine;
    int sends = 0, acks = 0;
    bool answerInstantly = true;
    DeviceProtocolOptions o;
    o.store = &store;
    o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
    o.openSockets = false;
    o.onAcknowledged = [&](const Acknowledgement&) { ++acks; };
    o.sendHook = [&](const OutgoingDatagram& out) {
        ++sends;
        PacketHeader h;
        std::memcpy(&h, out.bytes.data(), sizeof h);
        if (answerInstantly)
            engine->HandleReply(MakeReceivedDatagram(DeviceDatagram(h.command, kMac), kIp));
        return true;
    };
    engine = std::make_unique<CDeviceProtocol>(o);
    std::vector<LocalAdapterInfo> list;
    engine->ReadLocalAdapters(list);

    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_SET_IP, "0123456789012345678901", 22, kMac, true));
    EXPECT_EQ(acks, 1);
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    engine->RetransmitPending();
    EXPECT_EQ(sends, 1);

    // A command that cannot be sent leaves nothing pending.
    answerInstantly = false;
    EXPECT_FALSE(engine->SendToDevice("10.9.9.9", CMD_REBOOT, nullptr, 0, kMac, true));
    EXPECT_TRUE(engine->GetPendingRequests().empty());
}
