#pragma once
// The engine's socket set-up, shared by the listening sockets and the temporary socket a
// command leaves through.

#include <cstdint>
#include <string>
#include <vector>

namespace fd {

// A UDP socket bound to localIp (null or empty: 0.0.0.0) and port, with SO_REUSEADDR, the
// given send and receive buffer sizes, and optionally broadcast, or membership of the
// command multicast group on localIp with loop-back off. -1 when any step fails.
int OpenUdpSocket(const char* localIp, uint16_t port, bool broadcast, bool multicast,
                  int bufferBytes);

// Makes multicast datagrams sent on fd leave through the adapter that holds localIp, with
// localIp as their source address.
bool SetMulticastSource(int fd, const std::string& localIp);

// True when sendto() reported more than 0 bytes.
bool SendUdp(int fd, const std::string& destIp, uint16_t destPort,
             const std::vector<uint8_t>& bytes);

}  // namespace fd
