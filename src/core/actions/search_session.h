#pragma once
// The search the device lists run when the user presses Search: probe and forget the
// devices that answered an earlier search but never sent their information, purge stored
// devices the engine no longer knows, broadcast, and then broadcast again every third
// second until the search ends (30 seconds unless told otherwise). Each broadcast asks for
// the first page of the list to be reloaded; the end of the search asks for the current
// page.
//
// The caller owns the clock: a page forwards its one-second timer, the command-line tool a
// steady clock. Nothing here sleeps or touches a socket.

#include <functional>

#include "engine/device_engine.h"

namespace fd {


class SearchSession {
public:
    enum class Reload {
        FirstPage,    // a broadcast went out: show page 1
        CurrentPage,  // the search ended: refresh what is shown
    };
    using ReloadHandler = std::function<void(Reload)>;

    static constexpr int kDefaultTicks = 30;
    static constexpr int kSearchEvery = 3;

    // durationTicks: the tick at which the search ends (at least 1).
    explicit SearchSession(ISearchEngine& engine, int durationTicks = kDefaultTicks);

    void SetReloadHandler(ReloadHandler handler) { m_onReload = std::move(handler); }

    // Prepares the engine and sends the first broadcast. A running search starts over.
    void Start();
    // One second has passed. Returns whether the search is still running afterwards.
    bool Tick();
    // Ends the search early; nothing more is sent. Does nothing when not running.
    void Stop();

    bool IsRunning() const { return m_running; }
    int Ticks() const { return m_ticks; }
    int DurationTicks() const { return m_duration; }
    int Broadcasts() const { return m_broadcasts; }

    // The flag form of the reload request, for callers that poll instead of taking the
    // callback: the latest request since the last call, if any.
    bool TakeReloadRequest(Reload* which = nullptr);

private:
    void Finish();
    void RequestReload(Reload r);

    ISearchEngine& m_engine;
    int m_duration;
    int m_ticks = 0;
    int m_broadcasts = 0;
    bool m_running = false;
    bool m_reloadPending = false;
    Reload m_lastReload = Reload::FirstPage;
    ReloadHandler m_onReload;
};

}  // namespace fd
