// fielddesk-devsim: emulated devices for the network lab. Run it inside the lab's devices
// namespace (scripts/netlab exec LAB dev -- fielddesk-devsim --count 40); it adds its
// devices' addresses to the interface itself and answers searches and commands until the
// duration has passed or it is interrupted.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/ini_file.h"
#include "devsim/device_peer.h"
#include "fielddesk_version.h"
#include "rules/country_table.h"
#include "system/local_adapters.h"

using namespace fd;
using namespace fd::devsim;

namespace {

const char* kUsage =
    "usage: fielddesk-devsim --count N [--seed S] [--first-ip 198.18.1.1] [--interface IF]\n"
    "                        [--config FILE] [--duration SECONDS] [--keepalive SECONDS]\n"
    "                        [--restart-seconds S] [--neighbours N] [--drop-rate P]\n"
    "                        [--neighbour-signals LIST] [--neighbour-security LIST]\n"
    "                        [--hear-aps] [--bridge-result R]\n"
    "                        [--delay-ms MS] [--flash-seconds S] [--tftp-port N]\n"
    "                        [--stats] [--verbose]\n"
    "Emulated devices for the network lab. Run it only inside the lab's devices namespace:\n"
    "  scripts/netlab exec LAB dev -- fielddesk-devsim --count 40\n"
    "(fielddesk --demo and fielddesk-cli demo make such a lab and run it there.)\n"
    "  --count N         devices to emulate (1..10000)\n"
    "  --seed S          varies models, modes, channels and names (default 1)\n"
    "  --first-ip IP     address of the first device; the others follow, skipping .0 and\n"
    "                    .255 (default 198.18.1.1; all must lie in 198.18.0.0/15)\n"
    "  --interface IF    the devices' interface (default dev0)\n"
    "  --config FILE     per-device settings: sections [Device N] (N from 0) with keys mac,\n"
    "                    ip, name, ssid, version, ap_type, work_mode, channel, up_time,\n"
    "                    short_brief (0/1), answer_search (0/1), answer_info (0/1), ack\n"
    "                    (ack, silent, or the address to acknowledge from), vlan_id,\n"
    "                    work_mode, mode_btn (0/1), secure_mode, transparent_bridge (0/1),\n"
    "                    airslot (0/1), restart_seconds, neighbours, drop_rate (0..1),\n"
    "                    country (a code such as AU or NL, after channel),\n"
    "                    ignore_field / alter_field (channel, country, power, ssid, name,\n"
    "                    vlan-manage, vlan-wlan, ip, mask, gateway: acknowledged but kept,\n"
    "                    or set to alter_value), revert_on_restart (0/1),\n"
    "                    delay_ms and malformed (0/1), neighbour_signals and\n"
    "                    neighbour_security (lists as below), bridge_result, hears (device\n"
    "                    numbers whose access point it hears); two devices given the same ip\n"
    "                    share the address; flash_seconds, upgrade_fetch_fails\n"
    "                    (0/1: the image fetch breaks off and is reported failed) and\n"
    "                    upgrade_never_returns (0/1: silent for good after the upgrade\n"
    "                    start)\n"
    "  --duration S      stop after S seconds (default: run until interrupted)\n"
    "  --keepalive S     seconds between keepalives to the PC that searched last\n"
    "                    (default 10, 0: none)\n"
    "  --restart-seconds S  silence after an accepted reboot or factory reset (default 3)\n"
    "  --neighbours N    access points each device reports to a scan (default 12), in\n"
    "                    scan results of at most 31 entries each\n"
    "  --neighbour-signals LIST  their signals in dBm, comma-separated, taken in turn\n"
    "                    (default -40, -41, ... -89)\n"
    "  --neighbour-security LIST  their security codes (0 open, 1 WEP, 2..10 WPA kinds),\n"
    "                    taken in turn (default 0)\n"
    "  --hear-aps        every device also hears the first 8 emulated devices in AP mode\n"
    "  --bridge-result R result byte of the answer to a bridge configuration (default 0;\n"
    "                    other values refuse the link and change nothing)\n"
    "  --drop-rate P     share of datagrams every device misses, 0..1 (default 0)\n"
    "  --delay-ms MS     every answer leaves this much later (default 0)\n"
    "  --flash-seconds S silence after an upgrade start before the device is back with\n"
    "                    the image's version (default 3)\n"
    "  --tftp-port N     port of the PC's file server the images are fetched from\n"
    "                    (default 69)\n"
    "  --stats           print what the devices sent when it stops (standard output)\n"
    "  --verbose         print every datagram received\n"
    "  -h, --help        print this help and exit\n"
    "  --version         print the version and exit\n";

std::atomic<bool> g_stop{false};
void OnSignal(int) {
    g_stop = true;
}

bool InLabRange(uint32_t hostOrder) {
    return (hostOrder >> 17) == (0xC612'0000u >> 17);
}

// A strict dotted address inside the lab's range.
bool InLabText(const std::string& text) {
    const auto ip = ParseIpv4(text);
    return ip && InLabRange(*ip);
}

// The network namespace must be a lab's: every IPv4 address on it in 198.18.0.0/15.
bool LooksLikeLab(std::string& why) {
    for (const auto& a : EnumerateLocalAdapters()) {
        for (int i = 0; i < a.ip_count; ++i) {
            if (!InLabText(a.addrs[i].ip)) {
                why = std::string("interface ") + a.name + " holds " + a.addrs[i].ip;
                return false;
            }
        }
    }
    return true;
}

bool AddAddresses(const std::string& ifname, const std::vector<std::string>& ips) {
    // -force: an address that is there already is no reason to stop.
    FILE* p = popen("ip -force -batch - >/dev/null 2>&1", "w");
    if (!p) return false;
    for (const auto& ip : ips)
        std::fprintf(p, "addr add %s/16 dev %s\n", ip.c_str(), ifname.c_str());
    return pclose(p) != -1;
}

const int kModels[] = {1, 2, 3, 4, 5, 6, 8, 10, 11, 257, 258, 260, 265, 267};
const int kChannels[] = {1, 6, 11, 36, 40, 44, 48, 149, 153, 157, 161};
const char* kPlaces[] = {"Roof", "Mast", "Tower", "Barn", "Gate", "楼顶", "东塔", "仓库"};

EmulatedDevice Generate(int n, const std::string& address, std::mt19937& rng) {
    EmulatedDevice dev = MakeDevice(n);
    ap_info_stu& r = dev.info;
    dev.address = address;
    IpFromText(address, r.ip);
    auto pick = [&](auto& arr) { return arr[rng() % (sizeof arr / sizeof arr[0])]; };
    r.ap_type = static_cast<uint16_t>(pick(kModels));
    r.work_mode = static_cast<uint8_t>(1 + rng() % 7);
    SetRadio(r, pick(kChannels));
    r.up_time = static_cast<uint32_t>(rng() % (90 * 86400));
    r.tdmaEn = static_cast<uint8_t>(rng() % 2);
    r.bridge_transparent = static_cast<uint8_t>(rng() % 2);
    SetSecurity(r, static_cast<int>(rng() % 4));
    r.mode_btn_status = static_cast<uint8_t>(rng() % 2);
    r.vlan_en = static_cast<uint8_t>(rng() % 2);
    r.vlan_id = static_cast<uint16_t>(1 + rng() % 4094);
    r.vlan_id_wlan = static_cast<uint16_t>(1 + rng() % 4094);
    r.vlan_id_lan = static_cast<uint16_t>(1 + rng() % 4094);
    r.vlan_pvid = static_cast<uint16_t>(1 + rng() % 4094);
    r.vlan_id_lan3 = static_cast<uint16_t>(1 + rng() % 4094);
    r.vlan_id_lan4 = static_cast<uint16_t>(1 + rng() % 4094);
    r.restart_en = static_cast<uint8_t>(rng() % 2);
    r.restart_type = static_cast<uint8_t>((1 + rng() % 127) << 1);  // day bits, 0x01 never set
    r.restart_time = static_cast<uint16_t>(rng() % 1440);
    std::string name = std::string(pick(kPlaces)) + "-" + std::to_string(n + 1);
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, name);
    char version[32];
    unsigned major = 2 + rng() % 2, minor = rng() % 10, build = 100 + rng() % 900;
    std::snprintf(version, sizeof version, "FDX %u.%u.%u", major, minor, build);
    SetFieldText(r.version, sizeof r.version, r.version_len, version);
    return dev;
}

// What one device reports to a scan, settled once every device is configured (it may hear
// the others).
struct NeighbourPlan {
    int count = 12;
    std::vector<int> signals;
    std::vector<int> securities;
    std::vector<int> hears;  // device numbers
};

// "a,b,c" -> numbers; false when an item is no number in [lo, hi].
bool ParseList(const std::string& text, int lo, int hi, std::vector<int>& out) {
    out.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || v < lo || v > hi) return false;
        out.push_back(static_cast<int>(v));
        at = comma + 1;
    }
    return !out.empty();
}

