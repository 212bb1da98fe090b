#include "system/local_adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

namespace fd {

namespace {

void CopyText(char* dst, std::size_t capacity, const char* src) {
    std::size_t n = src ? std::strlen(src) : 0;
    if (n >= capacity) n = capacity - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void FormatIpv4(char (&dst)[16], const sockaddr* sa) {
    in_addr addr{};
    if (sa && sa->sa_family == AF_INET) addr = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr;
    if (!inet_ntop(AF_INET, &addr, dst, sizeof dst)) CopyText(dst, sizeof dst, "0.0.0.0");
}

// IFF_LOWER_UP of <linux/if.h>, which cannot be included beside <net/if.h>: the carrier.
constexpr unsigned kLowerUp = 0x10000;

struct Pending {
    std::string name;
    LocalAdapterInfo info{};
    bool listed = true;  // switched on and not loopback
    bool link = true;    // carrier present
};

}  // namespace

std::vector<LocalAdapterInfo> ListLocalAdapters() {
    ifaddrs* head = nullptr;
    if (getifaddrs(&head) != 0) return {};

    // getifaddrs() gives one entry per (interface, address); gather them per interface
    // name, keeping the order in which each interface first shows up.
    std::vector<Pending> found;
    auto entryFor = [&found](const char* name) -> Pending& {
        for (auto& p : found)
            if (p.name == name) return p;
        Pending& p = found.emplace_back();
        p.name = name;
        CopyText(p.info.name, sizeof p.info.name, name);
        CopyText(p.info.description, sizeof p.info.description, name);
        return p;
    };

    for (const ifaddrs* it = head; it; it = it->ifa_next) {
        if (!it->ifa_name) continue;
        Pending& p = entryFor(it->ifa_name);
        if (!(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK)) p.listed = false;
        // Switched on but without carrier: the cable is out or the other end is down.
        if (!(it->ifa_flags & IFF_RUNNING) || !(it->ifa_flags & kLowerUp)) p.link = false;
        if (!it->ifa_addr) continue;

        if (it->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
            std::size_t n =
                ll->sll_halen < sizeof p.info.hw_addr ? ll->sll_halen : sizeof p.info.hw_addr;
            std::memcpy(p.info.hw_addr, ll->sll_addr, n);
        } else if (it->ifa_addr->sa_family == AF_INET) {
            const auto* sin = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
            // An address still being configured reads as 0.0.0.0: it can neither be
            // broadcast from nor chosen for a command.
            if (sin->sin_addr.s_addr == htonl(INADDR_ANY)) continue;
            if (p.info.ip_count >= kMaxAdapterAddresses) continue;
            LocalAdapterAddress& a = p.info.addrs[p.info.ip_count++];
            FormatIpv4(a.ip, it->ifa_addr);
            FormatIpv4(a.mask, it->ifa_netmask);
        }
    }
    freeifaddrs(head);

    std::vector<LocalAdapterInfo> out;
    for (auto& p : found) {
        if (!p.listed || p.info.ip_count == 0) continue;
        p.info.up = p.link ? 1 : 0;
        p.info.unplugged = p.link ? 0 : 1;
        out.push_back(p.info);
    }
    return out;
}

std::vector<LocalAdapterInfo> EnumerateLocalAdapters() {
    std::vector<LocalAdapterInfo> out = ListLocalAdapters();
    std::erase_if(out, [](const LocalAdapterInfo& a) { return a.up != 1; });
    return out;
}

std::string AdapterNameOf(const LocalAdapterInfo& a) {
    return std::string(a.name, strnlen(a.name, sizeof a.name));
}

}  // namespace fd
