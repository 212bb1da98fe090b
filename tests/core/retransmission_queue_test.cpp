// The engine's queue of commands awaiting acknowledgement, on its own: which request an
// answer ends, which one a failed send takes back, and when resends are given up.

#include "engine/retransmission_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using fd::PendingRequest;
using fd::RetransmissionQueue;

TEST(RetransmissionQueue, AnswersEndTheOldestAndFailedSendsTakeBackTheNewest) {
    RetransmissionQueue q;
    const uint8_t first[] = {1}, second[] = {2}, third[] = {3};
    q.Add("198.18.1.1", 8, first, 1, "02:fd:00:00:00:01", 3);
    q.Add("198.18.1.1", 8, second, 1, "02:fd:00:00:00:01", 3);
    q.Add("198.18.1.1", 8, third, 1, "02:fd:00:00:00:01", 3);
    q.Add("198.18.1.2", 8, first, 1, "02:fd:00:00:00:02", 3);

    // An answer from another address, device or command ends nothing.
    EXPECT_FALSE(q.Acknowledge("198.18.1.9", "02:fd:00:00:00:01", 8));
    EXPECT_FALSE(q.Acknowledge("198.18.1.1", "02:fd:00:00:00:01", 9));
    EXPECT_TRUE(q.Acknowledge("198.18.1.1", "02:fd:00:00:00:01", 8));
    q.TakeBack("198.18.1.1", 8, "02:fd:00:00:00:01");
    auto left = q.Requests();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].body[0], 2);  // the oldest was answered, the newest taken back
    EXPECT_STREQ(left[1].mac, "02:fd:00:00:00:02");
    EXPECT_TRUE(q.Acknowledge("198.18.1.1", "02:fd:00:00:00:01", 8));
    EXPECT_FALSE(q.Acknowledge("198.18.1.1", "02:fd:00:00:00:01", 8));
}

TEST(RetransmissionQueue, ResendsRunOutThenTheRequestIsGivenUp) {
    RetransmissionQueue q;
    q.Add("198.18.1.1", 9, nullptr, 0, "02:fd:00:00:00:01", 2);
    q.Add("198.18.1.2", 3, nullptr, 0, "02:fd:00:00:00:02", 0);
    std::vector<std::string> sent;
    auto pass = [&] {
        return q.Resend([&](const PendingRequest& r) { sent.emplace_back(r.mac); });
    };
    auto givenUp = pass();  // the one without resends goes at once
    ASSERT_EQ(givenUp.size(), 1u);
    EXPECT_EQ(givenUp[0], (std::pair<std::string, int>{"02:fd:00:00:00:02", 3}));
    EXPECT_TRUE(pass().empty());
    EXPECT_EQ(sent, (std::vector<std::string>{"02:fd:00:00:00:01", "02:fd:00:00:00:01"}));
    givenUp = pass();
    ASSERT_EQ(givenUp.size(), 1u);
    EXPECT_EQ(givenUp[0].second, 9);
    EXPECT_TRUE(q.Requests().empty());
    // A late answer finds nothing to end.
    EXPECT_FALSE(q.Acknowledge("198.18.1.1", "02:fd:00:00:00:01", 9));
}

}  // namespace
