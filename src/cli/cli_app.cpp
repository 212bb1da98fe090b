#include "cli/cli_app.h"

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli_output.h"
#include "cli/cli_settle.h"
#include "config/language.h"
#include "config/settings.h"
#include "actions/engine_search_adapter.h"
#include "config/labels.h"
#include "actions/search_session.h"
#include "engine/device_protocol.h"
#include "rules/address_rules.h"
#include "store/sql_management.h"
#include "system/local_adapters.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace fd::cli {

std::atomic<bool> g_interrupted{false};

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kAllRows = 1 << 20;  // one page that holds every device
constexpr auto kPoll = 50ms;
// After a request leaves the pending list, how long an answer may still be on its way
// through the engine's worker before the request counts as unanswered.
constexpr auto kAnswerGrace = 500ms;

std::optional<int> FindBusyPortIn(std::initializer_list<int> ports) {
    for (int port : ports) {
        // Bound without SO_REUSEADDR: the bind fails if any socket holds the port, even
        // one that allows sharing (the engine's do; sharing would split the answers).
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool busy = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 &&
                          errno == EADDRINUSE;
        close(fd);
        if (busy) return port;
    }
    return std::nullopt;
}

// The engine and a private store for one run of the tool.
class Session {
public:
    ~Session() {
        if (m_engine) m_engine->Stop();
        m_engine.reset();
        m_store.reset();  // deletes its file
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }

    int Open(std::ostream& err) {
        if (auto port = FindBusyPort()) {
            err << "fielddesk-cli: another FieldDesk is running, or port " << *port
                << " is in use\n";
            return kExitEnvironment;
        }
        const std::string base = GetExecutableDirectory();
        InitLanguage(base);
        m_settings = LoadSettings(base);
        if (m_settings.retransmissionMax < 0) m_settings.retransmissionMax = 0;
        if (m_settings.retransmissionInterval < 100) m_settings.retransmissionInterval = 100;

        // A store of our own for this run, so that a FieldDesk window elsewhere keeps its
        // database.
        std::string parent = RuntimeDirectory();
        if (parent.empty()) parent = "/tmp";
        std::string templ = parent + "/fielddesk-cli-XXXXXX";
        if (!mkdtemp(templ.data())) {
            err << "fielddesk-cli: cannot make a scratch folder in " << parent << "\n";
            return kExitEnvironment;
        }
        m_dir = templ;
        std::string storeMessage;
        m_store = std::make_unique<CSqlManagement>(
            m_dir + "/data.mdb", [&storeMessage](const std::string& t) { storeMessage = t; });
        if (!m_store->IsOpen()) {
            err << "fielddesk-cli: "
                << (storeMessage.empty() ? "cannot open the database" : storeMessage) << "\n";
            return kExitEnvironment;
        }

        DeviceProtocolOptions o;
        o.store = m_store.get();
        o.onAcknowledged = [this](const Acknowledgement& a) {
            std::lock_guard l(m_ackLock);
            m_acks.push_back(a);
        };
        m_engine = std::make_unique<CDeviceProtocol>(o);
        if (!m_engine->Start(m_settings.retransmissionMax, m_settings.retransmissionInterval)) {
            err << "fielddesk-cli: cannot start the protocol engine (UDP ports 9785-9788)\n";
            return kExitEnvironment;
        }
        if (EnumerateLocalAdapters().empty())
            err << "fielddesk-cli: warning: no network adapter with an IPv4 address is up\n";
        return kExitOk;
    }

    CDeviceProtocol& Engine() { return *m_engine; }
    CSqlManagement& Store() { return *m_store; }
    const AppSettings& Settings() const { return m_settings; }

    std::optional<Acknowledgement> FindAck(const std::string& mac, int command) {
        std::lock_guard l(m_ackLock);
        for (const auto& a : m_acks)
            if (a.mac == mac && a.command == command) return a;
        return std::nullopt;
    }

private:
    std::string m_dir;
    AppSettings m_settings;
    std::unique_ptr<CSqlManagement> m_store;
    std::unique_ptr<CDeviceProtocol> m_engine;
    std::mutex m_ackLock;
    std::vector<Acknowledgement> m_acks;
};

std::size_t StoredCount(CSqlManagement& store) {
    std::vector<std::string> macs;
    store.QueryApMacList(macs);
    return macs.size();
}

