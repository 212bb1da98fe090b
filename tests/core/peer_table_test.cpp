// The engine's peer table on its own: who holds an address, who is asked for its info, how
// set-IP moves a device, and who ages out.

#include "engine/peer_table.h"

#include <gtest/gtest.h>

namespace {

using fd::PeerTable;

const std::string kA = "02:fd:00:00:00:0a", kB = "02:fd:00:00:00:0b", kC = "02:fd:00:00:00:0c";

TEST(PeerTable, AnAddressBelongsToTheFirstDeviceToDeliverItsInfoUntilItLeaves) {
    PeerTable t;
    auto a = t.SearchAnswered(kA, "198.18.1.20");
    EXPECT_EQ(a.undeliveredIp, "198.18.1.20");
    EXPECT_TRUE(a.askForInfo);
    EXPECT_TRUE(t.SearchAnswered(kB, "198.18.1.20").askForInfo);  // nobody holds it yet
    EXPECT_FALSE(t.AcceptInfo(kC, "198.18.1.20"));                // never answered a search
    EXPECT_TRUE(t.AcceptInfo(kA, "198.18.1.20"));
    EXPECT_FALSE(t.AcceptInfo(kB, "198.18.1.20"));
    // Delivered devices are not search-only any more; B is still, and is not asked again.
    EXPECT_EQ(t.SearchAnswered(kA, "198.18.1.20").undeliveredIp, "");
    const auto b = t.SearchAnswered(kB, "198.18.1.20");
    EXPECT_EQ(b.undeliveredIp, "198.18.1.20");
    EXPECT_FALSE(b.askForInfo);

    // A moves by keepalive: the address it left is free, the one it took is not.
    EXPECT_TRUE(t.KeepaliveFrom(kA, "198.18.1.21"));
    EXPECT_FALSE(t.KeepaliveFrom(kC, "198.18.1.22"));
    EXPECT_TRUE(t.AcceptInfo(kB, "198.18.1.20"));
    EXPECT_FALSE(t.SearchAnswered(kC, "198.18.1.21").askForInfo);

    // Set IP: announced for the current address only, taken on the acknowledgement from it.
    t.SetPendingAddress(kB, "198.18.1.99", "198.18.1.30");
    t.AdoptPendingAddress("198.18.1.20", kB);
    EXPECT_STREQ(t.Peers()[1].ip, "198.18.1.20");
    t.SetPendingAddress(kB, "198.18.1.20", "198.18.1.30");
    t.AdoptPendingAddress("198.18.1.77", kB);  // an answer from elsewhere moves nothing
    EXPECT_STREQ(t.Peers()[1].ip, "198.18.1.20");
    t.AdoptPendingAddress("198.18.1.20", kB);
    EXPECT_STREQ(t.Peers()[1].ip, "198.18.1.30");
    EXPECT_STREQ(t.Peers()[1].pending_ip, "");
    EXPECT_TRUE(t.SearchAnswered(kC, "198.18.1.20").askForInfo);
}

TEST(PeerTable, SilentDevicesAgeOutSearchOnlyOnesAreForgotten) {
    PeerTable t;
    t.SearchAnswered(kA, "198.18.1.1");
    t.AcceptInfo(kA, "198.18.1.1");
    t.SearchAnswered(kB, "198.18.1.2");  // never delivers
    int undelivered = 0;
    t.ForEachUndelivered([&](const fd::PeerEntry& p) { undelivered += p.mac == kB; });
    EXPECT_EQ(undelivered, 1);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(t.Sweep().empty());
    EXPECT_EQ(t.Sweep(), std::vector<std::string>{kA});
    EXPECT_EQ(t.Unknown({kA, kB, kC}), (std::vector<std::string>{kA, kC}));
    // A's address is free again once it is gone.
    EXPECT_TRUE(t.SearchAnswered(kC, "198.18.1.1").askForInfo);
    t.ForgetUndelivered();
    EXPECT_TRUE(t.Peers().empty());
    EXPECT_FALSE(t.KeepaliveFrom(kB, "198.18.1.2"));
}

}  // namespace
