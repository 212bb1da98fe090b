#include "cli/cli_upgrade.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <thread>

#include "actions/file_server_control.h"
#include "actions/upgrade_session.h"
#include "cli/cli_app.h"
#include "cli/cli_session.h"
#include "config/labels.h"
#include "config/language.h"
#include "engine/device_protocol.h"
#include "store/sql_management.h"
#include "system/local_adapters.h"

namespace fd::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string RowVersion(const ap_info_stu& rec) {
    const auto* v = reinterpret_cast<const char*>(rec.version);
    return std::string(v, strnlen(v, std::min<std::size_t>(rec.version_len, sizeof rec.version)));
}

}  // namespace

int RunUpgrade(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    // The path as given (a link keeps its own name, which the devices ask for); the file
    // server gets the file it resolves to. Not normalised by its text: "link/.." is not
    // the folder that holds the link, and the file checked must be the file served.
    const std::string imagePath = std::filesystem::absolute(o.image).string();
    const uint32_t imageSize = UpgradeImageSize(imagePath);
    CSqlManagement& store = s.Store();
    CDeviceProtocol& engine = s.Engine();

    // Everything that can be checked without the network is checked before the search.
    CFileServerControl::Options so;
    so.port = static_cast<uint16_t>(o.tftpPort);
    so.extraArgs = {"--quiet"};
    CFileServerControl server(so);
    if (::access(server.Program().c_str(), X_OK) != 0) {
        err << "fielddesk-cli: " << server.Program() << " is missing\n";
        return kExitEnvironment;
    }
    if (const std::string why = server.ElevationProblem(); !why.empty()) {
        err << "fielddesk-cli: " << why << " (or use --tftp-port)\n";
        return kExitEnvironment;
    }

    // Find the devices (the search ends as soon as all are stored).
    auto allFound = [&] {
        return std::all_of(o.macs.begin(), o.macs.end(),
                           [&](const std::string& m) { return store.GetApStatus(m) != 0; });
    };
    if (!Search(s, o.seconds, allFound, err)) return kExitInterrupted;

    std::vector<DeviceTarget> targets;
    bool anyFailed = false;
    for (const auto& mac : o.macs) {
        ap_info_stu rec{};
        if (!store.QueryApByMac(mac, rec)) {
            out << mac << "  -  failed: not found by the search\n";
            anyFailed = true;
            continue;
        }
        DeviceTarget t{};
        std::snprintf(t.ip, sizeof t.ip, "%s", IpToText(rec.ip).c_str());
        std::snprintf(t.mac, sizeof t.mac, "%s", mac.c_str());
        t.ap_type = rec.ap_type;
        targets.push_back(t);
    }
    if (targets.empty()) return kExitDeviceFailed;
    // An unknown --model was refused with the other arguments.
    const int model = GetModelCode(o.model.empty() ? GetModelLabel(targets[0].ap_type) : o.model);
    for (const auto& t : targets)
        if (t.ap_type != model) {
            out << t.mac << "  " << t.ip << "  skipped: model " << GetModelLabel(t.ap_type)
                << ", not " << GetModelLabel(model) << "\n";
            anyFailed = true;
        }

    if (server.NeedsElevation())
        err << "fielddesk-cli: FileServer needs the right to use port " << o.tftpPort
            << "; asking through pkexec (the capability, see 'man FileServer', spares the "
               "password)\n";

    CUpgradeTally tally;
    std::map<std::string, std::string> ipOf;
    for (const auto& t : targets) ipOf[t.mac] = t.ip;
    bool closed = false;
    CUpgradeSession::Hooks hooks;
    hooks.showStatus = [&](const std::string& mac, int status) {
        if (tally.Note(mac, status))
            out << mac << "  " << ipOf[mac] << "  " << GetStatusLabel(status) << "\n" << std::flush;
    };
    hooks.closed = [&](bool) { closed = true; };
    CUpgradeSession session(engine, store, server, hooks);
    const std::string name = SplitImagePath(imagePath).second;
    session.Start(targets, model, imagePath, MakeUpgradeImageInfo(name, imageSize),
                  EnumerateLocalAdapters());
    err << "Upgrading " << session.WatchList().size() << " device"
        << (session.WatchList().size() == 1 ? "" : "s") << " of model " << GetModelLabel(model)
        << " with " << name << " (" << imageSize << " bytes)\n";

    const auto tick = std::chrono::milliseconds(o.tickMs);
    auto next = Clock::now() + tick;
    auto lastPhase = CUpgradeSession::Phase::Idle;
    bool serverTold = false;
    while (!closed) {
        std::this_thread::sleep_until(next);
        next += tick;
        if (g_interrupted) {
            session.Cancel();
            err << "fielddesk-cli: interrupted; the file server is stopped\n";
            return kExitInterrupted;
        }
        session.Tick();
        if (!serverTold) {
            if (const std::string why = server.Failure(); !why.empty()) {
                err << "fielddesk-cli: the file server is not serving: " << why << "\n";
                serverTold = true;
            }
        }
        if (session.GetPhase() != lastPhase &&
            session.GetPhase() != CUpgradeSession::Phase::Closed) {
            err << GetLangText(session.PhaseText()) << " (" << session.ProgressMax() << " s)\n";
            lastPhase = session.GetPhase();
        }
    }

    // Devices that flashed come back through the searches at the end; give the slow ones a
    // little longer, searching every third second.
    auto settled = [&](const DeviceTarget& t) {
        const bool flashed = tally.Judge(t.mac, true, AP_STATUS_ONLINE, "").ok;
        ap_info_stu rec{};
        return !flashed || (store.QueryApByMac(t.mac, rec) && rec.ap_status == AP_STATUS_ONLINE);
    };
    for (int i = 0; i < o.returnSeconds && !g_interrupted; ++i) {
        if (std::all_of(session.WatchList().begin(), session.WatchList().end(), settled)) break;
        if (i % 3 == 0) engine.SendSearch();
        std::this_thread::sleep_for(tick);
    }
    // The last device information may still be on its way through the engine.
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(tick, 500ms));

    for (const auto& t : session.WatchList()) {
        ap_info_stu rec{};
        const bool row = store.QueryApByMac(t.mac, rec);
        const auto v = tally.Judge(t.mac, row, row ? rec.ap_status : 0, row ? RowVersion(rec) : "",
                                   {server.Failure(), server.HeardFrom(t.ip)});
        out << t.mac << "  " << t.ip << "  " << v.text << "\n";
        anyFailed = anyFailed || !v.ok;
    }
    if (g_interrupted) return kExitInterrupted;
    return anyFailed ? kExitDeviceFailed : kExitOk;
}

}  // namespace fd::cli
