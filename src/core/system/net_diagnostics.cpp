#include "system/net_diagnostics.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fd {

namespace {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        out.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ';') {
            if (!cur.empty()) out.push_back(std::move(cur));
            cur.clear();
        } else if (c == '{' || c == '}') {
            if (!cur.empty()) out.push_back(std::move(cur));
            cur.clear();
            out.emplace_back(1, c);
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

bool Has(const std::vector<std::string>& words, std::string_view w) {
    return std::find(words.begin(), words.end(), w) != words.end();
}

std::string Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

// Whether a port value ("9788", "9780-9790") names the port.
bool PortValueMatches(const std::string& v, int port) {
    const auto dash = v.find('-');
    char* end = nullptr;
    if (dash == std::string::npos) {
        const long p = std::strtol(v.c_str(), &end, 10);
        return end != v.c_str() && *end == '\0' && p == port;
    }
    const long lo = std::strtol(v.substr(0, dash).c_str(), nullptr, 10);
    const long hi = std::strtol(v.substr(dash + 1).c_str(), nullptr, 10);
    return lo <= port && port <= hi;
}

enum class PortMatch { None, Names, Other };

// What a rule's "dport" selector says about the port: it names it, names other ports only,
// or there is no dport at all.
PortMatch DportMatch(const std::vector<std::string>& w, int port) {
    for (std::size_t i = 0; i + 1 < w.size(); ++i) {
        if (w[i] != "dport") continue;
        std::size_t j = i + 1;
        if (w[j] == "!=") return PortMatch::Other;  // negations are not judged
        if (w[j] == "{") {
            for (++j; j < w.size() && w[j] != "}"; ++j)
                if (PortValueMatches(w[j], port)) return PortMatch::Names;
            return PortMatch::Other;
        }
        return PortValueMatches(w[j], port) ? PortMatch::Names : PortMatch::Other;
    }
    return PortMatch::None;
}

// A rule that selects by something this reader does not judge.
bool HasOtherSelector(const std::vector<std::string>& w) {
    for (const auto& t : w) {
        if (t == "saddr" || t == "daddr" || t == "iif" || t == "iifname" || t == "oif" ||
            t == "oifname" || t == "ct" || t == "tcp" || t == "icmp" || t == "icmpv6" ||
            t == "sport" || t == "mark" || t == "@nh" || t == "fib" || t == "limit" ||
            t == "pkttype")
            return true;
    }
    // "meta l4proto X" / "ip protocol X" other than udp select another protocol.
    for (std::size_t i = 0; i + 1 < w.size(); ++i)
        if ((w[i] == "l4proto" || w[i] == "protocol") && w[i + 1] != "udp") return true;
    return false;
}

}  // namespace

std::vector<PortHolder> ParseUdpSockets(std::string_view procNetUdp,
                                        const std::vector<int>& ports) {
    std::vector<PortHolder> out;
    bool header = true;
    for (auto line : Lines(procNetUdp)) {
        if (header) {  // "  sl  local_address rem_address   st tx_queue ..."
            header = false;
            continue;
        }
        std::istringstream in{std::string(line)};
        std::string sl, local, remote, st, queues, tr, retrnsmt, uid, timeout, inode;
        if (!(in >> sl >> local >> remote >> st >> queues >> tr >> retrnsmt >> uid >> timeout >>
              inode))
            continue;
        const auto colon = local.find(':');
        if (colon == std::string::npos) continue;
        const int port = static_cast<int>(std::strtol(local.c_str() + colon + 1, nullptr, 16));
        if (std::find(ports.begin(), ports.end(), port) == ports.end()) continue;
        PortHolder h;
        h.port = port;
        h.inode = std::strtoul(inode.c_str(), nullptr, 10);
        out.push_back(h);
    }
    return out;
}

std::vector<PortHolder> FindPortHolders(const std::vector<int>& ports) {
    // An IPv6 socket bound to the port blocks it for IPv4 too (unless it is v6-only).
    std::vector<PortHolder> holders = ParseUdpSockets(ReadWholeFile("/proc/net/udp"), ports);
    for (auto& h : ParseUdpSockets(ReadWholeFile("/proc/net/udp6"), ports))
        holders.push_back(std::move(h));
    if (holders.empty()) return holders;
    DIR* proc = opendir("/proc");
    if (!proc) return holders;
    while (dirent* e = readdir(proc)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0 || pid == getpid()) continue;
        const std::string fdDir = "/proc/" + std::string(e->d_name) + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;  // another user's process
        while (dirent* f = readdir(fds)) {
            char target[64] = {};
            const std::string link = fdDir + "/" + f->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0 || std::strncmp(target, "socket:[", 8) != 0) continue;
            const unsigned long inode = std::strtoul(target + 8, nullptr, 10);
            for (auto& h : holders) {
                if (h.inode != inode || h.pid != 0) continue;
                h.pid = pid;
                h.program = Trim(ReadWholeFile("/proc/" + std::string(e->d_name) + "/comm"));
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return holders;
}

std::optional<int> EffectiveRpFilter(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos) return std::nullopt;
    auto read = [](const std::string& name) -> std::optional<int> {
        const std::string text =
            Trim(ReadWholeFile("/proc/sys/net/ipv4/conf/" + name + "/rp_filter"));
        if (text.empty()) return std::nullopt;
        return std::atoi(text.c_str());
    };
    const auto all = read("all");
    const auto own = read(interfaceName);
    if (!all && !own) return std::nullopt;
    return std::max(all.value_or(0), own.value_or(0));
}

