#pragma once
// The commands that wait for a device's acknowledgement, oldest first, and their resends.
// A command joins before it is sent (a device on the same segment can answer before the
// sending thread gets back), leaves when its answer comes, is taken back when it could not
// be sent at all, and is given up when its resends run out.
//
// Lock order: the queue's lock is held while Resend's send function runs (the engine's
// adapter lock is taken inside it), never the other way round.

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "wire/packet.h"

namespace fd {

// One command awaiting acknowledgement.
struct PendingRequest {
    int32_t retries_left = 0;
    char ip[16] = {};
    int32_t command = 0;
    uint8_t body[kMaxBody] = {};
    int32_t length = 0;
    char mac[20] = {};
};

class RetransmissionQueue {
public:
    // Resends a request's datagram (without queueing it again).
    using Send = std::function<void(const PendingRequest&)>;

    // A request with `retries` resends to come.
    void Add(const std::string& ip, int command, const void* body, int length,
             const std::string& mac, int retries);
    // Ends the oldest request of (ip, mac, command); false when there was none.
    bool Acknowledge(const std::string& ip, const std::string& mac, int command);
    // Takes back the newest request of (ip, mac, command): it could not be sent.
    void TakeBack(const std::string& ip, int command, const std::string& mac);
    // One pass: every request with resends left is sent again; the others are given up and
    // returned as (mac, command).
    std::vector<std::pair<std::string, int>> Resend(const Send& send);

    std::vector<PendingRequest> Requests() const;

private:
    using List = std::list<PendingRequest>;
    // Expects m_lock to be held.
    void EraseLocked(List::iterator it);

    mutable std::mutex m_lock;
    // List nodes never move, so an answer ends its request without shifting thousands of
    // 1.5 KB records behind it; the index finds the requests of one (ip, mac, command),
    // oldest first, without walking the list.
    List m_requests;
    std::unordered_map<std::string, std::vector<List::iterator>> m_index;
};

}  // namespace fd
