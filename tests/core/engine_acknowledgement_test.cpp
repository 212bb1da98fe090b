// The engine records in the command log which pending requests a device answered, so that a
// caller can tell an answer from a refusal and from retries running out.

#include <gtest/gtest.h>

#include <memory>

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
    CommandLog log;
    std::unique_ptr<CDeviceProtocol> engine;

    void SetUp() override {
        DeviceProtocolOptions o;
        o.store = &store;
        o.sendHook = sent.Hook();
        o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
        o.openSockets = false;
        o.retransmissionMax = 2;
        o.commands = &log;
        engine = std::make_unique<CDeviceProtocol>(o);
        std::vector<LocalAdapterInfo> list;
        engine->ReadLocalAdapters(list);
    }
    void Reply(int command, const std::string& mac, const std::string& ip,
               std::vector<uint8_t> body = {}) {
        engine->InjectDatagram(CDeviceProtocol::PORT_REPLY, DeviceDatagram(command, mac, body), ip);
        engine->ProcessQueue(CDeviceProtocol::PORT_REPLY);
    }
    std::vector<CommandState> States() const {
        std::vector<CommandState> out;
        for (const CommandRecord& r : log.All()) out.push_back(r.state);
        return out;
    }
};

}  // namespace

TEST_F(EngineAcknowledgement, OnlyAnswersThatEndAPendingRequestAreRecorded) {
    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_REBOOT, nullptr, 0, kMac, true));
    Reply(CMD_REBOOT, kMac, "198.18.1.99");  // wrong source: not the request's answer
    Reply(CMD_RESET, kMac, kIp);             // nothing pending for this command
    EXPECT_EQ(States(), std::vector{CommandState::Sent});

    Reply(CMD_REBOOT, kMac, kIp);
    const auto records = log.Commands(kMac);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].state, CommandState::Acknowledged);
    EXPECT_EQ(records[0].ip, kIp);
    EXPECT_EQ(records[0].command, CMD_REBOOT);
    EXPECT_TRUE(records[0].answeredAt.has_value());
    EXPECT_EQ(store.Statuses().back().status, AP_STATUS_RESTARTING);

    // A repeated answer finds nothing pending any more.
    Reply(CMD_REBOOT, kMac, kIp);
    EXPECT_EQ(States(), std::vector{CommandState::Acknowledged});
}

TEST_F(EngineAcknowledgement, RefusalsCarryTheirResultAndRetriesRunningOutAreNoAnswer) {
    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_RESET, nullptr, 0, kMac, true));
    Reply(CMD_RESET, kMac, kIp, {1});
    ASSERT_EQ(log.All().size(), 1u);
    EXPECT_EQ(log.All()[0].state, CommandState::Refused);
    EXPECT_EQ(log.All()[0].result, 1);

    ASSERT_TRUE(engine->SendToDevice(kIp, CMD_SET_NAME, "x", 1, kMac, true));
    for (int i = 0; i < 5; ++i) engine->RetransmitPending();
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    EXPECT_EQ(States(), (std::vector{CommandState::Refused, CommandState::NoAnswer}));
}

TEST(EngineAcknowledgementRace, AnAnswerFasterThanTheSendReturnsStillCounts) {
    // The device answers while the engine is still inside the send, as one on the same
    // segment can. The answer must end the request: no retransmission follows.
    FakeStore store;
    std::unique_ptr<CDeviceProtocol> engine;
    CommandLog log;
    int sends = 0;
    bool answerInstantly = true;
    DeviceProtocolOptions o;
    o.store = &store;
    o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
    o.openSockets = false;
    o.commands = &log;
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
    ASSERT_EQ(log.All().size(), 1u);
    EXPECT_EQ(log.All()[0].state, CommandState::Acknowledged);
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    engine->RetransmitPending();
    EXPECT_EQ(sends, 1);

    // A command that cannot be sent leaves nothing pending.
    answerInstantly = false;
    EXPECT_FALSE(engine->SendToDevice("10.9.9.9", CMD_REBOOT, nullptr, 0, kMac, true));
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    EXPECT_EQ(log.All().back().state, CommandState::NotSent);
}
