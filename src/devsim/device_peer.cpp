#include "devsim/device_peer.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>

#include "system/network_namespace.h"

namespace fd::devsim {

namespace {

bool ToAddr(const std::string& ip, in_addr& out) {
    const auto value = ParseIpv4(ip);
    if (value) out.s_addr = htonl(*value);
    return value.has_value();
}

std::string AddrText(in_addr a) {
    return Ipv4ToText(ntohl(a.s_addr));
}

int OpenUdp(uint16_t port, std::string& error) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    int buf = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
    // One thread answers for every device: a search of ten thousand brings twenty thousand
    // commands within milliseconds. Past net.core.rmem_max where the process may.
    int receive = 32 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receive, sizeof receive) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = "bind port " + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

DevicePeer::DevicePeer(PeerOptions options)
    : m_options(std::move(options)), m_autoRespond(m_options.autoRespond) {
    m_dice.seed(m_options.seed);
}

DevicePeer::~DevicePeer() {
    Stop();
}

bool DevicePeer::Start(std::string* error) {
    Stop();
    // The sockets are opened on the peer's own thread, inside the devices' namespace, so
    // the caller's namespace is never touched.
    std::promise<std::string> opened;
    auto result = opened.get_future();
    m_thread = std::jthread([this, &opened](std::stop_token st) {
        std::string err;
        if (!m_options.netns.empty() && !EnterNetworkNamespace(m_options.netns, &err)) {
            opened.set_value(err);
            return;
        }
        if (!OpenSockets(err)) {
            CloseSockets();
            opened.set_value(err);
            return;
        }
        opened.set_value({});
        Run(st);
    });
    std::string err = result.get();
    if (!err.empty()) {
        m_thread.join();
        if (error) *error = err;
        return false;
    }
    return true;
}

void DevicePeer::Stop() {
    if (!m_thread.joinable()) return;
    m_thread.request_stop();
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
    }
    m_thread.join();
    StopUpgradeFetches();
    CloseSockets();
}

