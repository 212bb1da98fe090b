#pragma once
// Facts about this PC's network set-up that explain a search that finds nothing: who holds
// the program's receive ports, reverse-path filtering, firewall rules that drop the answers,
// and which adapter's subnet each answering device lies in. The readers take the text of
// /proc files or tool output, so they can be checked on fixed input.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/local_adapters.h"

namespace fd {

// The UDP ports the program receives on: search answers, keepalives, information and
// acknowledgements.
inline constexpr int kReceivePorts[] = {9785, 9787, 9788};
// The ports it sends to: the search broadcast and the commands.
inline constexpr int kSendPorts[] = {9786, 9787};

// A socket bound to one of the asked ports, with the process holding it when it can be
// seen (pid 0 and an empty name otherwise: another user's process, for a non-root caller).
struct PortHolder {
    int port = 0;
    unsigned long inode = 0;
    int pid = 0;
    std::string program;
};

// The sockets of /proc/net/udp (or udp6) text whose local port is one of `ports` (port and
// inode).
std::vector<PortHolder> ParseUdpSockets(std::string_view procNetUdp, const std::vector<int>& ports);
// The same for this network namespace, with the owning processes looked up in /proc.
std::vector<PortHolder> FindPortHolders(const std::vector<int>& ports);

// Reverse-path filtering on an interface as the kernel applies it: the larger of the
// "all" and the interface's value; 0 off, 1 strict, 2 loose. nullopt when unreadable.
std::optional<int> EffectiveRpFilter(const std::string& interfaceName);
// Datagrams dropped by reverse-path filtering so far in this namespace (the kernel's
// IPReversePathFilter counter, from /proc/net/netstat text); nullopt when absent.
std::optional<uint64_t> ParseReversePathDrops(std::string_view procNetNetstat);
std::optional<uint64_t> ReversePathDrops();

// A rule of an nftables chain that drops or rejects UDP to one of the ports.
struct FirewallDrop {
    int port = 0;
    std::string chain;  // "table inet filter / chain input"
    std::string rule;   // the rule's text, or "policy drop" when the chain's policy does it
};
// Reads `nft list ruleset` text. Each base chain on the hook ("input" for what comes in,
// "output" for what this PC sends) is followed in order:
// a port is dropped there when a drop/reject rule matching it (a dport that names it, or a
// rule with no selector at all) comes before any accept rule for it, or when the chain's
// policy is drop and no rule accepts it. Rules that look at addresses, interfaces or
// connection state are not judged, nor anything after a jump to another chain.
std::vector<FirewallDrop> FindNftablesDrops(std::string_view ruleset, const std::vector<int>& ports,
                                            std::string_view hook = "input");

// Answering devices by adapter: those whose address lies in a subnet of the adapter, and
// those outside every adapter's subnets (they answer, but no command can reach them).
struct AdapterAnswers {
    std::string name;
    std::vector<std::string> addresses;  // "198.18.0.1/16"
    std::vector<std::string> devices;    // device addresses in its subnets
};
struct AnswerAttribution {
    std::vector<AdapterAnswers> adapters;
    std::vector<std::string> outside;
};
AnswerAttribution AttributeAnswers(const std::vector<LocalAdapterInfo>& adapters,
                                   const std::vector<std::string>& deviceIps);

}  // namespace fd