// The search sequence on a steady one-second clock. Ends early when `enough` holds.
// Returns false when interrupted.
bool Search(Session& s, int seconds, const std::function<bool()>& enough, std::ostream& err) {
    const bool live = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    EngineSearchAdapter adapter(s.Engine());
    SearchSession search(adapter, seconds);
    search.Start();
    const auto start = Clock::now();
    auto lastShown = start - 1s;
    bool shown = false;
    while (search.IsRunning()) {
        const auto nextTick = start + std::chrono::seconds(search.Ticks() + 1);
        while (Clock::now() < nextTick && search.IsRunning()) {
            if (g_interrupted || (enough && enough())) search.Stop();
            if (live && Clock::now() - lastShown >= 500ms) {
                lastShown = Clock::now();
                const auto found = StoredCount(s.Store());
                const auto discovered = s.Engine().GetPeers().size();
                err << "\rSearching... " << (seconds - search.Ticks()) << " s left, " << found
                    << " device" << (found == 1 ? "" : "s") << " found (" << discovered
                    << " answered)   " << std::flush;
                shown = true;
            }
            std::this_thread::sleep_for(kPoll);
        }
        if (search.IsRunning()) search.Tick();
    }
    if (shown) err << "\r" << std::string(60, ' ') << "\r" << std::flush;
    return !g_interrupted;
}

std::vector<DeviceRow> ListDevices(Session& s, const Options& o) {
    ApInfoList stored;
    int pageCount = 0, rowCount = 0;
    s.Store().QueryApPage(o.sortIndex, stored, pageCount, rowCount, kAllRows, 1, !o.descending,
                          o.filter);
    std::vector<DeviceRow> rows;
    for (const auto& rec : stored) rows.push_back(MakeDeviceRow(rec));
    // Devices that answered but have not sent their details follow, as on the list pages.
    ApInfoList discovered;
    s.Engine().GetDiscoveredDevices(discovered, kAllRows, o.filter);
    for (const auto& rec : discovered) rows.push_back(MakeDeviceRow(rec));
    return rows;
}

int RunSearch(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    // An interrupted search still lists what it found, as pressing Stop does.
    SettleWatch settle(o.settleSeconds,
                       [&] { return s.Engine().GetPeers().size() + StoredCount(s.Store()); });
    Search(s, o.seconds, [&] { return settle.Settled(Clock::now()); }, err);
    const auto rows = ListDevices(s, o);
    switch (o.format) {
        case Format::Table:
            out << FormatTable(rows);
            break;
        case Format::Json:
            out << FormatJson(rows);
            break;
        case Format::Csv:
            out << FormatCsv(rows);
            break;
    }
    out.flush();
    return kExitOk;
}

// ---- actions ----

struct Job {
    std::string mac;
    std::string ip;     // where the device is now
    std::string newIp;  // set-ip only
    int command = 0;
    std::vector<uint8_t> body;
    bool finished = false;
    bool ok = false;
    std::string outcome;
    std::optional<Clock::time_point> goneSince;
};

std::string RecordText(const uint8_t* ip) {
    const std::string t = IpToText(ip);
    return t == "0.0.0.0" ? std::string() : t;
}

