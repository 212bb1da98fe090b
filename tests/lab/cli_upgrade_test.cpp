// fielddesk-cli upgrade in the lab: the real program with its own FileServer, emulated
// devices that fetch, flash and come back; the upgrade's second shortened to 100 ms.

#include <gtest/gtest.h>

#include <random>

#include "cli_lab.h"
#include "config/language.h"
#include "devsim/device_peer.h"
#include "support/lab.h"
#include "support/temp_dir.h"

namespace fd::test {

namespace {

class CliUpgradeLabTest : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        setenv("LC_ALL", "C", 1);
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<devsim::DevicePeer>(po);
    }
    void TearDown() override {
        m_peer.reset();
        LabTest::TearDown();
    }
    std::vector<std::string> AddDevices(int n) {
        std::vector<std::string> macs, ips;
        for (int i = 0; i < n; ++i) {
            auto dev = devsim::MakeDevice(i);
            dev.flashSilence = std::chrono::milliseconds(1500);
            if (i != 0) ips.push_back(dev.address);
            macs.push_back(dev.MacText());
            m_peer->AddDevice(dev);
        }
        EXPECT_TRUE(m_lab.AddDeviceAddresses(ips)) << m_lab.Error();
        return macs;
    }
    std::string Image(const std::string& name, std::size_t size) {
        std::string bytes(size, '\0');
        std::mt19937 rng(static_cast<unsigned>(size));
        for (auto& c : bytes) c = static_cast<char>(rng());
        return m_tmp.Write(name, bytes);
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
        return n;
    }

    TempDir m_tmp;
    std::unique_ptr<devsim::DevicePeer> m_peer;
};

}  // namespace

TEST_F(CliUpgradeLabTest, TenDevicesUpgradeThenABrokenFetchFailsTheRun) {
    auto macs = AddDevices(10);
    std::string err;
    ASSERT_TRUE(m_peer->Start(&err)) << err;

    const std::string image = Image("fdx-3.1.bin", 2 * 1024 * 1024 + 99);
    std::vector<std::string> args = {"upgrade", "--image",   image, "--seconds",
                                     "10",      "--tick-ms", "100", "--return-seconds",
                                     "5"};
    args.insert(args.end(), macs.begin(), macs.end());
    CliRun run = RunCli(args, std::chrono::seconds(90));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(Count(run.out, "upgraded, back online with version fdx-3.1"), 10) << run.out;
    // Progress as it happened: each device was seen flashing (the short wait before it is
    // sampled once a tick and may pass unseen).
    EXPECT_EQ(Count(run.out, "Upgrading"), 10) << run.out;
    for (const auto& mac : macs) {
        auto dev = m_peer->GetDevice(mac);
        ASSERT_TRUE(dev);
        EXPECT_EQ(
            std::string(reinterpret_cast<const char*>(dev->info.version), dev->info.version_len),
            "fdx-3.1");
    }

    // Again with a newer image; one device breaks off its fetch, one never comes back.
    m_peer->UpdateDevice(macs[3], [](devsim::EmulatedDevice& d) { d.upgradeFetchFails = true; });
    m_peer->UpdateDevice(macs[5], [](devsim::EmulatedDevice& d) { d.upgradeNeverReturns = true; });
    const std::string newer = Image("fdx-3.2.BIN", 700000);
    args = {"upgrade",          "--image", newer,   "--seconds", "10",    "--tick-ms", "100",
            "--return-seconds", "3",       macs[2], macs[3],     macs[4], macs[5]};
    run = RunCli(args, std::chrono::seconds(90));
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(macs[3] + "  198.18.1.4  failed: the device could not fetch the image"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(macs[5] + "  198.18.1.6  failed: did not come back after flashing"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Count(run.out, "upgraded, back online with version fdx-3.2"), 2) << run.out;
    // The server it started is gone.
    EXPECT_EQ(run.err.find("is missing"), std::string::npos);
}

TEST_F(CliUpgradeLabTest, RefusesBadImagesBeforeTouchingTheNetwork) {
    const std::string mac = "02:fd:00:00:00:01";
    auto run = RunCli({"upgrade", "--image", Image("fw.Bin", 10), mac});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("Upgrade file is not .bin file!"), std::string::npos) << run.err;
    run = RunCli({"upgrade", "--image", m_tmp.Path("missing.bin"), mac});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("cannot read the image"), std::string::npos) << run.err;
    run = RunCli({"upgrade", "--image", Image("fw.bin", 10)});
    EXPECT_EQ(run.exitCode, 2);
}

}  // namespace fd::test
