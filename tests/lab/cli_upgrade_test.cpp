// fielddesk-cli upgrade in the lab: the real program with its own FileServer, emulated
// devices that fetch, flash and come back; the upgrade's second shortened to 100 ms.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "cli_lab.h"
#include "config/language.h"
#include "devsim/device_peer.h"
#include "fileserver/tftp_client.h"
#include "fileserver/tftp_protocol.h"
#include "support/lab.h"
#include "support/lab_devices.h"
#include "support/temp_dir.h"

namespace fd::test {

namespace {

class CliUpgradeLabTest : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        setenv("LC_ALL", "C", 1);
        NewPeer(69);
    }
    // The devices' side afresh; its devices fetch images from this port of the PC.
    void NewPeer(uint16_t tftpPort) {
        m_peer.reset();
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        po.tftpPort = tftpPort;
        m_peer = std::make_unique<devsim::DevicePeer>(po);
    }
    // The line the CLI printed for a device at the end.
    static std::string Result(const std::string& out, const std::string& mac) {
        std::string last;
        for (auto p = out.find(mac); p != std::string::npos; p = out.find(mac, p + 1))
            last = out.substr(p, out.find('\n', p) - p);
        return last;
    }
    static std::vector<std::string> ImageFolders() {
        std::vector<std::string> found;
        const char* run = std::getenv("XDG_RUNTIME_DIR");
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(run ? run : "/nonexistent", ec))
            if (e.path().filename().string().rfind("fielddesk-image-", 0) == 0)
                found.push_back(e.path());
        return found;
    }
    void TearDown() override {
        m_peer.reset();
        LabTest::TearDown();
    }
    std::vector<std::string> AddDevices(int n) {
        return AddLabDevices(m_lab, *m_peer, n, 0, [](devsim::EmulatedDevice& dev) {
            dev.flashSilence = std::chrono::milliseconds(1500);
        });
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

TEST_F(CliUpgradeLabTest, ALinkedImageUpgradesAndNothingBesideItIsServed) {
    auto macs = AddDevices(2);
    std::string err;
    ASSERT_TRUE(m_peer->Start(&err)) << err;
    // The image is picked through a link in a busy download folder; the file itself lies
    // elsewhere under another name. Devices ask for the link's name.
    Image("store/build-4711.img.bin", 400000);
    m_tmp.Write("downloads/.netrc", "machine example.org password secret");
    std::filesystem::permissions(m_tmp.Path("downloads/.netrc"), std::filesystem::perms(0600));
    m_tmp.Write("downloads/notes.bin", "private notes");
    std::filesystem::create_symlink("../store/build-4711.img.bin",
                                    m_tmp.Path("downloads/fdx-3.3.bin"));
    const auto before = ImageFolders();

    CliRun run;
    std::thread cli([&] {
        run = RunCli({"upgrade", "--image", m_tmp.Path("downloads/fdx-3.3.bin"), "--seconds", "10",
                      "--tick-ms", "100", "--return-seconds", "5", macs[0], macs[1]},
                     std::chrono::seconds(90));
    });
    // While the upgrade runs, ask its file server for the image's neighbours, from the
    // devices' side as a device would, and from this PC's loopback.
    int imageSeen = 0, neighbourAnswers = 0, neighbourRefusals = 0, loopbackAnswers = 0;
    {
        NamespaceScope dev(m_lab.DevNamespace());
        ASSERT_TRUE(dev.Ok()) << dev.Error();
        tftp::FetchOptions o;
        o.localAddress = "198.18.1.1";
        o.wait = std::chrono::milliseconds(200);
        o.retries = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        while (imageSeen == 0 && std::chrono::steady_clock::now() < until) {
            if (tftp::Fetch("198.18.0.1", 69, "fdx-3.3.bin", o).ok)
                ++imageSeen;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // The refusals are owed answers: wait for them as long as a loaded machine needs.
        tftp::FetchOptions patient = o;
        patient.wait = std::chrono::milliseconds(1000);
        patient.retries = 10;
        for (const char* name : {".netrc", "notes.bin", "build-4711.img.bin", "FileServer.ini"}) {
            const auto r = tftp::Fetch("198.18.0.1", 69, name, patient);
            neighbourAnswers += r.ok;
            neighbourRefusals += r.errorCode == tftp::ERR_NOT_FOUND;
        }
    }
    if (imageSeen) {
        // Listening where the devices are, not on every address of the PC.
        tftp::FetchOptions o;
        o.wait = std::chrono::milliseconds(200);
        o.retries = 0;
        const auto r = tftp::Fetch("127.0.0.1", 69, "fdx-3.3.bin", o);
        loopbackAnswers += r.ok || r.errorCode != 0;
    }
    cli.join();
    EXPECT_EQ(imageSeen, 1) << "the file server never served the image";
    EXPECT_EQ(neighbourAnswers, 0);
    EXPECT_EQ(neighbourRefusals, 4);
    EXPECT_EQ(loopbackAnswers, 0);

    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(Count(run.out, "upgraded, back online with version fdx-3.3"), 2) << run.out;
    // Its private folder is gone with it; the image and its link are untouched.
    EXPECT_EQ(ImageFolders(), before);
    EXPECT_TRUE(std::filesystem::is_symlink(m_tmp.Path("downloads/fdx-3.3.bin")));
    EXPECT_EQ(std::filesystem::hard_link_count(m_tmp.Path("store/build-4711.img.bin")), 1u);
}

TEST_F(CliUpgradeLabTest, EachFailureIsToldForWhatItIs) {
    // One device breaks off its fetch; the other answers the search, then falls silent.
    auto macs = AddDevices(2);
    m_peer->UpdateDevice(macs[0], [](devsim::EmulatedDevice& d) { d.upgradeFetchFails = true; });
    std::string err;
    ASSERT_TRUE(m_peer->Start(&err)) << err;
    std::atomic<bool> silenced{false}, done{false};
    std::thread silencer([&] {
        // Once it has answered the request for its details (the run starts its upgrade
        // three ticks after it has them all).
        while (!done && (m_peer->CountCommand(CMD_DEVICE_INFO, macs[1]) == 0 ||
                         m_peer->Counters().deviceInfo < m_peer->CountCommand(CMD_DEVICE_INFO)))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_peer->UpdateDevice(macs[1], [](devsim::EmulatedDevice& d) {
            d.silentUntil = std::chrono::steady_clock::now() + std::chrono::hours(1);
        });
        silenced = true;
    });
    const std::string image = Image("fdx-4.0.bin", 300000);
    auto run = RunCli({"upgrade", "--image", image, "--seconds", "10", "--tick-ms", "200",
                       "--return-seconds", "0", macs[0], macs[1]},
                      std::chrono::seconds(120));
    done = true;
    silencer.join();
    ASSERT_TRUE(silenced);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_EQ(Result(run.out, macs[0]),
              macs[0] + "  198.18.1.1  failed: the device could not fetch the image")
        << run.out;
    EXPECT_EQ(Result(run.out, macs[1]),
              macs[1] + "  198.18.1.2  failed: no answer to the upgrade request")
        << run.out;

    // Port 69 on the devices' adapter taken by another program: the devices answer, the
    // fetch fails, and the reason is the server's.
    m_peer->UpdateDevice(macs[0], [](devsim::EmulatedDevice& d) { d.upgradeFetchFails = false; });
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(69);
    inet_pton(AF_INET, "198.18.0.1", &a.sin_addr);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    run = RunCli({"upgrade", "--image", image, "--seconds", "10", "--tick-ms", "100",
                  "--return-seconds", "0", macs[0]},
                 std::chrono::seconds(90));
    ::close(holder);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_EQ(Result(run.out, macs[0]),
              macs[0] +
                  "  198.18.1.1  failed: the device could not fetch the image: the file server "
                  "was not serving (cannot bind UDP port 69 on 198.18.0.1: Address already in "
                  "use)")
        << run.out;
    EXPECT_NE(run.err.find("the file server is not serving: cannot bind UDP port 69"),
              std::string::npos)
        << run.err;

    // Devices that fetch from elsewhere (a firewall or another adapter would look the same
    // to us): the server never heard from them, and says so.
    NewPeer(6969);
    AddDevices(1);
    ASSERT_TRUE(m_peer->Start(&err)) << err;
    run = RunCli({"upgrade", "--image", image, "--seconds", "10", "--tick-ms", "100",
                  "--return-seconds", "0", macs[0]},
                 std::chrono::seconds(90));
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_EQ(Result(run.out, macs[0]),
              macs[0] +
                  "  198.18.1.1  failed: the device could not fetch the image; the file server "
                  "saw no request from it (a firewall on this PC, or the device reaches the PC "
                  "through another adapter)")
        << run.out;
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
    // An unknown model is a usage error at once, not after a search of half a minute.
    const auto t0 = std::chrono::steady_clock::now();
    run = RunCli({"upgrade", "--image", Image("fw.bin", 10), "--model", "Nope", mac});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown model Nope"), std::string::npos) << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

}  // namespace fd::test
