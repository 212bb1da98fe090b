#pragma once
// The timed wait shown after reboot and factory-reset commands: a progress position that
// advances every half second and, when asked to, searches again for the devices coming back.

#include "engine/device_engine.h"

namespace fd {


class WaitProgress {
public:
    // One tick is half a second. searcher may be null when search is false.
    WaitProgress(int seconds, bool search, int searchCount, IWaitSearcher* searcher);

    // Advances one tick. Returns true once the wait is over (the caller closes the dialog).
    bool Tick();

    int Duration() const { return m_duration; }
    int Position() const { return m_counter < m_duration ? m_counter : m_duration; }
    int Counter() const { return m_counter; }
    bool Finished() const { return m_counter >= m_duration; }
    int SearchesLeft() const { return m_searchesLeft; }

private:
    int m_duration;
    int m_counter = 1;
    bool m_search;
    int m_searchCount;
    int m_searchesLeft;
    IWaitSearcher* m_searcher;
};

}  // namespace fd
