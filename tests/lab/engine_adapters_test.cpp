// Adapters that change under a running engine: the PC's link unplugged and plugged in
// again with the same address, and the address moved to another link. Commands must leave
// through the interface that holds the address now.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "lab/engine_lab.h"

using namespace fd;
using namespace fd::test;

namespace {

class EngineAdaptersTest : public EngineLabTest {
protected:
    std::vector<uint8_t> NameBlock(const std::string& name) {
        DeviceNameBlock b{};
        SetFieldText(b.ap_name, sizeof b.ap_name, b.ap_name_len, name);
        auto bytes = BytesOf(b);
        return {bytes.begin(), bytes.end()};
    }

    // Renames the device and waits until it has taken the name and acknowledged it.
    bool Rename(const std::string& mac, const std::string& ip, const std::string& name) {
        auto block = NameBlock(name);
        if (!m_engine->SendToDevice(ip, CMD_SET_NAME, block.data(), static_cast<int>(block.size()),
                                    mac, true))
            return false;
        return WaitUntil(
                   [&] {
                       auto dev = m_peer->GetDevice(mac);
                       return dev && FieldText(dev->info.ap_name, 32, dev->info.ap_name_len) ==
                                         name;
                   },
                   kWait) &&
               PendingEmpty();
    }

    // The interface index of a link on one side of the lab; 0 when unknown.
    // Read straight from the namespace (ip -n), not through a command run inside it, which
    // needs a mount namespace of its own and more that can go wrong on a busy machine.
    int IfIndex(const std::string& side, const std::string& link) {
        const std::string ns = side == "pc" ? m_lab.PcNamespace() : m_lab.DevNamespace();
        const std::string cmd = "ip -n " + ns + " -o link show " + link + " 2>&1";
        std::string out;
        if (FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[512];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
            ::pclose(p);
        }
        const int index = std::atoi(out.c_str());  // "N: name@peer: ..."
        EXPECT_GT(index, 0) << cmd << ": " << out;
        return index;
    }

    int LastRenameIfIndex(const std::string& mac) {
        auto got = m_peer->ReceivedCommands(CMD_SET_NAME, mac);
        return got.empty() ? 0 : got.back().ifindex;
    }

    bool Run(const std::string& side, const std::vector<std::string>& command) {
        std::string out;
        const int rc = m_lab.Exec(side, command, &out);
        EXPECT_EQ(rc, 0) << side << ": " << out;
        return rc == 0;
    }
};

}  // namespace

TEST_F(EngineAdaptersTest, CommandsReachTheDeviceAfterTheLinkIsPluggedInAgain) {
    auto macs = AddDevices(1);
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(1));
    const std::string ip = m_peer->GetDevice(macs[0])->address;
    ASSERT_TRUE(Rename(macs[0], ip, "before"));

    // The cable is pulled: the link goes, both ends. Then it comes back as a new interface
    // with the same addresses.
    const int before = IfIndex("pc", "pc0");
    ASSERT_TRUE(Run("pc", {"ip", "link", "del", "pc0"}));
    ASSERT_TRUE(Run("pc", {"ip", "link", "add", "pc0", "type", "veth", "peer", "name", "dev0",
                           "netns", m_lab.DevNamespace()}));
    ASSERT_TRUE(Run("pc", {"ip", "link", "set", "pc0", "up"}));
    ASSERT_TRUE(Run("pc", {"ip", "addr", "add", "198.18.0.1/16", "dev", "pc0"}));
    ASSERT_TRUE(Run("dev", {"ip", "link", "set", "dev0", "up"}));
    ASSERT_TRUE(Run("dev", {"ip", "addr", "add", ip + "/16", "dev", "dev0"}));
    ASSERT_NE(IfIndex("pc", "pc0"), before);
    // The device side joins the group on its new interface.
    m_peer->Stop();
    ASSERT_TRUE(StartPeer());

    // The engine was never told; its next command still finds the device.
    EXPECT_TRUE(Rename(macs[0], ip, "after"));
    EXPECT_EQ(LastRenameIfIndex(macs[0]), IfIndex("dev", "dev0"));
}

TEST_F(EngineAdaptersTest, CommandsFollowTheAddressToAnotherLink) {
    auto macs = AddDevices(1);
    // A second link, no address on the PC's end yet; the device side listens on both.
    ASSERT_TRUE(m_lab.AddLink(1)) << m_lab.Error();
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(1));
    const std::string ip = m_peer->GetDevice(macs[0])->address;
    ASSERT_TRUE(Rename(macs[0], ip, "first"));
    EXPECT_EQ(LastRenameIfIndex(macs[0]), IfIndex("dev", "dev0"));

    // The PC's address moves from the first link to the second.
    ASSERT_TRUE(Run("pc", {"ip", "addr", "del", "198.18.0.1/16", "dev", "pc0"}));
    ASSERT_TRUE(Run("pc", {"ip", "addr", "add", "198.18.0.1/16", "dev", "pc1"}));

    EXPECT_TRUE(Rename(macs[0], ip, "second"));
    EXPECT_EQ(LastRenameIfIndex(macs[0]), IfIndex("dev", "dev1"));
}

TEST_F(EngineAdaptersTest, AnAdapterWithoutCarrierIsListedUnpluggedAndNotUsedUntilItIsBack) {
    auto macs = AddDevices(1);
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(1));
    const std::string ip = m_peer->GetDevice(macs[0])->address;
    auto pc0 = [](const std::vector<LocalAdapterInfo>& list) -> const LocalAdapterInfo* {
        for (const auto& a : list)
            if (AdapterNameOf(a) == "pc0") return &a;
        return nullptr;
    };

    // The far end goes down, as when the cable is pulled: pc0 keeps its address and its
    // IFF_UP, but loses its carrier.
    ASSERT_TRUE(Run("dev", {"ip", "link", "set", "dev0", "down"}));
    std::vector<LocalAdapterInfo> usable, all;
    EXPECT_TRUE(WaitUntil(
        [&] {
            m_engine->ReadLocalAdapters(usable, &all);
            return !pc0(usable) && pc0(all) && pc0(all)->unplugged == 1;
        },
        kWait));
    ASSERT_NE(pc0(all), nullptr);
    EXPECT_EQ(pc0(all)->up, 0);
    EXPECT_STREQ(pc0(all)->addrs[0].ip, "198.18.0.1");
    EXPECT_EQ(pc0(fd::EnumerateLocalAdapters()), nullptr);
    // Nothing goes out through it: no command, and the search has no subnet to aim at.
    auto block = NameBlock("unplugged");
    EXPECT_FALSE(m_engine->SendToDevice(ip, CMD_SET_NAME, block.data(),
                                        static_cast<int>(block.size()), macs[0], true));

    // Plugged in again: listed as usable and used at once.
    ASSERT_TRUE(Run("dev", {"ip", "link", "set", "dev0", "up"}));
    EXPECT_TRUE(WaitUntil(
        [&] {
            m_engine->ReadLocalAdapters(usable, &all);
            return pc0(usable) && pc0(all)->unplugged == 0;
        },
        kWait));
    m_peer->Stop();
    ASSERT_TRUE(StartPeer());
    EXPECT_TRUE(Rename(macs[0], ip, "plugged"));
}
