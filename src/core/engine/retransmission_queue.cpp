#include "engine/retransmission_queue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace fd {

namespace {

// What an answer must match to end a request.
std::string Key(std::string_view ip, std::string_view mac, int command) {
    std::string key;
    key.reserve(ip.size() + mac.size() + 8);
    key.append(ip).push_back('|');
    key.append(mac).push_back('|');
    key.append(std::to_string(command));
    return key;
}

std::string Key(const PendingRequest& r) {
    return Key({r.ip, strnlen(r.ip, sizeof r.ip)}, {r.mac, strnlen(r.mac, sizeof r.mac)},
               r.command);
}

}  // namespace

void RetransmissionQueue::EraseLocked(List::iterator it) {
    auto slot = m_index.find(Key(*it));
    if (slot != m_index.end()) {
        std::erase(slot->second, it);
        if (slot->second.empty()) m_index.erase(slot);
    }
    m_requests.erase(it);
}

void RetransmissionQueue::Add(const std::string& ip, int command, const void* body, int length,
                              const std::string& mac, int retries) {
    PendingRequest req;
    req.retries_left = retries;
    std::snprintf(req.ip, sizeof req.ip, "%s", ip.c_str());
    req.command = command;
    if (body && length > 0) {
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof req.body);
        std::memcpy(req.body, body, n);
        req.length = static_cast<int32_t>(n);
    }
    std::snprintf(req.mac, sizeof req.mac, "%s", mac.c_str());
    std::string key = Key(req);
    std::lock_guard l(m_lock);
    m_requests.push_back(req);
    m_index[std::move(key)].push_back(std::prev(m_requests.end()));
}

bool RetransmissionQueue::Acknowledge(const std::string& ip, const std::string& mac, int command) {
    std::lock_guard l(m_lock);
    auto slot = m_index.find(Key(ip, mac, command));
    if (slot == m_index.end()) return false;
    EraseLocked(slot->second.front());  // the oldest matching request is the one answered
    return true;
}

void RetransmissionQueue::TakeBack(const std::string& ip, int command, const std::string& mac) {
    std::lock_guard l(m_lock);
    auto slot = m_index.find(Key(ip, mac, command));
    if (slot != m_index.end()) EraseLocked(slot->second.back());
}

std::vector<std::pair<std::string, int>> RetransmissionQueue::Resend(const Send& send) {
    std::vector<std::pair<std::string, int>> givenUp;
    std::lock_guard l(m_lock);
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        auto next = std::next(it);
        if (it->retries_left > 0) {
            --it->retries_left;
            send(*it);
        } else {
            givenUp.emplace_back(it->mac, it->command);
            EraseLocked(it);
        }
        it = next;
    }
    return givenUp;
}

std::vector<PendingRequest> RetransmissionQueue::Requests() const {
    std::lock_guard l(m_lock);
    return {m_requests.begin(), m_requests.end()};
}

}  // namespace fd
