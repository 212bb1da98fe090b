#include "actions/search_session.h"

namespace fd {

SearchSession::SearchSession(ISearchEngine& engine, int durationTicks)
    : m_engine(engine), m_duration(durationTicks < 1 ? 1 : durationTicks) {}

void SearchSession::Start() {
    // Devices that answered an earlier search but never delivered their information are
    // probed once more and then forgotten, so that this search finds them afresh; stored
    // devices the engine has dropped meanwhile go before the first broadcast.
    m_engine.ProbeDiscoveredDevices();
    m_engine.ForgetDiscoveredDevices();
    m_engine.PurgeStaleDevices();
    m_engine.SendSearch();
    m_ticks = 0;
    m_broadcasts = 1;
    m_running = true;
    RequestReload(Reload::FirstPage);
}

bool SearchSession::Tick() {
    if (!m_running) return false;
    ++m_ticks;
    if (m_ticks >= m_duration) {
        Finish();
        return false;
    }
    if (m_ticks % kSearchEvery == 0) {
        m_engine.SendSearch();
        ++m_broadcasts;
        RequestReload(Reload::FirstPage);
    }
    return true;
}

void SearchSession::Stop() {
    if (m_running) Finish();
}

void SearchSession::Finish() {
    m_running = false;
    RequestReload(Reload::CurrentPage);
}

void SearchSession::RequestReload(Reload r) {
    m_reloadPending = true;
    m_lastReload = r;
    if (m_onReload) m_onReload(r);
}

bool SearchSession::TakeReloadRequest(Reload* which) {
    if (!m_reloadPending) return false;
    m_reloadPending = false;
    if (which) *which = m_lastReload;
    return true;
}

}  // namespace fd
