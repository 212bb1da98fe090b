// The engine's transport on its own: its queues under more than they hold, its sockets over
// loopback (filter, hand-on, a prompt Close) and receiving threads whose system calls fail.
// The socket tests run only inside a network namespace of the project's.

#include "engine/transport.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "core/engine_fakes.h"
#include "engine/udp_socket.h"

using namespace fd;
using namespace fd::test;
using namespace std::chrono_literals;

namespace {

// A stop wakes the receiving threads at once; one that waited for a datagram that never
// comes would not end at all. The bound only has to tell the two apart on a loaded machine.
constexpr auto kPromptStop = std::chrono::seconds(10);

const std::string kMac = "00:11:22:33:44:55";

// What the workers handed on, per port, in order.
struct Received {
    mutable std::mutex m;
    std::vector<std::pair<ListenPort, ReceivedDatagram>> items;
    std::size_t batches = 0;

    DatagramHandler Handler() {
        return [this](ListenPort port, std::span<const ReceivedDatagram> batch, std::stop_token) {
            std::lock_guard l(m);
            ++batches;
            for (const ReceivedDatagram& dg : batch) items.emplace_back(port, dg);
            return batch.size();
        };
    }
    std::size_t Count() const {
        std::lock_guard l(m);
        return items.size();
    }
};

TransportOptions NoSockets(Received& received) {
    TransportOptions o;
    o.openSockets = false;
    o.sendHook = [](const OutgoingDatagram&) { return true; };
    o.onDatagrams = received.Handler();
    return o;
}

TEST(TransportQueues, OneWakeUpHandsOnEverythingAndAFullQueueDropsAndCounts) {
    Received received;
    TransportOptions o = NoSockets(received);
    o.queueCapacity = 64;
    Transport transport(o);  // not opened: nothing drains but ProcessQueue
    int accepted = 0;
    for (int i = 0; i < 1000; ++i)
        accepted += transport.Inject(PORT_REPLY, DeviceDatagram(CMD_REBOOT, kMac), "198.18.1.1");
    EXPECT_EQ(accepted, 64);
    EXPECT_EQ(transport.Stats().overflow[PORT_REPLY], 1000u - 64u);
    EXPECT_EQ(transport.Stats().queuePeak[PORT_REPLY], 64u);

    EXPECT_EQ(transport.ProcessQueue(PORT_REPLY), 64u);
    EXPECT_EQ(received.batches, 1u);
    EXPECT_EQ(transport.QueueSize(PORT_REPLY), 0u);
    EXPECT_EQ(transport.Stats().handled[PORT_REPLY], 64u);
    EXPECT_STREQ(IpToText(received.items[0].second.fromIp).c_str(), "198.18.1.1");
    // A datagram for another port's filter is refused and counted there.
    EXPECT_FALSE(transport.Inject(PORT_SEARCH_REPLY, DeviceDatagram(CMD_KEEPALIVE, kMac), "1.2.3.4"));
    EXPECT_EQ(transport.Stats().filtered[PORT_SEARCH_REPLY], 1u);
}

TEST(TransportQueues, CommandsLeaveThroughTheAdapterWhoseSubnetHoldsTheDevice) {
    Received received;
    TransportOptions o = NoSockets(received);
    std::vector<OutgoingDatagram> sent;
    o.sendHook = [&sent](const OutgoingDatagram& d) {
        sent.push_back(d);
        return true;
    };
    o.adapterSource = [] {
        return std::vector{MakeAdapter({{"198.18.0.1", "255.255.255.0"}}),
                           MakeAdapter({{"198.19.0.1", "255.255.0.0"}, {"198.18.5.1", "255.255.255.0"}})};
    };
    Transport transport(o);
    std::vector<LocalAdapterInfo> usable;
    transport.ReadAdapters(usable);
    bool flagged = false;
    EXPECT_EQ(transport.SendToGroup("198.18.5.77", {1, 2}, [&] { flagged = true; }),
              Transport::SendResult::Sent);
    EXPECT_TRUE(flagged);
    EXPECT_EQ(transport.SendToGroup("10.0.0.1", {1, 2}, [&] { flagged = false; }),
              Transport::SendResult::NoAdapter);
    EXPECT_TRUE(flagged);  // nothing chosen, nothing run
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].localIp, "198.18.5.1");  // the second address of the second adapter
    EXPECT_EQ(sent[0].destIp, kMulticastGroup);

    sent.clear();
    transport.Broadcast({9});
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].destIp, "198.18.0.255");
    EXPECT_EQ(sent[1].destIp, "198.19.255.255");
    EXPECT_EQ(sent[2].destIp, "198.18.5.255");
}

