#include "fileserver/tftp_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "fileserver/tftp_protocol.h"

namespace fd::tftp {

namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

FetchResult Fetch(const std::string& serverIp, uint16_t port, const std::string& filename,
                  const FetchOptions& o) {
    FetchResult res;
    auto fail = [&](std::string why, uint16_t code = 0) {
        res.ok = false;
        res.error = std::move(why);
        res.errorCode = code;
        return res;
    };
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    if (inet_pton(AF_INET, serverIp.c_str(), &server.sin_addr) != 1)
        return fail("bad server address");
    Fd s;
    s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s.fd < 0) return fail("no socket");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (!o.localAddress.empty() && inet_pton(AF_INET, o.localAddress.c_str(), &local.sin_addr) != 1)
        return fail("bad local address");
    if (::bind(s.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return fail(std::string("cannot bind: ") + std::strerror(errno));

    std::vector<std::pair<std::string, std::string>> opts;
    if (o.blockSize) opts.emplace_back("blksize", std::to_string(o.blockSize));
    if (o.askSize) opts.emplace_back("tsize", "0");
    if (o.timeoutSeconds) opts.emplace_back("timeout", std::to_string(o.timeoutSeconds));
    std::vector<uint8_t> last = EncodeRequest(OP_RRQ, filename, "octet", opts);

    sockaddr_in tid{};
    bool haveTid = false;
    uint16_t blockSize = 512;
    uint64_t expected = 1;  // the data block wanted next, counted without wrap
    const auto end = Clock::now() + o.deadline;
    int retries = 0;
    std::vector<uint8_t> buf(65536 + 4);

    auto send = [&](const std::vector<uint8_t>& bytes) {
        const sockaddr_in& to = haveTid ? tid : server;
        ::sendto(s.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    };
    send(last);
    while (true) {
        if (Clock::now() >= end) return fail("transfer took too long");
        pollfd p{s.fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(o.wait.count()));
        if (r == 0) {
            if (++retries > o.retries) return fail("no answer from the server");
            send(last);
            continue;
        }
        if (r < 0) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n =
            ::recvfrom(s.fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 4) continue;
        if (from.sin_addr.s_addr != server.sin_addr.s_addr) continue;
        if (haveTid && from.sin_port != tid.sin_port) {
            auto err = EncodeError(ERR_UNKNOWN_TID, "unknown transfer ID");
            ::sendto(s.fd, err.data(), err.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
            continue;
        }
        const uint16_t op = Get16(buf.data());
        if (op == OP_ERROR) {
            std::string msg;
            for (ssize_t i = 4; i < n && buf[static_cast<std::size_t>(i)]; ++i)
                msg.push_back(static_cast<char>(buf[static_cast<std::size_t>(i)]));
            return fail(msg.empty() ? "error" : msg, Get16(buf.data() + 2));
        }
        if (!haveTid) {
            tid = from;
            haveTid = true;
        }
        if (op == OP_OACK && expected == 1 && res.data.empty()) {
            // name\0value\0 pairs
            std::string k, v;
            bool inValue = false;
            for (ssize_t i = 2; i < n; ++i) {
                char c = static_cast<char>(buf[static_cast<std::size_t>(i)]);
                if (c) {
                    (inValue ? v : k).push_back(c);
                    continue;
                }
                if (inValue) {
                    uint64_t num = 0;
                    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), num);
                    const bool okNum = ec == std::errc() && end == v.data() + v.size();
                    if (k == "blksize" && okNum && num >= kMinBlockSize && num <= kMaxBlockSize)
                        blockSize = static_cast<uint16_t>(num);
                    if (k == "tsize" && okNum) res.tsize = num;
                    k.clear();
                    v.clear();
                }
                inValue = !inValue;
            }
            last = EncodeAck(0);
            retries = 0;
            send(last);
            continue;
        }
        if (op != OP_DATA) continue;
        const uint16_t block = Get16(buf.data() + 2);
        if (block != static_cast<uint16_t>(expected & 0xffff)) {
            // An old block again: our acknowledgement was lost; repeat it.
            if (block == static_cast<uint16_t>((expected - 1) & 0xffff)) send(last);
            continue;
        }
        const std::size_t payload = static_cast<std::size_t>(n) - 4;
        res.data.insert(res.data.end(), buf.begin() + 4, buf.begin() + n);
        if (o.progress && !o.progress(res.data.size())) return fail("stopped acknowledging");
        last = EncodeAck(block);
        retries = 0;
        send(last);
        ++expected;
        if (payload < blockSize) {
            res.ok = true;
            res.blockSize = blockSize;
            return res;
        }
    }
}

}  // namespace fd::tftp
