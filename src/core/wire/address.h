#pragma once
// IPv4 addresses and MACs as text, as bytes and as numbers; every conversion of this
// program goes through here.
//
// Bytes are in address order: ip[0] is the a of a.b.c.d, mac[0] the first pair of
// xx:xx:xx:xx:xx:xx, as they travel in packets and records.
// The number form of an address has the FIRST octet HIGHEST (a.b.c.d = a<<24|b<<16|c<<8|d),
// so numbers compare and count in address order and ip & mask is the network.
//
// Two kinds of reading, named for what they do:
//  - strict (ParseIpv4, IpFromText, MacFromText): the exact form or nothing, for what a
//    user or a device hands us;
//  - lenient (ScanIpLenient, ScanMacLenient): read the way sscanf("%d.%d.%d.%d") and
//    sscanf("%02x:...") read, for the text columns this program wrote itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fd {

using IpBytes = std::array<uint8_t, 4>;
using MacBytes = std::array<uint8_t, 6>;

// ---- IPv4 ----

// "%d.%d.%d.%d" of the four bytes.
std::string IpToText(const uint8_t ip[4]);
// The one strict reader of a dotted IPv4 text: exactly four parts of one to three decimal
// digits, each 0..255, no leading zero (so "010.0.0.1" is refused rather than read as 10 or 8),
// nothing before, between or after; the number form. Every address a user types goes
// through it (via ReadIpField); texts like "10.300.0.5", "10.0.0.5.7.8" or "255.255.0" are
// refused, never read as some other address.
std::optional<uint32_t> ParseIpv4(std::string_view text);
// An address field as typed: empty text gives 0.0.0.0 (no address), anything else must pass
// ParseIpv4; nullopt when it does not.
std::optional<IpBytes> ReadIpField(std::string_view text);
// ParseIpv4 into bytes; anything else gives four zero bytes and false.
bool IpFromText(std::string_view text, uint8_t ip[4]);

uint32_t IpToValue(const uint8_t ip[4]);
void IpFromValue(uint32_t value, uint8_t ip[4]);
std::string Ipv4ToText(uint32_t value);

// Empty text or 0.0.0.0: no address given.
bool IsUnsetIp(std::string_view text);
// Both addresses and the mask given and strictly readable, and (a & mask) == (b & mask).
bool InSameSubnet(std::string_view a, std::string_view b, std::string_view mask);

// sscanf("%d.%d.%d.%d"): blanks skipped, a sign allowed, each number keeps its low 8 bits
// (300 -> 44); reading stops at the first mismatch and the bytes not read are 0.
IpBytes ScanIpLenient(std::string_view text);

// ---- MAC ----

// "%02x:%02x:%02x:%02x:%02x:%02x", lower case.
std::string MacToText(const uint8_t mac[6]);
// Exactly six pairs of hex digits (either case) joined by ':'; false leaves mac unchanged.
bool MacFromText(std::string_view text, uint8_t mac[6]);
bool IsZeroMac(const uint8_t mac[6]);
// sscanf("%02x:..."): reading stops at the first mismatch, the bytes not read are 0.
MacBytes ScanMacLenient(std::string_view text);

}  // namespace fd