// Builds the set-ip jobs after every rule has passed; an error message otherwise.
std::string PlanSetIp(Session& s, const Options& o, const std::vector<ap_info_stu>& recs,
                      std::vector<Job>& jobs) {
    const ap_info_stu& first = recs.front();
    auto pick = [](const std::string& given, const std::string& own) {
        if (given == "0.0.0.0") return std::string();
        return given.empty() ? own : given;
    };
    std::vector<std::string> newIps;
    std::vector<AddressForm> forms;
    if (!o.rangeFirst.empty()) {
        AddressForm f;
        f.ip = o.rangeFirst;
        f.mask = o.mask.empty() ? IpToText(first.ip_mask) : o.mask;
        f.gateway = pick(o.gateway, RecordText(first.ip_gateway));
        f.dns1 = pick(o.dns1, RecordText(first.ip_dns1));
        f.dns2 = pick(o.dns2, RecordText(first.ip_dns2));
        if (!IsValidSubnetMask(f.mask)) return "The subnet mask is invalid!";
        const uint32_t begin = *ParseIpv4(f.ip);
        const uint32_t mask = *ParseIpv4(f.mask);
        const std::string last = o.rangeEnd.empty() ? Ipv4ToText(begin | ~mask) : o.rangeEnd;
        newIps = WalkIpRange(f.ip, last, recs.size());
        if (newIps.size() < recs.size()) {
            std::ostringstream m;
            m << "the range " << f.ip << " - " << last << " holds " << newIps.size()
              << " usable address" << (newIps.size() == 1 ? "" : "es") << " for " << recs.size()
              << " devices";
            return m.str();
        }
        f.end = o.rangeEnd.empty() ? newIps.back() : o.rangeEnd;
        if (auto e = CheckRangeAddress(f, recs.size()); !e.empty()) return e;
        // Every address handed out, not just the two ends, must be a usable host address
        // in the same subnet as the first.
        for (const auto& ip : newIps)
            if (!IsValidIpAddress(ip, false) || !IsSameSubnet(ip, f.ip, f.mask))
                return "The ip address is invalid! (" + ip + " in the range)";
        for (std::size_t i = 0; i < recs.size(); ++i) {
            AddressForm g = f;
            g.ip = newIps[i];
            forms.push_back(g);
        }
    } else {
        for (std::size_t i = 0; i < recs.size(); ++i) {
            const ap_info_stu& r = recs[i];
            AddressForm f;
            f.ip = o.pairs[i].second;
            f.mask = o.mask.empty() ? IpToText(r.ip_mask) : o.mask;
            f.gateway = pick(o.gateway, RecordText(r.ip_gateway));
            f.dns1 = pick(o.dns1, RecordText(r.ip_dns1));
            f.dns2 = pick(o.dns2, RecordText(r.ip_dns2));
            if (auto e = CheckDeviceAddress(f); !e.empty()) {
                if (e == "Ip address and gateway address is not in the same subnet!" &&
                    o.gateway.empty())
                    e += " (the device's gateway " + f.gateway + "; give --gateway)";
                return GetLangText(e) + " (" + r.mac + ")";
            }
            forms.push_back(f);
            newIps.push_back(f.ip);
        }
    }
    // No device may be given an address another device already has.
    std::vector<std::string> used;
    s.Store().QueryApIpList(used);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::string own = IpToText(recs[i].ip);
        for (const auto& u : used)
            if (u == newIps[i] && u != own)
                return GetLangText("The ip address is already in use, please respecify!") + " (" +
                       u + ")";
    }
    for (std::size_t i = 0; i < recs.size(); ++i) {
        IpConfigBlock b{};
        b.ip_mode = 1;
        const auto ip = IpTextToBytes(forms[i].ip), mask = IpTextToBytes(forms[i].mask),
                   gw = IpTextToBytes(forms[i].gateway), d1 = IpTextToBytes(forms[i].dns1),
                   d2 = IpTextToBytes(forms[i].dns2);
        std::copy(ip.begin(), ip.end(), b.ip);
        std::copy(mask.begin(), mask.end(), b.ip_mask);
        std::copy(gw.begin(), gw.end(), b.ip_gateway);
        std::copy(d1.begin(), d1.end(), b.ip_dns1);
        std::copy(d2.begin(), d2.end(), b.ip_dns2);
        b.reserved = 1;
        Job j;
        j.mac = recs[i].mac;
        j.ip = IpToText(recs[i].ip);
        j.newIp = forms[i].ip;
        j.command = CMD_SET_IP;
        auto bytes = BytesOf(b);
        j.body.assign(bytes.begin(), bytes.end());
        jobs.push_back(std::move(j));
    }
    return {};
}

std::string PlanRename(const Options& o, const std::vector<ap_info_stu>& recs,
                       std::vector<Job>& jobs) {
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const std::string& name = o.pairs[i].second;
        if (!IsValidDeviceName(name, recs[i].ap_type))
            return GetLangText(DeviceNameRuleMessage(recs[i].ap_type)) + " (" + recs[i].mac + ")";
        DeviceNameBlock b{};
        SetFieldText(b.ap_name, sizeof b.ap_name, b.ap_name_len, name);
        Job j;
        j.mac = recs[i].mac;
        j.ip = IpToText(recs[i].ip);
        j.command = CMD_SET_NAME;
        auto bytes = BytesOf(b);
        j.body.assign(bytes.begin(), bytes.end());
        jobs.push_back(std::move(j));
    }
    return {};
}

void Report(std::ostream& out, const Job& j) {
    out << j.mac << "  " << (j.ip.empty() ? "-" : j.ip) << "  " << j.outcome << "\n" << std::flush;
}