bool DevicePeer::OpenSockets(std::string& error) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    if ((m_searchFd = OpenUdp(kPortSearch, error)) < 0) return false;
    if ((m_commandFd = OpenUdp(kPortCommand, error)) < 0) return false;
    if ((m_sendFd = OpenUdp(0, error)) < 0) return false;

    std::vector<unsigned> ifindexes;
    if (m_options.joinInterfaces.empty()) {
        if (struct if_nameindex* list = if_nameindex()) {
            for (struct if_nameindex* i = list; i->if_index != 0; ++i)
                if (std::strcmp(i->if_name, "lo") != 0) ifindexes.push_back(i->if_index);
            if_freenameindex(list);
        }
    } else {
        for (const auto& name : m_options.joinInterfaces) {
            unsigned idx = if_nametoindex(name.c_str());
            if (idx == 0) {
                error = "no interface " + name;
                return false;
            }
            ifindexes.push_back(idx);
        }
    }
    for (unsigned idx : ifindexes) {
        ip_mreqn mreq{};
        ToAddr(kMulticastGroup, mreq.imr_multiaddr);
        mreq.imr_ifindex = static_cast<int>(idx);
        if (setsockopt(m_commandFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
            error = std::string("join group: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void DevicePeer::CloseSockets() {
    for (int* fd : {&m_searchFd, &m_commandFd, &m_sendFd, &m_wakeFd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void DevicePeer::Run(std::stop_token st) {
    while (!st.stop_requested()) {
        int wait = SendDue();
        pollfd fds[3] = {{m_searchFd, POLLIN, 0}, {m_commandFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        int n = poll(fds, 3, wait);
        if (n < 0 && errno != EINTR) break;
        if (n <= 0) continue;
        if (fds[0].revents & POLLIN) ReceiveOne(m_searchFd, kPortSearch);
        if (fds[1].revents & POLLIN) ReceiveOne(m_commandFd, kPortCommand);
    }
}

int DevicePeer::SendDue() {
    auto now = std::chrono::steady_clock::now();
    while (!m_delayed.empty() && m_delayed.top().due <= now) {
        const Delayed& d = m_delayed.top();
        SendFrom(d.fromIp, d.toIp, d.port, d.bytes);
        m_delayed.pop();
    }
    if (m_delayed.empty()) return 500;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(m_delayed.top().due - now).count();
    return static_cast<int>(std::clamp<int64_t>(left, 1, 500));
}

void DevicePeer::ReceiveOne(int fd, uint16_t port) {
    uint8_t buf[2048];
    sockaddr_in from{};
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t len = recvmsg(fd, &msg, MSG_DONTWAIT);
    if (len < 0) return;

    PeerDatagram dg;
    dg.at = std::chrono::steady_clock::now();
    dg.fromIp = AddrText(from.sin_addr);
    dg.fromPort = ntohs(from.sin_port);
    dg.toPort = port;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            dg.toIp = AddrText(info.ipi_addr);
            dg.ifindex = info.ipi_ifindex;
        }
    }
    dg.bytes.assign(buf, buf + len);
    dg.decoded = DecodeDatagram(dg.bytes);
    if (m_observer) m_observer(dg);
    // Recorded before it is answered: whoever sees the answer can rely on finding the
    // datagram that caused it in the record.
    const bool respond = m_autoRespond && dg.decoded;
    Record(respond ? PeerDatagram(dg) : std::move(dg));
    if (respond) Respond(dg);
}

void DevicePeer::Record(PeerDatagram&& dg) {
    {
        std::lock_guard lock(m_recvLock);
        // Past the limit the older half goes, so a flood costs no quadratic copying.
        if (m_options.recordLimit > 0 && m_received.size() >= m_options.recordLimit)
            m_received.erase(
                m_received.begin(),
                m_received.begin() + static_cast<std::ptrdiff_t>((m_received.size() + 1) / 2));
        if (dg.toPort == kPortSearch && dg.Command() == CMD_SEARCH) m_lastSearcher = dg.fromIp;
        m_received.push_back(std::move(dg));
    }
    m_recvCond.notify_all();
}

bool DevicePeer::Dropped(const EmulatedDevice& dev) {
    if (dev.dropRate <= 0) return false;
    if (std::uniform_real_distribution<double>(0, 1)(m_dice) >= dev.dropRate) return false;
    std::lock_guard lock(m_countLock);
    ++m_counters.dropped;
    return true;
}

void DevicePeer::Emit(const EmulatedDevice& dev, uint16_t command, std::span<const uint8_t> body,
                      const std::string& toIp, uint16_t port, const std::string& fromIp) {
    uint8_t mac[6];
    MacFromText(dev.info.mac, mac);
    std::vector<std::vector<uint8_t>> out;
    if (dev.malformed) out.push_back(MalformedDatagram(dev, m_malformedTurn++));
    out.push_back(EncodeDatagram(command, body, mac, 0, dev.info.ap_type));
    {
        std::lock_guard lock(m_countLock);
        if (dev.malformed) ++m_counters.malformed;
        switch (command) {
            case CMD_SEARCH:
                ++m_counters.briefInfo;
                break;
            case CMD_DEVICE_INFO:
                ++m_counters.deviceInfo;
                break;
            case CMD_SCAN:
                ++m_counters.scans;
                break;
            default:
                ++m_counters.acks;
                break;
        }
    }
    for (auto& bytes : out) {
        if (dev.replyDelay.count() > 0)
            m_delayed.push({std::chrono::steady_clock::now() + dev.replyDelay, m_delayedOrder++,
                            fromIp, toIp, port, std::move(bytes)});
        else
            SendFrom(fromIp, toIp, port, bytes);
    }
}

void DevicePeer::RespondToSearch(const PeerDatagram& dg) {
    auto now = std::chrono::steady_clock::now();
    // Under the lock, so that thousands of devices are not copied for one search.
    std::lock_guard lock(m_devLock);
    for (const auto& [mac, dev] : m_devices) {
        if (!dev.answerSearch) continue;
        if (dev.Silent(now)) {
            std::lock_guard count(m_countLock);
            ++m_counters.ignored;
            continue;
        }
        if (Dropped(dev)) continue;
        Emit(dev, CMD_SEARCH, BriefInfoBodyOf(dev), dg.fromIp, kPortSearchReply, dev.address);
    }
}

void DevicePeer::Respond(const PeerDatagram& dg) {
    const PacketHeader& h = dg.decoded->header;
    const std::vector<uint8_t>& body = dg.decoded->body;

    if (dg.toPort == kPortSearch) {
        if (h.command == CMD_SEARCH) RespondToSearch(dg);
        return;
    }

    // A command: the device whose mac is in the header acts on it.
    std::string mac = MacToText(h.mac);
    auto now = std::chrono::steady_clock::now();
    EmulatedDevice dev;
    std::optional<std::string> movedTo;
    {
        std::lock_guard lock(m_devLock);
        auto it = m_devices.find(mac);
        if (it == m_devices.end()) return;
        if (it->second.Silent(now)) {
            std::lock_guard count(m_countLock);
            ++m_counters.ignored;
            return;
        }
        if (Dropped(it->second)) return;
        if (h.command != CMD_SEARCH && h.command != CMD_DEVICE_INFO && h.command != CMD_SCAN &&
            h.command != CMD_KEEPALIVE && h.command != CMD_PROBE)
            movedTo = ApplyCommand(it->second, h.command, body);
        dev = it->second;
    }

    switch (h.command) {
        case CMD_SEARCH:     // the PC's answer to a search reply
        case CMD_KEEPALIVE:  // its answer to a keepalive
        case CMD_PROBE:
            return;
        case CMD_DEVICE_INFO:
            if (dev.answerInfo)
                Emit(dev, CMD_DEVICE_INFO, DeviceInfoBodyOf(dev), dg.fromIp, kPortInfo,
                     dev.address);
            return;
        case CMD_SCAN:
            for (const auto& scan : dev.scanBodies)
                Emit(dev, CMD_SCAN, scan, dg.fromIp, kPortInfo, dev.address);
            return;
        default:
            break;
    }

    // A device that took a new address answers from it from now on; it has moved by the time
    // its acknowledgement (still from the old address, as `dev` has it) can reach the PC, so
    // whoever sees the acknowledgement finds it at the new one.
    if (movedTo) {
        if (m_options.onAddressChange) m_options.onAddressChange(*movedTo);
        UpdateDevice(mac, [&](EmulatedDevice& d) { d.address = *movedTo; });
    }
    std::optional<uint8_t> result = AckResultFor(dev, h.command);
    if (dev.ackMode != AckMode::Silent) {
        std::string from = dev.ackMode == AckMode::FromOtherAddress ? dev.ackAddress : dev.address;
        std::vector<uint8_t> ackBody;
        if (result) ackBody.push_back(*result);
        Emit(dev, h.command, ackBody, dg.fromIp, kPortInfo, from);
    }
    // A reboot, reset or VLAN change that it accepted takes it off the air for a while; its
    // clock starts again from zero.
    bool restarts = (h.command == CMD_REBOOT || h.command == CMD_RESET ||
                     h.command == CMD_SET_VLAN) &&
                    (!result || *result == 0);
    if (restarts) {
        UpdateDevice(mac, [&](EmulatedDevice& d) {
            if (d.restartSilence.count() > 0) d.silentUntil = now + d.replyDelay + d.restartSilence;
            RestartDevice(d);
        });
    }
    // The upgrade request is acknowledged first; the fetch and its report follow.
    if (h.command == CMD_UPGRADE) StartUpgradeFetch(dg, dev);
    if (h.command == CMD_UPGRADE_START) BeginFlashing(mac, now);
}

void DevicePeer::AddDevice(const EmulatedDevice& dev) {
    std::lock_guard lock(m_devLock);
    EmulatedDevice& d = m_devices[dev.MacText()] = dev;
    if (!d.factory) d.factory = d.info;
    if (!d.bootSettings) d.bootSettings = d.info;
}

std::size_t DevicePeer::SendKeepalives(const std::string& toIp, unsigned part, unsigned parts) {
    const std::string& to = toIp.empty() ? m_options.pcAddress : toIp;
    auto now = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    std::lock_guard lock(m_devLock);
    unsigned place = 0;
    for (const auto& [mac, dev] : m_devices) {
        if (parts > 1 && place++ % parts != part) continue;
        if (dev.Silent(now)) continue;
        uint8_t macBytes[6];
        MacFromText(mac, macBytes);
        auto bytes =
            EncodeDatagram(CMD_KEEPALIVE, KeepaliveBodyOf(dev), macBytes, 0, dev.info.ap_type);
        if (SendFrom(dev.address, to, kPortKeepalive, bytes)) ++sent;
    }
    std::lock_guard count(m_countLock);
    m_counters.keepalives += sent;
    return sent;
}

void DevicePeer::AddUpTime(uint32_t seconds) {
    auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_devLock);
    for (auto& [mac, dev] : m_devices)
        if (!dev.Silent(now)) dev.info.up_time += seconds;
}

PeerCounters DevicePeer::Counters() const {
    std::lock_guard lock(m_countLock);
    return m_counters;
}

bool DevicePeer::UpdateDevice(const std::string& mac,
                              const std::function<void(EmulatedDevice&)>& fn) {
    std::lock_guard lock(m_devLock);
    auto it = m_devices.find(mac);
    if (it == m_devices.end()) return false;
    fn(it->second);
    return true;
}

std::optional<EmulatedDevice> DevicePeer::GetDevice(const std::string& mac) const {
    std::lock_guard lock(m_devLock);
    auto it = m_devices.find(mac);
    if (it == m_devices.end()) return std::nullopt;
    return it->second;
}

std::vector<EmulatedDevice> DevicePeer::Devices() const {
    std::lock_guard lock(m_devLock);
    std::vector<EmulatedDevice> out;
    for (const auto& [mac, dev] : m_devices) out.push_back(dev);
    return out;
}

bool DevicePeer::SendFrom(const std::string& fromIp, const std::string& toIp, uint16_t port,
                          std::span<const uint8_t> bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (m_sendFd < 0 || !ToAddr(toIp, to.sin_addr)) {
        ++m_sendFailures;
        return false;
    }
    iovec iov{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    // The source address is picked per datagram: each emulated device has its own.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (!fromIp.empty()) {
        in_pktinfo info{};
        if (!ToAddr(fromIp, info.ipi_spec_dst)) {
            ++m_sendFailures;
            return false;
        }
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    ssize_t n = sendmsg(m_sendFd, &msg, 0);
    if (n != static_cast<ssize_t>(bytes.size())) {
        ++m_sendFailures;
        return false;
    }
    return true;
}

bool DevicePeer::SendAsDevice(const std::string& mac, uint16_t command,
                              std::span<const uint8_t> body, const std::string& toIp, uint16_t port,
                              const std::string& fromIp) {
    auto dev = GetDevice(mac);
    if (!dev) return false;
    uint8_t macBytes[6];
    MacFromText(mac, macBytes);
    auto bytes = EncodeDatagram(command, body, macBytes, 0, dev->info.ap_type);
    return SendFrom(fromIp.empty() ? dev->address : fromIp, toIp, port, bytes);
}

bool DevicePeer::SendBriefInfo(const std::string& mac, const std::string& toIp) {
    auto dev = GetDevice(mac);
    return dev && SendAsDevice(mac, CMD_SEARCH, BriefInfoBodyOf(*dev), toIp, kPortSearchReply);
}

bool DevicePeer::SendDeviceInfo(const std::string& mac, const std::string& toIp) {
    auto dev = GetDevice(mac);
    return dev && SendAsDevice(mac, CMD_DEVICE_INFO, DeviceInfoBodyOf(*dev), toIp, kPortInfo);
}

bool DevicePeer::SendKeepalive(const std::string& mac, const std::string& toIp) {
    auto dev = GetDevice(mac);
    return dev && SendAsDevice(mac, CMD_KEEPALIVE, KeepaliveBodyOf(*dev),
                               toIp.empty() ? m_options.pcAddress : toIp, kPortKeepalive);
}

bool DevicePeer::SendAck(const std::string& mac, uint16_t command, std::optional<uint8_t> result,
                         const std::string& toIp, const std::string& fromIp) {
    std::vector<uint8_t> body;
    if (result) body.push_back(*result);
    return SendAsDevice(mac, command, body, toIp, kPortInfo, fromIp);
}

bool DevicePeer::SendScanResult(const std::string& mac, std::span<const uint8_t> body,
                                const std::string& toIp) {
    return SendAsDevice(mac, CMD_SCAN, body, toIp, kPortInfo);
}

std::vector<PeerDatagram> DevicePeer::Received() const {
    std::lock_guard lock(m_recvLock);
    return m_received;
}

std::vector<PeerDatagram> DevicePeer::ReceivedCommands(uint16_t command,
                                                       const std::string& mac) const {
    std::lock_guard lock(m_recvLock);
    std::vector<PeerDatagram> out;
    for (const auto& dg : m_received) {
        if (!dg.decoded) continue;
        if (command != 0 && dg.Command() != command) continue;
        if (!mac.empty() && dg.MacText() != mac) continue;
        out.push_back(dg);
    }
    return out;
}

std::size_t DevicePeer::CountCommand(uint16_t command, const std::string& mac) const {
    return ReceivedCommands(command, mac).size();
}

bool DevicePeer::WaitFor(const std::function<bool(const std::vector<PeerDatagram>&)>& pred,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_recvLock);
    return m_recvCond.wait_for(lock, timeout, [&] { return pred(m_received); });
}

bool DevicePeer::WaitForCommand(uint16_t command, const std::string& mac, std::size_t count,
                                std::chrono::milliseconds timeout) const {
    return WaitFor(
        [&](const std::vector<PeerDatagram>& all) {
            std::size_t n = 0;
            for (const auto& dg : all)
                if (dg.decoded && (command == 0 || dg.Command() == command) &&
                    (mac.empty() || dg.MacText() == mac))
                    ++n;
            return n >= count;
        },
        timeout);
}

std::string DevicePeer::LastSearcher() const {
    std::lock_guard lock(m_recvLock);
    return m_lastSearcher;
}

void DevicePeer::SetReceiveObserver(std::function<void(const PeerDatagram&)> observer) {
    m_observer = std::move(observer);
}

void DevicePeer::ClearReceived() {
    std::lock_guard lock(m_recvLock);
    m_received.clear();
}

}  // namespace fd::devsim
