#include "engine/discovered_rows.h"

#include <algorithm>
#include <cstring>

namespace fd {

namespace {

std::string MacOf(const ap_info_stu& rec) {
    return std::string(rec.mac, strnlen(rec.mac, sizeof rec.mac));
}

}  // namespace

void DiscoveredRows::Hold(const ap_info_stu& rec, Clock::time_point now) {
    const std::string mac = MacOf(rec);
    std::lock_guard l(m_lock);
    auto [it, added] = m_held.try_emplace(mac, Held{rec, now, m_next});
    if (added)
        ++m_next;
    else
        it->second.rec = rec;
}

void DiscoveredRows::Drop(const std::string& mac) {
    std::lock_guard l(m_lock);
    m_held.erase(mac);
}

void DiscoveredRows::DropAll() {
    std::lock_guard l(m_lock);
    m_held.clear();
}

void DiscoveredRows::WriteHeldSince(Clock::time_point heldBefore, const Writer& write) {
    std::lock_guard l(m_lock);
    std::vector<const Held*> due;
    for (const auto& [mac, held] : m_held)
        if (held.since <= heldBefore) due.push_back(&held);
    if (due.empty()) return;
    std::sort(due.begin(), due.end(),
              [](const Held* a, const Held* b) { return a->order < b->order; });
    std::vector<ap_info_stu> rows;
    rows.reserve(due.size());
    for (const Held* h : due) rows.push_back(h->rec);
    write(rows);
    for (const ap_info_stu& rec : rows) m_held.erase(MacOf(rec));
}

std::size_t DiscoveredRows::Size() const {
    std::lock_guard l(m_lock);
    return m_held.size();
}

}  // namespace fd