std::optional<uint64_t> ParseReversePathDrops(std::string_view procNetNetstat) {
    // Pairs of lines: "TcpExt: name name ..." then "TcpExt: value value ...".
    const auto lines = Lines(procNetNetstat);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const auto names = Words(lines[i]);
        const auto values = Words(lines[i + 1]);
        if (names.empty() || values.size() != names.size() || names[0] != values[0]) continue;
        for (std::size_t k = 1; k < names.size(); ++k)
            if (names[k] == "IPReversePathFilter")
                return std::strtoull(values[k].c_str(), nullptr, 10);
    }
    return std::nullopt;
}

std::optional<uint64_t> ReversePathDrops() {
    return ParseReversePathDrops(ReadWholeFile("/proc/net/netstat"));
}

std::vector<FirewallDrop> FindNftablesDrops(std::string_view ruleset, const std::vector<int>& ports,
                                            std::string_view hook) {
    std::vector<FirewallDrop> out;
    std::string table, chain;
    bool onHook = false, policyDrop = false;
    // After a jump the verdict may come from another chain (firewalld's zones do this), so
    // nothing after it is judged.
    bool opaque = false;
    std::vector<int> decided;  // ports accepted or dropped earlier in this chain
    int depth = 0;

    auto finishChain = [&] {
        if (onHook && policyDrop && !opaque)
            for (int p : ports)
                if (std::find(decided.begin(), decided.end(), p) == decided.end())
                    out.push_back({p, table + " / chain " + chain, "policy drop"});
        chain.clear();
        onHook = policyDrop = opaque = false;
        decided.clear();
    };

    for (auto raw : Lines(ruleset)) {
        const std::string line = Trim(raw);
        const auto w = Words(line);
        if (w.empty()) continue;
        if (w[0] == "table" && w.size() >= 3) {
            table = "table " + w[1] + " " + w[2];
            depth = 1;
            continue;
        }
        if (w[0] == "chain" && w.size() >= 2 && depth == 1) {
            chain = w[1];
            depth = 2;
            continue;
        }
        if (w[0] == "}") {
            if (depth == 2) finishChain();
            depth = depth > 0 ? depth - 1 : 0;
            continue;
        }
        if (w.back() == "{") {  // a set, map or flowtable block
            ++depth;
            continue;
        }
        if (depth != 2) continue;
        if (w[0] == "type" && Has(w, "hook")) {
            onHook = Has(w, hook);
            policyDrop = Has(w, "policy") && Has(w, "drop");
            continue;
        }
        if (!onHook || opaque) continue;
        if (Has(w, "jump") || Has(w, "goto")) {
            opaque = true;
            continue;
        }
        const bool drops = Has(w, "drop") || Has(w, "reject");
        const bool accepts = Has(w, "accept");
        if (!drops && !accepts) continue;
        if (HasOtherSelector(w)) continue;
        // A dport without udp/th names another protocol's port (tcp is excluded above).
        for (int p : ports) {
            if (std::find(decided.begin(), decided.end(), p) != decided.end()) continue;
            const PortMatch m = DportMatch(w, p);
            if (m == PortMatch::Other) continue;
            decided.push_back(p);
            if (drops) out.push_back({p, table + " / chain " + chain, line});
        }
    }
    return out;
}

AnswerAttribution AttributeAnswers(const std::vector<LocalAdapterInfo>& adapters,
                                   const std::vector<std::string>& deviceIps) {
    auto parse = [](const char* text, uint32_t& v) {
        in_addr a{};
        if (inet_pton(AF_INET, text, &a) != 1) return false;
        v = ntohl(a.s_addr);
        return true;
    };
    struct Net {
        uint32_t ip, mask;
    };
    AnswerAttribution r;
    std::vector<std::vector<Net>> nets;
    for (const auto& a : adapters) {
        AdapterAnswers aa;
        aa.name = std::string(a.name, strnlen(a.name, sizeof a.name));
        std::vector<Net> own;
        const int count = std::clamp(a.ip_count, 0, kMaxAdapterAddresses);
        for (int i = 0; i < count; ++i) {
            const std::string ip(a.addrs[i].ip, strnlen(a.addrs[i].ip, sizeof a.addrs[i].ip));
            const std::string mask(a.addrs[i].mask,
                                   strnlen(a.addrs[i].mask, sizeof a.addrs[i].mask));
            Net n{};
            if (!parse(ip.c_str(), n.ip) || !parse(mask.c_str(), n.mask)) continue;
            own.push_back(n);
            int bits = 0;
            for (uint32_t m = n.mask; m & 0x80000000u; m <<= 1) ++bits;
            aa.addresses.push_back(ip + "/" + std::to_string(bits));
        }
        nets.push_back(std::move(own));
        r.adapters.push_back(std::move(aa));
    }
    for (const auto& ip : deviceIps) {
        uint32_t d = 0;
        bool placed = false;
        if (parse(ip.c_str(), d)) {
            for (std::size_t k = 0; k < nets.size() && !placed; ++k)
                for (const Net& n : nets[k])
                    if ((n.ip & n.mask) == (d & n.mask)) {
                        r.adapters[k].devices.push_back(ip);
                        placed = true;
                        break;
                    }
        }
        if (!placed) r.outside.push_back(ip);
    }
    return r;
}

}  // namespace fd
