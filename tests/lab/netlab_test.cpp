// scripts/netlab itself: labs side by side, the address range it insists on, bulk
// addresses, and that destroying a lab leaves nothing behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/lab.h"

using fd::test::Lab;
using fd::test::RunNetlab;

namespace {

class NetlabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_a.Create()) GTEST_SKIP() << m_a.Error();
    }
    Lab m_a;
};

int CountLines(const std::string& s, const std::string& needle) {
    int n = 0;
    for (std::size_t p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1)) ++n;
    return n;
}

}  // namespace

TEST_F(NetlabTest, TwoLabsLiveSideBySideAndGoAwayWhole) {
    Lab b;
    ASSERT_TRUE(b.Create()) << b.Error();
    std::string list;
    ASSERT_EQ(RunNetlab({"list"}, &list), 0);
    EXPECT_NE(list.find(m_a.Name() + "\n"), std::string::npos) << list;
    EXPECT_NE(list.find(b.Name() + "\n"), std::string::npos) << list;
    // The same name twice is refused.
    EXPECT_NE(RunNetlab({"create", b.Name()}), 0);

    // Each side sees its veth end with its address, and the other side answers.
    std::string out;
    ASSERT_EQ(b.Exec("pc", {"ip", "-o", "-4", "addr", "show", "dev", "pc0"}, &out), 0);
    EXPECT_NE(out.find("198.18.0.1/16"), std::string::npos) << out;
    ASSERT_EQ(b.Exec("dev", {"ip", "-o", "-4", "addr", "show", "dev", "dev0"}, &out), 0);
    EXPECT_NE(out.find("198.18.1.1/16"), std::string::npos) << out;
    ASSERT_EQ(b.Exec("pc", {"ip", "route", "get", "239.255.255.250"}, &out), 0);
    EXPECT_NE(out.find("dev pc0"), std::string::npos) << out;

    ASSERT_TRUE(b.Destroy()) << b.Error();
    ASSERT_EQ(RunNetlab({"list"}, &list), 0);
    EXPECT_EQ(list.find(b.Name() + "\n"), std::string::npos) << list;
    EXPECT_NE(RunNetlab({"exec", b.Name(), "dev", "--", "true"}), 0);
    EXPECT_EQ(access(("/run/netns/" + b.Name() + "-dev").c_str(), F_OK), -1);
}

TEST_F(NetlabTest, RefusesEveryAddressOutsideTheLabRange) {
    for (const char* bad : {"10.0.0.1", "198.17.255.255", "198.20.0.1", "192.168.1.1",
                            "198.18.1.256", "198.18.1", "not-an-ip", "198.18.1.1/8"}) {
        std::string out;
        EXPECT_NE(RunNetlab({"add-addr", m_a.Name(), bad}, &out), 0) << bad;
    }
    // One bad address in a batch stops the whole batch.
    EXPECT_FALSE(m_a.AddDeviceAddresses({"198.18.1.2", "10.1.1.1"}));
    std::string out;
    ASSERT_EQ(m_a.Exec("dev", {"ip", "-o", "-4", "addr", "show"}, &out), 0);
    EXPECT_EQ(out.find("10.1.1.1"), std::string::npos) << out;
    EXPECT_EQ(out.find("198.18.1.2/"), std::string::npos) << out;
    // Both halves of the range are fine.
    EXPECT_TRUE(m_a.AddDeviceAddresses({"198.18.255.254", "198.19.0.1"})) << m_a.Error();
    EXPECT_TRUE(m_a.AddPcAddresses({"198.18.0.2"})) << m_a.Error();
}

TEST_F(NetlabTest, ThousandsOfAddressesGoInQuickly) {
    std::vector<std::string> ips;
    for (int i = 0; i < 4000; ++i)
        ips.push_back("198.18." + std::to_string(2 + i / 250) + "." + std::to_string(1 + i % 250));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_a.AddDeviceAddresses(ips)) << m_a.Error();
    auto took = std::chrono::steady_clock::now() - start;
    std::string out;
    ASSERT_EQ(m_a.Exec("dev", {"ip", "-o", "-4", "addr", "show", "dev", "dev0"}, &out), 0);
    EXPECT_EQ(CountLines(out, " inet "), 4001);
    // Not a timing test; a bound that only an address-by-address loop would miss.
    EXPECT_LT(took, std::chrono::seconds(30));
}
