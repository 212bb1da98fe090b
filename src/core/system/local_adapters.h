#pragma once
// The PC's IPv4 adapters, in the record layout the rest of the program expects.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LocalAdapterAddress {
    char ip[16];    // dotted text, zero-terminated
    char mask[16];  // dotted text, zero-terminated
    char reserved[16];
};

struct LocalAdapterInfo {
    uint8_t up;              // 1 = the adapter is to be used
    uint8_t hw_addr[8];      // the first 6 bytes are the MAC
    char description[132];   // zero-terminated
    char name[260];          // zero-terminated
    uint8_t unplugged;       // 1 = no carrier: cable unplugged or the far end down (up is 0)
    uint8_t reserved[2];
    int32_t ip_count;        // number of entries of addrs in use (at most 10)
    LocalAdapterAddress addrs[10];
    uint32_t reserved2[8];
};
static_assert(offsetof(LocalAdapterInfo, description) == 9);
static_assert(offsetof(LocalAdapterInfo, name) == 141);
static_assert(offsetof(LocalAdapterInfo, unplugged) == 401);
static_assert(offsetof(LocalAdapterInfo, ip_count) == 404);
static_assert(offsetof(LocalAdapterInfo, addrs) == 408);
static_assert(offsetof(LocalAdapterInfo, reserved2) == 888);

namespace fd {

constexpr int kMaxAdapterAddresses = 10;

// Non-loopback interfaces that are switched on (IFF_UP) with at least one IPv4 address other
// than 0.0.0.0, from getifaddrs(): MAC from the link-layer entry, description = interface
// name, up to 10 addresses each, in the order the system lists them. One without carrier
// (IFF_RUNNING or IFF_LOWER_UP off: cable unplugged, far end down) is listed with up 0 and
// unplugged 1: it is shown, but nothing is sent through it.
std::vector<LocalAdapterInfo> ListLocalAdapters();

// The adapters to use: those of ListLocalAdapters() with up 1.
std::vector<LocalAdapterInfo> EnumerateLocalAdapters();

// The interface name of a record, read within its buffer.
std::string AdapterNameOf(const LocalAdapterInfo& adapter);

}  // namespace fd