// True when this process runs in a network namespace with nothing but loopback, as the
// test command and the lab make; a developer's own namespace always has more.
bool InIsolatedNamespace() {
    const char* lab = std::getenv("FD_IN_LAB");
    if (lab && std::string(lab) == "1") return true;
    struct if_nameindex* names = if_nameindex();
    if (!names) return false;
    bool onlyLoopback = true;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n)
        if (std::string(n->if_name) != "lo") onlyLoopback = false;
    if_freenameindex(names);
    return onlyLoopback;
}

TEST(TransportSockets, ReceivesOverLoopbackFiltersAndClosesPromptly) {
    if (!InIsolatedNamespace())
        GTEST_SKIP() << "opens the engine's sockets: runs only in an isolated network namespace";
    Received received;
    TransportOptions o = NoSockets(received);
    o.openSockets = true;
    Transport transport(o);
    ASSERT_TRUE(transport.Open());
    EXPECT_GT(transport.Stats().replyReceiveBuffer, 1 << 20);

    int sock = OpenUdpSocket("127.0.0.1", 0, false, false, 1 << 16);
    ASSERT_GE(sock, 0);
    std::vector<uint8_t> search = DeviceDatagram(CMD_SEARCH, kMac, BriefBody("V", "n"));
    std::vector<uint8_t> bad(1500, 0);
    std::memcpy(bad.data(), search.data(), 16);
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortSearchReply, bad));        // too big
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortSearchReply, {1, 2, 3}));  // too short
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortSearchReply, search));
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortInfo, DeviceDatagram(CMD_REBOOT, kMac)));
    close(sock);

    ASSERT_TRUE(WaitFor([&] { return received.Count() == 2; }));
    {
        std::lock_guard l(received.m);
        for (const auto& [port, dg] : received.items) {
            EXPECT_EQ(IpToText(dg.fromIp), "127.0.0.1");
            EXPECT_EQ(dg.length, port == PORT_SEARCH_REPLY ? search.size() : 16u);
        }
    }
    EXPECT_EQ(transport.Stats().filtered[PORT_SEARCH_REPLY], 2u);

    auto t0 = std::chrono::steady_clock::now();
    transport.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, kPromptStop);
}

TEST(TransportSockets, ReceiveErrorsAreCountedAndTheLoopGoesOn) {
    if (!InIsolatedNamespace())
        GTEST_SKIP() << "opens the engine's sockets: runs only in an isolated network namespace";
    Received received;
    TransportOptions o = NoSockets(received);
    o.openSockets = true;
    // The reply port's thread: its poll() fails with EIO for 300 ms, then its first
    // recvfrom() fails with ENOMEM. The other ports are left alone.
    const auto failUntil = std::chrono::steady_clock::now() + 300ms;
    std::atomic<int> failedPolls{0}, failedRecvs{0};
    auto isReplySocket = [](int fd) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        return getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
               ntohs(a.sin_port) == kPortInfo;
    };
    o.receiveCalls.poll = [&](pollfd* fds, nfds_t n, int timeout) {
        if (isReplySocket(fds[0].fd) && std::chrono::steady_clock::now() < failUntil) {
            ++failedPolls;
            errno = EIO;
            return -1;
        }
        return poll(fds, n, timeout);
    };
    o.receiveCalls.recvfrom = [&](int fd, void* buf, std::size_t size, int flags, sockaddr* from,
                                  socklen_t* len) -> ssize_t {
        if (isReplySocket(fd) && failedRecvs == 0) {
            ++failedRecvs;
            errno = ENOMEM;
            return -1;
        }
        return recvfrom(fd, buf, size, flags, from, len);
    };
    Transport transport(o);
    ASSERT_TRUE(transport.Open());

    int sock = OpenUdpSocket("127.0.0.1", 0, false, false, 1 << 16);
    ASSERT_GE(sock, 0);
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortInfo, DeviceDatagram(CMD_REBOOT, kMac)));
    // The datagram that was waiting while recvfrom() failed is read on the next wake-up,
    // and later ones as usual.
    ASSERT_TRUE(WaitFor([&] { return received.Count() == 1; }, 5s));
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortInfo, DeviceDatagram(CMD_RESET, kMac)));
    ASSERT_TRUE(WaitFor([&] { return received.Count() == 2; }, 5s));
    close(sock);

    const EngineStats s = transport.Stats();
    EXPECT_EQ(s.errors[PORT_REPLY], std::size_t(failedPolls + failedRecvs));
    EXPECT_EQ(failedRecvs, 1);
    // Waited out, not spun on: backing off from 2 ms to 100 ms allows about a dozen tries in
    // 300 ms, a busy loop millions.
    EXPECT_GE(failedPolls, 2);
    EXPECT_LE(failedPolls, 40);
    EXPECT_EQ(s.errors[PORT_SEARCH_REPLY], 0u);

    auto t0 = std::chrono::steady_clock::now();
    transport.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, kPromptStop);
}

}  // namespace
