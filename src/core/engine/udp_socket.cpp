// Socket set-up for the engine: the listening sockets and the temporary socket a command
// leaves through when the engine is not running.

#include "engine/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wire/packet.h"

namespace fd {

namespace {

// Sets a buffer size, forcing past net.core.[rw]mem_max when the process may; otherwise it
// goes on with what the kernel grants.
bool SetBufferSize(int fd, bool receive, int bytes) {
    int force = receive ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
    if (setsockopt(fd, SOL_SOCKET, force, &bytes, sizeof bytes) == 0) return true;
    int plain = receive ? SO_RCVBUF : SO_SNDBUF;
    return setsockopt(fd, SOL_SOCKET, plain, &bytes, sizeof bytes) == 0;
}

}  // namespace

int OpenUdpSocket(const char* localIp, uint16_t port, bool broadcast, bool multicast,
                  int bufferBytes) {
    in_addr local{};
    local.s_addr = htonl(INADDR_ANY);
    if (localIp && *localIp && inet_pton(AF_INET, localIp, &local) != 1) return -1;

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    auto fail = [fd]() {
        close(fd);
        return -1;
    };
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return fail();
    if (broadcast && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return fail();
    if (multicast) {
        ip_mreq mreq{};
        inet_pton(AF_INET, kMulticastGroup, &mreq.imr_multiaddr);
        mreq.imr_interface = local;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) return fail();
        unsigned char loop = 0;
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) return fail();
        // Without this the kernel picks the interface from the routing table, which need not
        // be the adapter whose subnet holds the device.
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) != 0) return fail();
    }
    if (!SetBufferSize(fd, false, bufferBytes) || !SetBufferSize(fd, true, bufferBytes))
        return fail();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr = local;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return fail();
    return fd;
}

bool SetMulticastSource(int fd, const std::string& localIp) {
    in_addr local{};
    if (inet_pton(AF_INET, localIp.c_str(), &local) != 1) return false;
    // Given only an address, the kernel finds the interface that holds it and uses the
    // address as the source of the datagrams that follow.
    return setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) == 0;
}

bool SendUdp(int fd, const std::string& destIp, uint16_t destPort,
             const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(destPort);
    if (inet_pton(AF_INET, destIp.c_str(), &to.sin_addr) != 1) return false;
    ssize_t n = sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n > 0;
}

}  // namespace fd