bool ApplyConfig(const std::string& path, int n, EmulatedDevice& dev, NeighbourPlan& plan,
                 std::string& error) {
    std::string section = "Device " + std::to_string(n);
    auto get = [&](const char* key) { return ReadProfileString(path, section, key, "\x01", 256); };
    auto has = [](const std::string& v) { return v != "\x01"; };
    auto fail = [&](const std::string& what) {
        error = section + ": " + what;
        return false;
    };
    ap_info_stu& r = dev.info;
    if (auto v = get("mac"); has(v)) {
        uint8_t mac[6];
        if (!MacFromText(v, mac)) return fail("bad mac " + v);
        SetRecordMac(r, mac);
    }
    if (auto v = get("ip"); has(v)) {
        if (!InLabText(v)) return fail("ip must lie in 198.18.0.0/15");
        dev.address = v;
        IpFromText(v, r.ip);
    }
    if (auto v = get("name"); has(v)) SetFieldText(r.ap_name, 32, r.ap_name_len, v);
    if (auto v = get("ssid"); has(v)) SetFieldText(r.ssid, 32, r.ssid_len, v);
    if (auto v = get("version"); has(v)) SetFieldText(r.version, 32, r.version_len, v);
    if (auto v = get("ap_type"); has(v)) r.ap_type = static_cast<uint16_t>(std::atoi(v.c_str()));
    if (auto v = get("work_mode"); has(v)) r.work_mode = static_cast<uint8_t>(std::atoi(v.c_str()));
    if (auto v = get("channel"); has(v)) SetRadio(r, std::atoi(v.c_str()));
    if (auto v = get("up_time"); has(v))
        r.up_time = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
    auto flag = [](const std::string& v) { return static_cast<uint8_t>(v == "1" ? 1 : 0); };
    if (auto v = get("vlan_id"); has(v)) r.vlan_id = static_cast<uint16_t>(std::atoi(v.c_str()));
    if (auto v = get("mode_btn"); has(v)) r.mode_btn_status = flag(v);
    if (auto v = get("secure_mode"); has(v)) SetSecurity(r, std::atoi(v.c_str()));
    if (auto v = get("transparent_bridge"); has(v)) r.bridge_transparent = flag(v);
    if (auto v = get("airslot"); has(v)) r.tdmaEn = flag(v);
    if (auto v = get("country"); has(v)) {
        // A code of the devices' list (NL, AU, ...), rows of the country table or not.
        const int number = CountryCodeNumber(v);
        if (number == 0 && v != "CN") return fail("country: unknown code " + v);
        r.country_code = static_cast<uint8_t>(number);
    }
    if (auto v = get("ignore_field"); has(v)) {
        if (!IsKnownDeviceField(v)) return fail("ignore_field: unknown field " + v);
        dev.ignoredField = v;
    }
    if (auto v = get("alter_field"); has(v)) {
        if (!IsKnownDeviceField(v)) return fail("alter_field: unknown field " + v);
        dev.alteredField = v;
    }
    if (auto v = get("alter_value"); has(v)) dev.alteredValue = std::atoi(v.c_str());
    if (auto v = get("revert_on_restart"); has(v)) dev.revertOnRestart = flag(v) != 0;
    if (auto v = get("restart_seconds"); has(v))
        dev.restartSilence =
            std::chrono::milliseconds(static_cast<int64_t>(std::atof(v.c_str()) * 1000));
    if (auto v = get("neighbours"); has(v)) {
        int n = std::atoi(v.c_str());
        if (n < 0 || n > 1000) return fail("neighbours takes 0..1000");
        plan.count = n;
    }
    if (auto v = get("neighbour_signals"); has(v) && !ParseList(v, -128, 127, plan.signals))
        return fail("neighbour_signals takes dBm values -128..127");
    if (auto v = get("neighbour_security"); has(v) && !ParseList(v, 0, 255, plan.securities))
        return fail("neighbour_security takes codes 0..255");
    if (auto v = get("hears"); has(v) && !ParseList(v, 0, 3999, plan.hears))
        return fail("hears takes device numbers");
    if (auto v = get("bridge_result"); has(v))
        dev.ackResult[CMD_BRIDGE_CONFIG] = static_cast<uint8_t>(std::atoi(v.c_str()));
    if (auto v = get("drop_rate"); has(v)) {
        dev.dropRate = std::atof(v.c_str());
        if (dev.dropRate < 0 || dev.dropRate > 1) return fail("drop_rate takes 0..1");
    }
    if (auto v = get("delay_ms"); has(v))
        dev.replyDelay = std::chrono::milliseconds(std::atoi(v.c_str()));
    if (auto v = get("malformed"); has(v)) dev.malformed = v == "1";
    if (auto v = get("flash_seconds"); has(v))
        dev.flashSilence = std::chrono::milliseconds(static_cast<int64_t>(std::atof(v.c_str()) * 1000));
    if (auto v = get("upgrade_fetch_fails"); has(v)) dev.upgradeFetchFails = v == "1";
    if (auto v = get("upgrade_never_returns"); has(v)) dev.upgradeNeverReturns = v == "1";
    if (auto v = get("short_brief"); has(v)) dev.shortBrief = v == "1";
    if (auto v = get("answer_search"); has(v)) dev.answerSearch = v != "0";
    if (auto v = get("answer_info"); has(v)) dev.answerInfo = v != "0";
    if (auto v = get("ack"); has(v)) {
        if (v == "ack") {
            dev.ackMode = AckMode::Ack;
        } else if (v == "silent") {
            dev.ackMode = AckMode::Silent;
        } else if (InLabText(v)) {
            dev.ackMode = AckMode::FromOtherAddress;
            dev.ackAddress = v;
        } else {
            return fail("ack takes ack, silent or a lab address");
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // From the first instruction: a stop asked for at any moment ends the run normally.
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    int count = 0;
    unsigned seed = 1;
    std::string firstIp = "198.18.1.1", ifname = "dev0", configPath;
    double duration = 0, keepalive = 10, restartSeconds = 3, dropRate = 0, flashSeconds = 3;
    int tftpPort = 69;
    int neighbours = 12, delayMs = 0, bridgeResult = 0;
    std::vector<int> neighbourSignals, neighbourSecurity;
    bool verbose = false, stats = false, hearAps = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "fielddesk-devsim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--count")
            count = std::atoi(value().c_str());
        else if (a == "--seed")
            seed = static_cast<unsigned>(std::strtoul(value().c_str(), nullptr, 10));
        else if (a == "--first-ip")
            firstIp = value();
        else if (a == "--interface")
            ifname = value();
        else if (a == "--config")
            configPath = value();
        else if (a == "--duration")
            duration = std::atof(value().c_str());
        else if (a == "--keepalive")
            keepalive = std::atof(value().c_str());
        else if (a == "--restart-seconds")
            restartSeconds = std::atof(value().c_str());
        else if (a == "--neighbours")
            neighbours = std::atoi(value().c_str());
        else if (a == "--neighbour-signals") {
            if (!ParseList(value(), -128, 127, neighbourSignals)) {
                std::fprintf(stderr, "fielddesk-devsim: --neighbour-signals takes dBm values\n");
                return 2;
            }
        } else if (a == "--neighbour-security") {
            if (!ParseList(value(), 0, 255, neighbourSecurity)) {
                std::fprintf(stderr, "fielddesk-devsim: --neighbour-security takes codes 0..255\n");
                return 2;
            }
        } else if (a == "--hear-aps")
            hearAps = true;
        else if (a == "--bridge-result")
            bridgeResult = std::atoi(value().c_str());
        else if (a == "--drop-rate")
            dropRate = std::atof(value().c_str());
        else if (a == "--delay-ms")
            delayMs = std::atoi(value().c_str());
        else if (a == "--flash-seconds")
            flashSeconds = std::atof(value().c_str());
        else if (a == "--tftp-port")
            tftpPort = std::atoi(value().c_str());
        else if (a == "--stats")
            stats = true;
        else if (a == "--verbose")
            verbose = true;
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("fielddesk-devsim %s\n", FIELDDESK_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "fielddesk-devsim: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (count < 1 || count > 10000) {
        std::fprintf(stderr, "fielddesk-devsim: --count takes 1..10000\n");
        return 2;
    }
    if (restartSeconds < 0 || restartSeconds > 3600 || neighbours < 0 || neighbours > 1000 ||
        dropRate < 0 || dropRate > 1 || delayMs < 0 || delayMs > 60000 || flashSeconds < 0 ||
        flashSeconds > 3600 || tftpPort < 1 || tftpPort > 65535) {
        std::fprintf(stderr,
                     "fielddesk-devsim: --restart-seconds takes 0..3600, --neighbours 0..1000, "
                     "--drop-rate 0..1, --delay-ms 0..60000, --flash-seconds 0..3600, "
                     "--tftp-port 1..65535\n");
        return 2;
    }
    const uint32_t base = ParseIpv4(firstIp).value_or(0);
    if (!InLabRange(base)) {
        std::fprintf(stderr, "fielddesk-devsim: --first-ip must lie in 198.18.0.0/15\n");
        return 2;
    }
    std::string why;
    if (!LooksLikeLab(why)) {
        std::fprintf(stderr,
                     "fielddesk-devsim: refusing to run outside the network lab (%s); start it "
                     "with scripts/netlab exec LAB dev -- ...\n",
                     why.c_str());
        return 1;
    }

    std::mt19937 rng(seed);
    std::vector<EmulatedDevice> devices;
    std::vector<NeighbourPlan> plans;
    uint32_t ip = base;
    for (int n = 0; n < count; ++n, ++ip) {
        while ((ip & 0xff) == 0 || (ip & 0xff) == 255 || ip == 0xC6120001u) ++ip;
        if (!InLabRange(ip)) {
            std::fprintf(stderr, "fielddesk-devsim: addresses run past 198.19.255.255\n");
            return 2;
        }
        devices.push_back(Generate(n, Ipv4ToText(ip), rng));
        EmulatedDevice& d = devices.back();
        d.restartSilence = std::chrono::milliseconds(static_cast<int64_t>(restartSeconds * 1000));
        d.dropRate = dropRate;
        d.replyDelay = std::chrono::milliseconds(delayMs);
        if (bridgeResult != 0) d.ackResult[CMD_BRIDGE_CONFIG] = static_cast<uint8_t>(bridgeResult);
        NeighbourPlan plan;
        plan.count = neighbours;
        plan.signals = neighbourSignals;
        plan.securities = neighbourSecurity;
        d.flashSilence = std::chrono::milliseconds(static_cast<int64_t>(flashSeconds * 1000));
        std::string error;
        if (!configPath.empty() && !ApplyConfig(configPath, n, devices.back(), plan, error)) {
            std::fprintf(stderr, "fielddesk-devsim: %s: %s\n", configPath.c_str(), error.c_str());
            return 2;
        }
        plans.push_back(std::move(plan));
    }
    // Scan answers: the devices heard first (strong signals), then the generated ones.
    std::vector<int> apModes;
    for (int n = 0; n < count && apModes.size() < 8; ++n)
        if (devices[static_cast<std::size_t>(n)].info.work_mode == WORK_MODE_AP) apModes.push_back(n);
    for (int n = 0; n < count; ++n) {
        const NeighbourPlan& plan = plans[static_cast<std::size_t>(n)];
        std::vector<int> heard = plan.hears;
        if (hearAps) heard.insert(heard.end(), apModes.begin(), apModes.end());
        std::vector<config_otherwl_basic> aps;
        for (int h : heard) {
            if (h == n || h >= count) continue;
            aps.push_back(NeighbourOf(devices[static_cast<std::size_t>(h)],
                                      static_cast<int8_t>(-50 - static_cast<int>(aps.size()))));
        }
        for (const auto& ap : MakeNeighbours(plan.count, plan.signals, plan.securities))
            aps.push_back(ap);
        devices[static_cast<std::size_t>(n)].scanBodies = ScanBodiesFor(aps);
    }
    std::vector<std::string> addresses;
    for (const auto& d : devices) {
        addresses.push_back(d.address);
        if (d.ackMode == AckMode::FromOtherAddress) addresses.push_back(d.ackAddress);
    }
    if (!AddAddresses(ifname, addresses)) {
        std::fprintf(stderr, "fielddesk-devsim: cannot add the addresses to %s\n", ifname.c_str());
        return 1;
    }

    PeerOptions options;
    options.joinInterfaces = {ifname};
    options.recordLimit = 10000;
    options.seed = seed;
    options.tftpPort = static_cast<uint16_t>(tftpPort);
    // A device told to take another address gets it on the interface, as long as it lies in
    // the lab's range; outside it the device has no address to send from.
    options.onAddressChange = [ifname](const std::string& ip) {
        if (InLabText(ip))
            AddAddresses(ifname, {ip});
        else
            std::fprintf(stderr, "fielddesk-devsim: not adding %s: outside 198.18.0.0/15\n",
                         ip.c_str());
    };
    DevicePeer peer(options);
    for (const auto& d : devices) peer.AddDevice(d);
    if (verbose) {
        peer.SetReceiveObserver([](const PeerDatagram& dg) {
            std::fprintf(stderr, "%s:%u -> %s:%u command %u mac %s, %zu bytes\n", dg.fromIp.c_str(),
                         dg.fromPort, dg.toIp.c_str(), dg.toPort, dg.Command(),
                         dg.MacText().c_str(), dg.bytes.size());
        });
    }
    std::string error;
    if (!peer.Start(&error)) {
        std::fprintf(stderr, "fielddesk-devsim: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "fielddesk-devsim: %d devices from %s on %s\n", count,
                 devices.front().address.c_str(), ifname.c_str());

    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    long ticked = 0;
    // Devices keep their own time: each tick a different slice of them sends its keepalive,
    // so that thousands do not arrive at the PC in one burst every period.
    const unsigned slices = static_cast<unsigned>(std::max(1.0, keepalive / 0.1));
    unsigned tick = 0;
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto now = Clock::now();
        if (duration > 0 && now - start >= std::chrono::duration<double>(duration)) break;
        // The devices' clocks run: up_time grows by the seconds that passed.
        long elapsed = static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(now - start).count());
        if (elapsed > ticked) {
            peer.AddUpTime(static_cast<uint32_t>(elapsed - ticked));
            ticked = elapsed;
        }
        if (keepalive > 0) {
            std::string pc = peer.LastSearcher();
            if (!pc.empty()) peer.SendKeepalives(pc, tick % slices, slices);
            ++tick;
        }
    }
    peer.Stop();
    if (stats) {
        PeerCounters c = peer.Counters();
        std::printf(
            "sent brief_info=%llu device_info=%llu acks=%llu scans=%llu keepalives=%llu "
            "malformed=%llu send_failures=%llu; missed dropped=%llu silent=%llu\n",
            static_cast<unsigned long long>(c.briefInfo),
            static_cast<unsigned long long>(c.deviceInfo), static_cast<unsigned long long>(c.acks),
            static_cast<unsigned long long>(c.scans), static_cast<unsigned long long>(c.keepalives),
            static_cast<unsigned long long>(c.malformed),
            static_cast<unsigned long long>(peer.SendFailures()),
            static_cast<unsigned long long>(c.dropped), static_cast<unsigned long long>(c.ignored));
        std::fflush(stdout);
    }
    return 0;
}