// Waits for every sent job to be answered, refused or given up by the engine.
void WaitForAnswers(Session& s, std::vector<Job>& jobs, std::ostream& out) {
    const auto& st = s.Settings();
    const auto deadline = Clock::now() +
                          std::chrono::milliseconds(static_cast<int64_t>(st.retransmissionMax + 2) *
                                                    st.retransmissionInterval) +
                          2s;
    for (;;) {
        bool open = false;
        const auto pending = s.Engine().GetPendingRequests();
        for (Job& j : jobs) {
            if (j.finished) continue;
            const bool isStatusCommand = j.command == CMD_REBOOT || j.command == CMD_RESET;
            const int target = j.command == CMD_REBOOT ? AP_STATUS_RESTARTING : AP_STATUS_RESETING;
            auto finish = [&](bool ok, std::string outcome) {
                j.finished = true;
                j.ok = ok;
                j.outcome = std::move(outcome);
                Report(out, j);
            };
            if (auto ack = s.FindAck(j.mac, j.command)) {
                if (isStatusCommand && ack->result != 0)
                    finish(false, "refused (result " + std::to_string(ack->result) + ")");
                else if (isStatusCommand)
                    finish(true, GetStatusLabel(s.Store().GetApStatus(j.mac)));
                else if (j.command == CMD_SET_IP)
                    finish(true, "acknowledged, now " + j.newIp);
                else
                    finish(true, "acknowledged");
                continue;
            }
            if (isStatusCommand && s.Store().GetApStatus(j.mac) == target) {
                finish(true, GetStatusLabel(target));
                continue;
            }
            bool stillPending = false;
            for (const auto& p : pending)
                if (p.command == j.command && j.mac == p.mac && j.ip == p.ip) stillPending = true;
            if (!stillPending) {
                if (!j.goneSince) j.goneSince = Clock::now();
                if (Clock::now() - *j.goneSince >= kAnswerGrace) {
                    finish(false, "no answer");
                    continue;
                }
            }
            if (g_interrupted) {
                finish(false, "interrupted");
                continue;
            }
            if (Clock::now() >= deadline) {
                finish(false, "no answer");
                continue;
            }
            open = true;
        }
        if (!open) return;
        std::this_thread::sleep_for(kPoll);
    }
}

int RunAction(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    const std::vector<std::string>& macs = o.macs;
    auto allFound = [&] {
        for (const auto& mac : macs)
            if (s.Store().GetApStatus(mac) == 0) return false;  // 0: no row
        return true;
    };
    if (!Search(s, o.seconds, allFound, err)) return kExitInterrupted;

    std::vector<ap_info_stu> recs;
    std::vector<std::string> missing;
    for (const auto& mac : macs) {
        ap_info_stu rec{};
        if (s.Store().QueryApByMac(mac, rec))
            recs.push_back(rec);
        else
            missing.push_back(mac);
    }
    if (!missing.empty()) {
        for (const auto& mac : missing) out << mac << "  -  not found by the search\n";
        err << "fielddesk-cli: nothing was sent: " << missing.size() << " of " << macs.size()
            << " device" << (macs.size() == 1 ? "" : "s") << " not found within " << o.seconds
            << " s\n";
        return kExitDeviceFailed;
    }

    std::vector<Job> jobs;
    std::string refusal;
    switch (o.command) {
        case Command::Reboot:
        case Command::Reset:
            for (const auto& r : recs) {
                Job j;
                j.mac = r.mac;
                j.ip = IpToText(r.ip);
                j.command = o.command == Command::Reboot ? CMD_REBOOT : CMD_RESET;
                jobs.push_back(std::move(j));
            }
            break;
        case Command::Rename:
            refusal = PlanRename(o, recs, jobs);
            break;
        case Command::SetIp:
            refusal = PlanSetIp(s, o, recs, jobs);
            break;
        default:
            break;
    }
    if (!refusal.empty()) {
        err << "fielddesk-cli: " << GetLangText(refusal) << "\nNothing was sent.\n";
        return kExitUsage;
    }

    for (Job& j : jobs) {
        if (j.command == CMD_SET_IP) s.Engine().SetPendingAddress(j.mac, j.ip, j.newIp);
        const bool sent =
            s.Engine().SendToDevice(j.ip, j.command, j.body.empty() ? nullptr : j.body.data(),
                                    static_cast<int>(j.body.size()), j.mac, true);
        if (!sent) {
            j.finished = true;
            j.outcome = "cannot be sent: no adapter of this PC in the device's subnet";
            Report(out, j);
        }
    }
    WaitForAnswers(s, jobs, out);
    if (g_interrupted) return kExitInterrupted;
    for (const Job& j : jobs)
        if (!j.ok) return kExitDeviceFailed;
    return kExitOk;
}

}  // namespace

std::optional<int> FindBusyPort() {
    return FindBusyPortIn({kPortSearchReply, kPortSearch, kPortCommand, kPortInfo});
}

int RunCommand(const Options& options, std::ostream& out, std::ostream& err) {
    Session s;
    if (int rc = s.Open(err); rc != kExitOk) return rc;
    if (options.command == Command::Search) return RunSearch(s, options, out, err);
    return RunAction(s, options, out, err);
}

}  // namespace fd::cli
