// The device peer on its own: plain sockets in the PC namespace play the PC, so that what
// the engine's lab tests rely on (addresses, ports, body sizes, acknowledgements) is known
// to hold independently of the engine.

#include "devsim/device_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/lab.h"

using namespace fd;
using namespace fd::devsim;
using namespace std::chrono_literals;

namespace {

// What the emulated devices owe an answer within: seconds only on a loaded machine, but a
// wait that ends with the answer costs nothing more.
constexpr auto kAnswer = 30000ms;

struct Received {
    std::string fromIp;
    std::vector<uint8_t> bytes;
};

class Socket {
public:
    Socket(const char* ip, uint16_t port) {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, ip, &sa.sin_addr);
        m_ok = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        in_addr local{};
        inet_pton(AF_INET, ip, &local);
        setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local);
    }
    ~Socket() {
        if (m_fd >= 0) close(m_fd);
    }
    bool Ok() const { return m_ok; }
    bool SendTo(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
        return sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(bytes.size());
    }
    // Everything that arrives within the time (or until count datagrams have come).
    std::vector<Received> Collect(std::size_t count, std::chrono::milliseconds within) {
        std::vector<Received> out;
        auto deadline = std::chrono::steady_clock::now() + within;
        while (out.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t buf[2048];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n =
                recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) break;
            char ip[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
            out.push_back({ip, std::vector<uint8_t>(buf, buf + n)});
        }
        return out;
    }

private:
    int m_fd = -1;
    bool m_ok = false;
};

std::vector<uint8_t> PcCommand(uint16_t cmd, const std::string& mac,
                               std::vector<uint8_t> body = {}) {
    uint8_t m[6] = {};
    MacFromText(mac, m);
    return EncodeDatagram(cmd, body, m, 1);
}

class DevicePeerTest : public fd::test::LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        PeerOptions o;
        o.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<DevicePeer>(o);
        std::vector<std::string> ips;
        for (int i = 0; i < 3; ++i) {
            auto dev = MakeDevice(i);
            m_macs.push_back(dev.MacText());
            if (i) ips.push_back(dev.address);
            m_peer->AddDevice(dev);
        }
        ASSERT_TRUE(m_lab.AddDeviceAddresses(ips)) << m_lab.Error();
    }
    void TearDown() override {
        m_peer.reset();
        LabTest::TearDown();
    }

    std::unique_ptr<DevicePeer> m_peer;
    std::vector<std::string> m_macs;
};

}  // namespace

TEST_F(DevicePeerTest, AnswersTheSearchFromEachDevicesOwnAddress) {
    m_peer->UpdateDevice(m_macs[1], [](EmulatedDevice& d) { d.shortBrief = true; });
    m_peer->UpdateDevice(m_macs[2], [](EmulatedDevice& d) { d.answerSearch = false; });
    ASSERT_TRUE(m_peer->Start());
    Socket search("0.0.0.0", kPortSearch), replies("0.0.0.0", kPortSearchReply);
    ASSERT_TRUE(search.Ok() && replies.Ok());

    uint8_t zero[6] = {};
    ASSERT_TRUE(
        search.SendTo("198.18.255.255", kPortSearch, EncodeDatagram(CMD_SEARCH, {}, zero, 0)));
    auto got = replies.Collect(2, kAnswer);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(replies.Collect(1, 300ms).empty());  // and no third
    std::sort(got.begin(), got.end(),
              [](const Received& x, const Received& y) { return x.fromIp < y.fromIp; });
    EXPECT_EQ(got[0].fromIp, "198.18.1.1");
    EXPECT_EQ(got[1].fromIp, "198.18.1.2");
    auto full = DecodeDatagram(got[0].bytes);
    auto brief = DecodeDatagram(got[1].bytes);
    ASSERT_TRUE(full && brief);
    EXPECT_EQ(full->body.size(), sizeof(BriefInfoBody));
    EXPECT_EQ(brief->body.size(), 33u);
    EXPECT_EQ(MacToText(full->header.mac), m_macs[0]);
    EXPECT_EQ(full->header.command, CMD_SEARCH);
    EXPECT_EQ(full->header.ap_type, 1);
    auto b = DecodeBriefInfo(full->body);
    EXPECT_EQ(FieldText(b.ap_name, 32, b.ap_name_len), "Device-0");
    EXPECT_EQ(b.up_time, 1000u);

    // What the peer saw of it.
    auto seen = m_peer->ReceivedCommands(CMD_SEARCH);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].toIp, "198.18.255.255");
    EXPECT_EQ(seen[0].toPort, kPortSearch);
    EXPECT_EQ(seen[0].fromIp, "198.18.0.1");
}

