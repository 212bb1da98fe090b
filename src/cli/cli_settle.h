#pragma once
// `search --settle N`: a search ends once it has gone quiet, i.e. something answered and no
// new answer came for N seconds. Answers arrive in a burst after each broadcast, so waiting
// out the whole search time adds nothing once the count has stopped growing.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

namespace fd::cli {

class SettleWatch {
public:
    using Clock = std::chrono::steady_clock;

    // count: how many answers so far (called at most every quarter second). seconds <= 0
    // never settles.
    SettleWatch(int seconds, std::function<std::size_t()> count)
        : m_quiet(seconds), m_count(std::move(count)) {}

    bool Settled(Clock::time_point now) {
        if (m_quiet.count() <= 0 || !m_count) return false;
        if (m_checked && now - *m_checked < std::chrono::milliseconds(250)) return m_settled;
        m_checked = now;
        const std::size_t n = m_count();
        if (n != m_last) {
            m_last = n;
            m_since = now;
        }
        m_settled = m_last > 0 && now - m_since >= m_quiet;
        return m_settled;
    }

private:
    std::chrono::seconds m_quiet;
    std::function<std::size_t()> m_count;
    std::optional<Clock::time_point> m_checked;
    Clock::time_point m_since{};
    std::size_t m_last = 0;
    bool m_settled = false;
};

}  // namespace fd::cli
