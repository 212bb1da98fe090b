// Many devices changing addresses at once: played out wave by wave on a map of who holds
// which address, no move may land on an address still held, and every device must end where
// the plan puts it.

#include "rules/address_moves.h"

#include <gtest/gtest.h>

#include <map>

using namespace fd;

namespace {

// Plays the waves out; a failure names the move that landed on a held address.
std::string PlayOut(const std::vector<AddressMove>& plan, const AddressMoveOrder& order,
                    const std::map<std::string, std::string>& others = {}) {
    std::map<std::string, std::string> holder = others;  // address -> mac
    std::map<std::string, std::string> at;               // mac -> address
    for (const auto& m : plan) {
        holder[m.from] = m.mac;
        at[m.mac] = m.from;
    }
    for (const auto& wave : order.waves) {
        for (const auto& m : wave) {  // a wave goes out at once: check before moving any
            if (at[m.mac] != m.from) return m.mac + " is not at " + m.from;
            if (holder.count(m.to))
                return m.mac + " moved onto " + m.to + ", held by " + holder[m.to];
        }
        for (const auto& m : wave) {
            holder.erase(m.from);
            holder[m.to] = m.mac;
            at[m.mac] = m.to;
        }
    }
    for (const auto& m : plan)
        if (at[m.mac] != m.to) return m.mac + " ended at " + at[m.mac];
    return "";
}

}  // namespace

TEST(AddressMoves, ChainsAndCyclesEndWhereThePlanSaysWithoutAClash) {
    // A chain of four (each to the next one's address, the last to a free one), a swap, a
    // three-cycle, a device keeping its address, and one moving to a free address.
    const std::vector<AddressMove> plan = {
        {"a", "10.0.0.1", "10.0.0.2"},    {"b", "10.0.0.2", "10.0.0.3"},
        {"c", "10.0.0.3", "10.0.0.4"},    {"d", "10.0.0.4", "10.0.0.50"},
        {"s1", "10.0.1.1", "10.0.1.2"},   {"s2", "10.0.1.2", "10.0.1.1"},
        {"t1", "10.0.2.1", "10.0.2.2"},   {"t2", "10.0.2.2", "10.0.2.3"},
        {"t3", "10.0.2.3", "10.0.2.1"},   {"same", "10.0.3.1", "10.0.3.1"},
        {"free", "10.0.4.1", "10.0.4.2"},
    };
    const AddressMoveOrder order = OrderAddressMoves(plan, "10.0.9.9");
    ASSERT_EQ(order.error, "");
    EXPECT_EQ(PlayOut(plan, order), "");
    // The chain needs one wave per link; the free moves go in the first.
    ASSERT_GE(order.waves.size(), 4u);
    EXPECT_NE(std::find(order.waves[0].begin(), order.waves[0].end(),
                        AddressMove{"free", "10.0.4.1", "10.0.4.2"}),
              order.waves[0].end());
    // The spare is used by one cycle at a time and is free again at the end.
    int viaSpare = 0;
    for (const auto& wave : order.waves)
        for (const auto& m : wave) viaSpare += m.to == "10.0.9.9";
    EXPECT_EQ(viaSpare, 2);
    for (const auto& wave : order.waves)
        for (const auto& m : wave) EXPECT_NE(m.mac, "same");
}

TEST(AddressMoves, ACycleWithoutASpareIsRefusedByName) {
    const std::vector<AddressMove> plan = {
        {"free", "10.0.4.1", "10.0.4.2"},
        {"02:fd:00:00:00:01", "10.0.0.1", "10.0.0.2"},
        {"02:fd:00:00:00:02", "10.0.0.2", "10.0.0.1"},
    };
    const AddressMoveOrder order = OrderAddressMoves(plan, "");
    EXPECT_TRUE(order.waves.empty());
    EXPECT_EQ(order.error,
              "the addresses of 02:fd:00:00:00:01 (10.0.0.1 to 10.0.0.2), 02:fd:00:00:00:02 "
              "(10.0.0.2 to 10.0.0.1) go round in a cycle; give a free address with --spare-ip "
              "to move them through");
    // A spare that a device of the plan moves to is no spare; one it leaves first is.
    EXPECT_EQ(OrderAddressMoves(plan, "10.0.4.2").error,
              "the spare address 10.0.4.2 is planned for free");
    const AddressMoveOrder viaLeft = OrderAddressMoves(plan, "10.0.4.1");
    EXPECT_EQ(viaLeft.error, "");
    EXPECT_EQ(PlayOut(plan, viaLeft), "");
}
