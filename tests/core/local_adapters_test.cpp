#include "system/local_adapters.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/lab.h"

using fd::EnumerateLocalAdapters;

namespace {

class LocalAdaptersTest : public fd::test::LabTest {};

std::vector<std::string> Ips(const LocalAdapterInfo& a) {
    std::vector<std::string> out;
    for (int i = 0; i < a.ip_count; ++i) out.emplace_back(a.addrs[i].ip);
    return out;
}

// The interface's IPv4 addresses in the order the kernel lists them, as `ip` shows them.
std::vector<std::string> KernelOrder(fd::test::Lab& lab, const std::string& side,
                                     const std::string& ifname) {
    std::string out;
    lab.Exec(side, {"ip", "-o", "-4", "addr", "show", "dev", ifname}, &out);
    std::vector<std::string> ips;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto pos = line.find(" inet ");
        if (pos == std::string::npos) continue;
        std::string cidr = line.substr(pos + 6, line.find(' ', pos + 6) - pos - 6);
        ips.push_back(cidr.substr(0, cidr.find('/')));
    }
    return ips;
}

std::string HwAddrOf(const std::string& ifname) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // only asked, never bound
    ifreq req{};
    std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", ifname.c_str());
    bool ok = s >= 0 && ioctl(s, SIOCGIFHWADDR, &req) == 0;
    if (s >= 0) close(s);
    if (!ok) return {};
    const auto* m = reinterpret_cast<const unsigned char*>(req.ifr_hwaddr.sa_data);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
                  m[5]);
    return text;
}

std::string MacOf(const LocalAdapterInfo& a) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a.hw_addr[0], a.hw_addr[1],
                  a.hw_addr[2], a.hw_addr[3], a.hw_addr[4], a.hw_addr[5]);
    return text;
}

}  // namespace

// Whatever namespace this runs in, nothing that cannot carry traffic is listed.
TEST(LocalAdaptersAnywhereTest, ListsOnlyUsableAdapters) {
    for (const auto& a : EnumerateLocalAdapters()) {
        SCOPED_TRACE(a.name);
        EXPECT_EQ(a.up, 1);
        EXPECT_STRNE(a.name, "lo");
        EXPECT_STREQ(a.description, a.name);
        ASSERT_GE(a.ip_count, 1);
        ASSERT_LE(a.ip_count, fd::kMaxAdapterAddresses);
        for (int i = 0; i < a.ip_count; ++i) {
            EXPECT_STRNE(a.addrs[i].ip, "0.0.0.0");
            EXPECT_STRNE(a.addrs[i].ip, "");
            EXPECT_STRNE(a.addrs[i].mask, "");
        }
    }
}

TEST_F(LocalAdaptersTest, PcSideShowsItsVethWithMacAndMask) {
    auto list = EnumerateLocalAdapters();
    ASSERT_EQ(list.size(), 1u);
    const auto& a = list[0];
    EXPECT_STREQ(a.name, "pc0");
    EXPECT_STREQ(a.description, "pc0");
    EXPECT_EQ(MacOf(a), HwAddrOf("pc0"));
    ASSERT_EQ(a.ip_count, 1);
    EXPECT_STREQ(a.addrs[0].ip, "198.18.0.1");
    EXPECT_STREQ(a.addrs[0].mask, "255.255.0.0");
}

TEST_F(LocalAdaptersTest, SeveralAddressesComeInSystemOrderAndAtMostTen) {
    ASSERT_TRUE(m_lab.AddPcAddresses({"198.18.0.2"})) << m_lab.Error();
    auto list = EnumerateLocalAdapters();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Ips(list[0]), (std::vector<std::string>{"198.18.0.1", "198.18.0.2"}));

    // A second subnet on the same veth: the kernel lists each subnet's primary first.
    ASSERT_TRUE(m_lab.AddPcAddresses({"198.19.0.7"})) << m_lab.Error();
    list = EnumerateLocalAdapters();
    ASSERT_EQ(list.size(), 1u);
    auto kernel = KernelOrder(m_lab, "pc", "pc0");
    ASSERT_EQ(kernel.size(), 3u);
    EXPECT_EQ(Ips(list[0]), kernel);
    EXPECT_STREQ(list[0].addrs[2].mask, "255.255.0.0");

    std::vector<std::string> more;
    for (int i = 3; i < 15; ++i) more.push_back("198.18.0." + std::to_string(i));
    ASSERT_TRUE(m_lab.AddPcAddresses(more)) << m_lab.Error();
    list = EnumerateLocalAdapters();
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0].ip_count, fd::kMaxAdapterAddresses);
    kernel = KernelOrder(m_lab, "pc", "pc0");
    ASSERT_EQ(kernel.size(), 15u);
    kernel.resize(fd::kMaxAdapterAddresses);
    EXPECT_EQ(Ips(list[0]), kernel);
}

TEST_F(LocalAdaptersTest, DownOrAddresslessInterfacesAreLeftOut) {
    // A second veth that is up but has no IPv4 address yet.
    ASSERT_TRUE(m_lab.AddLink(1)) << m_lab.Error();
    auto list = EnumerateLocalAdapters();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_STREQ(list[0].name, "pc0");

    // Once it has one, it follows pc0 in interface order.
    ASSERT_EQ(m_lab.Exec("pc", {"ip", "addr", "add", "198.18.0.9/16", "dev", "pc1"}), 0);
    list = EnumerateLocalAdapters();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STREQ(list[1].name, "pc1");
    EXPECT_STREQ(list[1].addrs[0].ip, "198.18.0.9");

    // Down interfaces are not used, whatever addresses they hold; lo never is.
    ASSERT_EQ(m_lab.Exec("pc", {"ip", "link", "set", "pc0", "down"}), 0);
    ASSERT_EQ(m_lab.Exec("pc", {"ip", "link", "set", "pc1", "down"}), 0);
    EXPECT_TRUE(EnumerateLocalAdapters().empty());
}