TEST_F(DevicePeerTest, ActsOnMulticastCommandsAddressedToItsMac) {
    m_peer->UpdateDevice(m_macs[1], [](EmulatedDevice& d) {
        d.ackMode = AckMode::FromOtherAddress;
        d.ackAddress = "198.18.1.3";
    });
    m_peer->UpdateDevice(m_macs[2], [](EmulatedDevice& d) { d.ackMode = AckMode::Silent; });
    ASSERT_TRUE(m_peer->Start());
    // The PC's command socket: bound to its adapter address, port 9787, to the group.
    Socket cmd("198.18.0.1", kPortCommand), replies("0.0.0.0", kPortInfo);
    ASSERT_TRUE(cmd.Ok() && replies.Ok());

    // Device info: the 750-byte image, from the device's address.
    ASSERT_TRUE(cmd.SendTo(kMulticastGroup, kPortCommand, PcCommand(CMD_DEVICE_INFO, m_macs[0])));
    auto got = replies.Collect(1, kAnswer);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fromIp, "198.18.1.1");
    auto info = DecodeDatagram(got[0].bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->body.size(), kDeviceInfoBodySize);
    ap_info_stu rec = DecodeDeviceInfo(info->header, info->body);
    EXPECT_EQ(IpToText(rec.ip), "198.18.1.1");
    EXPECT_EQ(FieldText(rec.ssid, 32, rec.ssid_len), "lab-0");

    // Reboot: acknowledged with result 0; by device 1 from another address; device 2 is
    // silent.
    for (const auto& mac : m_macs)
        ASSERT_TRUE(cmd.SendTo(kMulticastGroup, kPortCommand, PcCommand(CMD_REBOOT, mac)));
    got = replies.Collect(2, kAnswer);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(replies.Collect(1, 300ms).empty());  // and no third
    std::sort(got.begin(), got.end(),
              [](const Received& x, const Received& y) { return x.fromIp < y.fromIp; });
    EXPECT_EQ(got[0].fromIp, "198.18.1.1");
    EXPECT_EQ(got[1].fromIp, "198.18.1.3");
    for (const auto& r : got) {
        auto d = DecodeDatagram(r.bytes);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->header.command, CMD_REBOOT);
        EXPECT_EQ(d->body, std::vector<uint8_t>{0});
    }
    EXPECT_EQ(m_peer->CountCommand(CMD_REBOOT), 3u);
    for (const auto& d : m_peer->ReceivedCommands(CMD_REBOOT)) {
        EXPECT_EQ(d.toIp, kMulticastGroup);
        EXPECT_EQ(d.fromIp, "198.18.0.1");
    }

    // A name change without result byte is applied and acknowledged with an empty body.
    DeviceNameBlock name{};
    SetFieldText(name.ap_name, 32, name.ap_name_len, "new-name");
    auto nb = BytesOf(name);
    ASSERT_TRUE(cmd.SendTo(kMulticastGroup, kPortCommand,
                           PcCommand(CMD_SET_NAME, m_macs[0], {nb.begin(), nb.end()})));
    got = replies.Collect(1, kAnswer);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes.size(), kHeaderSize);
    auto dev = m_peer->GetDevice(m_macs[0]);
    EXPECT_EQ(FieldText(dev->info.ap_name, 32, dev->info.ap_name_len), "new-name");

    // A command to a mac no device has is only recorded.
    ASSERT_TRUE(
        cmd.SendTo(kMulticastGroup, kPortCommand, PcCommand(CMD_REBOOT, "02:00:00:00:00:99")));
    EXPECT_TRUE(replies.Collect(1, 300ms).empty());
    EXPECT_TRUE(m_peer->WaitForCommand(CMD_REBOOT, "02:00:00:00:00:99", 1, kAnswer));
}

TEST_F(DevicePeerTest, SendsOnDemandAndRecordsWhatIsNoDatagram) {
    ASSERT_TRUE(m_peer->Start());
    Socket keepalives("0.0.0.0", kPortKeepalive), replies("0.0.0.0", kPortInfo);
    Socket cmd("198.18.0.1", 0);
    ASSERT_TRUE(keepalives.Ok() && replies.Ok() && cmd.Ok());

    m_peer->UpdateDevice(m_macs[2], [](EmulatedDevice& d) { d.info.up_time = 99; });
    ASSERT_TRUE(m_peer->SendKeepalive(m_macs[2]));
    auto got = keepalives.Collect(1, kAnswer);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fromIp, "198.18.1.3");
    auto k = DecodeDatagram(got[0].bytes);
    ASSERT_TRUE(k);
    EXPECT_EQ(k->header.command, CMD_KEEPALIVE);
    EXPECT_EQ(DecodeKeepalive(k->body).up_time, 99u);

    // Scan packets go out in the order asked for.
    std::vector<config_otherwl_basic> aps;
    for (int i = 0; i < 40; ++i) aps.push_back(MakeNeighbour(i));
    auto bodies = ScanBodiesFor(aps);
    ASSERT_EQ(bodies.size(), 2u);
    ASSERT_TRUE(m_peer->SendScanResult(m_macs[0], bodies[1], "198.18.0.1"));
    ASSERT_TRUE(m_peer->SendScanResult(m_macs[0], bodies[0], "198.18.0.1"));
    got = replies.Collect(2, kAnswer);
    ASSERT_EQ(got.size(), 2u);
    auto first = DecodeScanResult(DecodeDatagram(got[0].bytes)->body);
    auto second = DecodeScanResult(DecodeDatagram(got[1].bytes)->body);
    EXPECT_EQ(first.packet_id, 1);
    EXPECT_EQ(first.entries.size(), 9u);
    EXPECT_EQ(second.packet_id, 0);
    EXPECT_EQ(second.packet_count, 2);
    EXPECT_EQ(second.entries.size(), 31u);

    // Rubbish is recorded too, undecoded, with where it came from.
    ASSERT_TRUE(cmd.SendTo(kMulticastGroup, kPortCommand, std::vector<uint8_t>(15, 0x86)));
    ASSERT_TRUE(m_peer->WaitFor(
        [](const std::vector<PeerDatagram>& all) {
            return !all.empty() && all.back().bytes.size() == 15 && !all.back().decoded;
        },
        kAnswer));
    EXPECT_EQ(m_peer->Received().back().fromIp, "198.18.0.1");
}
