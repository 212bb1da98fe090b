#pragma once
// The store rows of devices that have only answered a search, held back for a moment before
// they are written. Nearly every device sends its information a few milliseconds after its
// search answer; its row is then written once, by the information, instead of twice. A
// device whose information does not come within the hold gets its search-only row.
//
// The lock is held while the due rows are written, so that a Drop() that has returned is
// never followed by a write of that device's row. It is never taken under another engine
// lock.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/packet.h"

namespace fd {

class DiscoveredRows {
public:
    using Clock = std::chrono::steady_clock;
    using Writer = std::function<void(const std::vector<ap_info_stu>& rows)>;

    // A search answer's record, keyed by its mac. A later answer of the same device replaces
    // the record; its hold keeps running from the first.
    void Hold(const ap_info_stu& rec, Clock::time_point now = Clock::now());
    // The device's information has arrived, or the device is gone: its row is not written.
    void Drop(const std::string& mac);
    void DropAll();
    // Hands every record held since `heldBefore` or earlier to write, in the order the
    // devices first answered, and forgets them.
    void WriteHeldSince(Clock::time_point heldBefore, const Writer& write);
    std::size_t Size() const;

private:
    struct Held {
        ap_info_stu rec;
        Clock::time_point since;
        uint64_t order;
    };
    mutable std::mutex m_lock;
    std::unordered_map<std::string, Held> m_held;
    uint64_t m_next = 0;
};

}  // namespace fd
