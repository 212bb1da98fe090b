// Reading the facts behind an empty search: firewall rulesets as nft prints them, the
// kernel's socket table and counters, and which adapter's subnet an answer came from.

#include "system/net_diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fd;

namespace {

const std::vector<int> kPorts{9785, 9787, 9788};

std::vector<int> DroppedPorts(const std::string& ruleset) {
    std::vector<int> out;
    for (const auto& d : FindNftablesDrops(ruleset, kPorts)) out.push_back(d.port);
    return out;
}

// A workstation firewall in the style of Debian's /etc/nftables.conf.
std::string Workstation(const std::string& extraRule) {
    return "table inet filter {\n"
           "\tset trusted {\n\t\ttype ipv4_addr\n\t\telements = { 10.0.0.1 }\n\t}\n"
           "\tchain input {\n"
           "\t\ttype filter hook input priority filter; policy drop;\n"
           "\t\tct state established,related accept\n"
           "\t\tiif \"lo\" accept\n"
           "\t\ttcp dport 22 accept\n" +
           extraRule +
           "\t}\n"
           "\tchain output {\n"
           "\t\ttype filter hook output priority filter; policy accept;\n"
           "\t\tudp dport 9788 drop\n"
           "\t}\n"
           "}\n";
}

}  // namespace

TEST(NftablesDrops, PolicyDropWithoutAnAcceptDropsEveryPort) {
    const auto drops = FindNftablesDrops(Workstation(""), kPorts);
    ASSERT_EQ(drops.size(), 3u);
    EXPECT_EQ(drops[0].rule, "policy drop");
    EXPECT_EQ(drops[0].chain, "table inet filter / chain input");
    // Accepting the ports with a set and a range lets all of them in.
    EXPECT_TRUE(DroppedPorts(Workstation("\t\tudp dport { 9785, 9787-9788 } accept\n")).empty());
    // An accept for one port only leaves the others to the policy.
    EXPECT_EQ(DroppedPorts(Workstation("\t\tudp dport 9785 accept\n")),
              (std::vector<int>{9787, 9788}));
    // What this PC sends is judged on the output hook.
    const auto out = FindNftablesDrops(Workstation(""), {9786, 9787, 9788}, "output");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].port, 9788);
    EXPECT_EQ(out[0].rule, "udp dport 9788 drop");
}

TEST(NftablesDrops, FirstMatchingRuleDecides) {
    const std::string ruleset =
        "table ip t {\n"
        "\tchain in {\n"
        "\t\ttype filter hook input priority 0; policy accept;\n"
        "\t\ttcp dport 9785 drop\n"                      // another protocol
        "\t\tip saddr 10.0.0.0/8 udp dport 9787 drop\n"  // not judged: depends on the sender
        "\t\tudp dport 9785 counter packets 3 bytes 120 accept\n"
        "\t\tmeta l4proto udp counter packets 0 bytes 0 reject\n"
        "\t}\n"
        "}\n";
    const auto drops = FindNftablesDrops(ruleset, kPorts);
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[0].port, 9787);
    EXPECT_EQ(drops[0].rule, "meta l4proto udp counter packets 0 bytes 0 reject");
    EXPECT_EQ(drops[1].port, 9788);
    EXPECT_TRUE(DroppedPorts("").empty());
}

TEST(NftablesDrops, NothingAfterAJumpIsJudged) {
    // firewalld's shape: the zones decide in other chains, a catch-all reject follows.
    const std::string ruleset =
        "table inet firewalld {\n"
        "\tchain filter_INPUT {\n"
        "\t\ttype filter hook input priority filter + 10; policy accept;\n"
        "\t\tct state { established, related } accept\n"
        "\t\tjump filter_INPUT_ZONES\n"
        "\t\treject with icmpx admin-prohibited\n"
        "\t}\n"
        "\tchain filter_IN_public_allow {\n"
        "\t\tudp dport 9788 drop\n"  // not a base chain on the input hook
        "\t}\n"
        "}\n";
    EXPECT_TRUE(DroppedPorts(ruleset).empty());
}

TEST(KernelTables, SocketsAndReversePathCounter) {
    const std::string udp =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode ref pointer drops\n"
        "  101: 00000000:263C 00000000:0000 07 00000000:00000000 00:00000000 00000000     0    "
        "    0 41234 2 0000000000000000 0\n"
        "  102: 0100007F:0035 00000000:0000 07 00000000:00000000 00:00000000 00000000     0    "
        "    0 999 2 0000000000000000 0\n";
    const auto holders = ParseUdpSockets(udp, kPorts);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].port, 9788);
    EXPECT_EQ(holders[0].inode, 41234u);

    const std::string netstat =
        "TcpExt: SyncookiesSent IPReversePathFilter TCPTimeouts\n"
        "TcpExt: 0 17 4\n"
        "IpExt: InNoRoutes InTruncatedPkts\n"
        "IpExt: 0 0\n";
    EXPECT_EQ(ParseReversePathDrops(netstat), 17u);
    EXPECT_EQ(ParseReversePathDrops("IpExt: InNoRoutes\nIpExt: 0\n"), std::nullopt);
}

TEST(AnswerAttribution, DevicesGoToTheAdapterOfTheirSubnet) {
    auto adapter = [](const char* name, std::vector<std::pair<const char*, const char*>> addrs) {
        LocalAdapterInfo a{};
        std::strncpy(a.name, name, sizeof a.name - 1);
        for (const auto& [ip, mask] : addrs) {
            std::strncpy(a.addrs[a.ip_count].ip, ip, 15);
            std::strncpy(a.addrs[a.ip_count].mask, mask, 15);
            ++a.ip_count;
        }
        return a;
    };
    const auto r = AttributeAnswers(
        {adapter("eth0", {{"10.1.2.3", "255.255.255.0"}}),
         adapter("eth1", {{"192.168.1.10", "255.255.255.0"}, {"172.16.0.1", "255.255.0.0"}})},
        {"192.168.1.20", "10.1.2.200", "172.16.9.9", "192.168.2.1", "not-an-ip"});
    ASSERT_EQ(r.adapters.size(), 2u);
    EXPECT_EQ(r.adapters[0].addresses, (std::vector<std::string>{"10.1.2.3/24"}));
    EXPECT_EQ(r.adapters[0].devices, (std::vector<std::string>{"10.1.2.200"}));
    EXPECT_EQ(r.adapters[1].addresses,
              (std::vector<std::string>{"192.168.1.10/24", "172.16.0.1/16"}));
    EXPECT_EQ(r.adapters[1].devices, (std::vector<std::string>{"192.168.1.20", "172.16.9.9"}));
    EXPECT_EQ(r.outside, (std::vector<std::string>{"192.168.2.1", "not-an-ip"}));
}
