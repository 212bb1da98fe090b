#include "cli/cli_upgrade.h"

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <thread>

#include "actions/engine_search_adapter.h"
#include "actions/file_server_control.h"
#include "actions/search_session.h"
#include "actions/upgrade_session.h"
#include "cli/cli_app.h"
#include "cli/cli_args.h"
#include "config/labels.h"
#include "config/language.h"
#include "config/settings.h"
#include "engine/device_protocol.h"
#include "store/sql_management.h"
#include "system/local_adapters.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace fd::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct UpgradeOptions {
    std::string image;
    std::vector<std::string> macs;
    std::string model;     // empty: the first device's
    int seconds = 30;      // longest search for the devices
    int port = 69;         // the file server's
    int tickMs = 1000;     // the upgrade's clock (tests run it faster)
    int returnTicks = 30;  // after the end, how long flashed devices may take to reappear
    bool help = false;
};

bool Int(const std::string& s, int lo, int hi, int& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && out >= lo && out <= hi;
}

std::string Parse(const std::vector<std::string>& args, UpgradeOptions& o) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) return false;
            v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--image") {
            if (!value(o.image)) return "--image needs a file";
        } else if (a == "--model") {
            if (!value(o.model)) return "--model needs a model name";
        } else if (a == "--seconds") {
            if (!value(v) || !Int(v, 1, 3600, o.seconds)) return "--seconds takes 1..3600";
        } else if (a == "--tftp-port") {
            if (!value(v) || !Int(v, 1, 65535, o.port)) return "--tftp-port takes 1..65535";
        } else if (a == "--tick-ms") {
            if (!value(v) || !Int(v, 10, 1000, o.tickMs)) return "--tick-ms takes 10..1000";
        } else if (a == "--return-seconds") {
            if (!value(v) || !Int(v, 0, 3600, o.returnTicks))
                return "--return-seconds takes 0..3600";
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (auto mac = NormalizeMac(a)) {
            if (std::find(o.macs.begin(), o.macs.end(), *mac) == o.macs.end())
                o.macs.push_back(*mac);
        } else {
            return "not a MAC address: " + a;
        }
    }
    if (o.help) return {};
    if (o.macs.empty()) return "no device given";
    if (std::string e = CheckUpgradeFilePath(o.image); !e.empty()) return GetLangText(e);
    return {};
}

std::string RowVersion(const ap_info_stu& rec) {
    const auto* v = reinterpret_cast<const char*>(rec.version);
    return std::string(v, strnlen(v, std::min<std::size_t>(rec.version_len, sizeof rec.version)));
}

}  // namespace

bool IsUpgradeCommand(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "upgrade";
}

std::string UpgradeHelp() {
    return "Usage: fielddesk-cli upgrade --image FILE.bin [--model NAME] [--seconds N] MAC...\n"
           "\n"
           "Upgrades the firmware of the devices: searches for them (at most --seconds,\n"
           "default 30), serves the image with FileServer (beside this program, UDP port 69,\n"
           "see the README for the rights it needs), asks the devices to fetch it, tells\n"
           "those that fetched it to flash it, and waits for them to come back. The image's\n"
           "name must end in .bin or .BIN. Only devices of one model are upgraded at a time:\n"
           "--model NAME, else the model of the first device; others are skipped.\n"
           "Prints each device's progress and result; the whole course takes a few minutes.\n"
           "\n"
           "  --tftp-port N         the file server's port (default 69)\n"
           "  --return-seconds N    how long flashed devices may take to reappear after the\n"
           "                        upgrade's own end (default 30)\n"
           "  --tick-ms N           length of the upgrade's second, 10..1000 (for tests)\n"
           "\n"
           "Exit codes: 0 all upgraded, 1 a device failed or was not found, 2 bad command\n"
           "line or image, 3 cannot run here, 130 interrupted (the file server is stopped).\n";
}

int RunUpgradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    UpgradeOptions o;
    if (std::string e = Parse(args, o); !e.empty()) {
        err << "fielddesk-cli: " << e << "\nTry 'fielddesk-cli upgrade --help'.\n";
        return kExitUsage;
    }
    if (o.help) {
        out << UpgradeHelp();
        return kExitOk;
    }
    const std::string imagePath = std::filesystem::absolute(o.image).lexically_normal().string();
    const uint32_t imageSize = UpgradeImageSize(imagePath);
    if (imageSize == 0) {
        // The dialog would go on with size 0; here nobody is watching, so say it now.
        err << "fielddesk-cli: cannot read the image " << o.image << " (or it is empty)\n";
        return kExitUsage;
    }

    struct sigaction sa {};
    sa.sa_handler = [](int) { g_interrupted = true; };
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    if (auto port = FindBusyPort()) {
        err << "fielddesk-cli: another FieldDesk is running, or port " << *port << " is in use\n";
        return kExitEnvironment;
    }
    const std::string base = GetExecutableDirectory();
    InitLanguage(base);
    AppSettings settings = LoadSettings(base);
    settings.retransmissionMax = std::max(settings.retransmissionMax, 0);
    settings.retransmissionInterval = std::max(settings.retransmissionInterval, 100);

    std::string parent = RuntimeDirectory();
    if (parent.empty()) parent = "/tmp";
    std::string scratch = parent + "/fielddesk-cli-XXXXXX";
    if (!mkdtemp(scratch.data())) {
        err << "fielddesk-cli: cannot make a scratch folder in " << parent << "\n";
        return kExitEnvironment;
    }
    struct Cleanup {
        std::string dir;
        ~Cleanup() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } cleanup{scratch};
    auto store = std::make_unique<CSqlManagement>(scratch + "/data.mdb");
    if (!store->IsOpen()) {
        err << "fielddesk-cli: cannot open the database\n";
        return kExitEnvironment;
    }
    DeviceProtocolOptions eo;
    eo.store = store.get();
    auto engine = std::make_unique<CDeviceProtocol>(eo);
    if (!engine->Start(settings.retransmissionMax, settings.retransmissionInterval)) {
        err << "fielddesk-cli: cannot start the protocol engine (UDP ports 9785-9788)\n";
        return kExitEnvironment;
    }
    struct EngineStop {
        CDeviceProtocol& e;
        ~EngineStop() { e.Stop(); }
    } engineStop{*engine};

    // Find the devices (the search ends as soon as all are stored).
    {
        EngineSearchAdapter adapter(*engine);
        SearchSession search(adapter, o.seconds);
        search.Start();
        const auto start = Clock::now();
        err << "Searching for " << o.macs.size() << " device" << (o.macs.size() == 1 ? "" : "s")
            << "...\n";
        while (search.IsRunning()) {
            const auto next = start + std::chrono::seconds(search.Ticks() + 1);
            while (Clock::now() < next && search.IsRunning()) {
                const bool all =
                    std::all_of(o.macs.begin(), o.macs.end(),
                                [&](const std::string& m) { return store->GetApStatus(m) != 0; });
                if (g_interrupted || all) search.Stop();
                std::this_thread::sleep_for(50ms);
            }
            if (search.IsRunning()) search.Tick();
        }
        if (g_interrupted) return kExitInterrupted;
    }

    std::vector<DeviceTarget> targets;
    bool anyFailed = false;
    for (const auto& mac : o.macs) {
        ap_info_stu rec{};
        if (!store->QueryApByMac(mac, rec)) {
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
    const int model =
        o.model.empty() ? GetModelCode(GetModelLabel(targets[0].ap_type)) : GetModelCode(o.model);
    if (!o.model.empty() && GetModelLabel(model) != o.model) {
        err << "fielddesk-cli: unknown model " << o.model << "\n";
        return kExitUsage;
    }
    for (const auto& t : targets)
        if (t.ap_type != model) {
            out << t.mac << "  " << t.ip << "  skipped: model " << GetModelLabel(t.ap_type)
                << ", not " << GetModelLabel(model) << "\n";
            anyFailed = true;
        }

    CFileServerControl::Options so;
    so.port = static_cast<uint16_t>(o.port);
    so.extraArgs = {"--quiet"};
    CFileServerControl server(so);
    if (::access(server.Program().c_str(), X_OK) != 0) {
        err << "fielddesk-cli: " << server.Program() << " is missing\n";
        return kExitEnvironment;
    }
    if (server.NeedsElevation())
        err << "fielddesk-cli: FileServer needs the right to use port " << o.port
            << "; asking through pkexec\n";

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
    int lastPhase = -1;
    CUpgradeSession session(*engine, *store, server, hooks);
    auto [folder, name] = SplitImagePath(imagePath);
    session.Start(targets, model, folder, MakeUpgradeImageInfo(name, imageSize));
    err << "Upgrading " << session.WatchList().size() << " device"
        << (session.WatchList().size() == 1 ? "" : "s") << " of model " << GetModelLabel(model)
        << " with " << name << " (" << imageSize << " bytes)\n";

    const auto tick = std::chrono::milliseconds(o.tickMs);
    auto next = Clock::now() + tick;
    while (!closed) {
        std::this_thread::sleep_until(next);
        next += tick;
        if (g_interrupted) {
            session.Cancel();
            err << "fielddesk-cli: interrupted; the file server is stopped\n";
            return kExitInterrupted;
        }
        session.Tick();
        const int phase = static_cast<int>(session.GetPhase());
        if (phase != lastPhase && session.GetPhase() != CUpgradeSession::Phase::Closed) {
            err << GetLangText(session.PhaseText()) << " (" << session.ProgressMax() << " s)\n";
            lastPhase = phase;
        }
    }

    // Devices that flashed come back through the searches at the end; give the slow ones a
    // little longer, searching every third second.
    auto back = [&](const DeviceTarget& t) {
        const bool flashed = tally.Judge(t.mac, true, AP_STATUS_ONLINE, "").ok;
        ap_info_stu rec{};
        return !flashed || (store->QueryApByMac(t.mac, rec) && rec.ap_status == AP_STATUS_ONLINE);
    };
    for (int i = 0; i < o.returnTicks && !g_interrupted; ++i) {
        if (std::all_of(session.WatchList().begin(), session.WatchList().end(), back)) break;
        if (i % 3 == 0) engine->SendSearch();
        std::this_thread::sleep_for(tick);
    }
    // The last device info may still be on its way through the engine.
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(tick, 500ms));

    for (const auto& t : session.WatchList()) {
        ap_info_stu rec{};
        const bool row = store->QueryApByMac(t.mac, rec);
        const auto v = tally.Judge(t.mac, row, row ? rec.ap_status : 0, row ? RowVersion(rec) : "");
        out << t.mac << "  " << t.ip << "  " << v.text << "\n";
        anyFailed = anyFailed || !v.ok;
    }
    if (g_interrupted) return kExitInterrupted;
    return anyFailed ? kExitDeviceFailed : kExitOk;
}

}  // namespace fd::cli
