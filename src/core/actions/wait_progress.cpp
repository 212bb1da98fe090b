#include "actions/wait_progress.h"

namespace fd {

WaitProgress::WaitProgress(int seconds, bool search, int searchCount, IWaitSearcher* searcher)
    : m_duration(seconds > 0 ? seconds * 2 : 0),
      m_search(search && searcher != nullptr),
      m_searchCount(searchCount > 0 ? searchCount : 0),
      m_searchesLeft(m_searchCount),
      m_searcher(searcher) {}

bool WaitProgress::Tick() {
    if (Finished()) return true;
    ++m_counter;
    // The searches go out three seconds (six ticks) apart, the last one on the final tick,
    // so that devices that come back late are still found before the wait closes.
    const int k = m_searchesLeft;
    if (m_search && k > 0 && m_counter == m_duration - 6 * k + 6) {
        if (k == m_searchCount) m_searcher->ProbeDiscoveredDevices();
        --m_searchesLeft;
        m_searcher->SendSearch();
    }
    return Finished();
}

}  // namespace fd
