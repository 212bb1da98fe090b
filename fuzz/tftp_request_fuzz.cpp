// TFTP requests from anyone on the network: the parser, the name check and the option
// negotiation, then a transfer driven by the remaining bytes as the client's packets.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <variant>

#include "fileserver/tftp_protocol.h"

namespace {

class MemorySource final : public fd::tftp::BlockSource {
public:
    long Read(uint64_t offset, uint8_t* buf, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(offset + i);
        return static_cast<long>(n);
    }
    bool Changed() override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace fd::tftp;
    // First byte: how much of the input is the request; the rest are client packets of
    // 4..19 bytes each.
    if (size < 1) return 0;
    std::size_t reqLen = std::min<std::size_t>(size - 1, data[0] * 4u);
    auto parsed = ParseRequest({data + 1, reqLen});
    auto* req = std::get_if<Request>(&parsed);
    if (!req) return 0;
    (void)CheckFileName(req->filename);
    // Whatever a client names, the log line shows no control character of it.
    for (unsigned char c : EscapeForLog(req->filename))
        if (c < 0x20 || c == 0x7f) __builtin_trap();
    auto neg = Negotiate(*req);
    auto* n = std::get_if<Negotiated>(&neg);
    if (!n) return 0;
    MemorySource src;
    const uint64_t fileSize = 3u * n->blockSize + (reqLen % 7);
    ReadTransfer t(src, fileSize, *n, std::chrono::milliseconds(100), 3);
    auto now = Clock::now();
    Step s = t.Start(now);
    std::size_t pos = 1 + reqLen;
    while (!s.finished && pos < size) {
        std::size_t len = 4 + data[pos] % 16;
        ++pos;
        if (pos + len > size) len = size - pos;
        now += std::chrono::milliseconds(data[pos - 1] & 0x80 ? 150 : 1);
        s = now >= t.Deadline() ? t.OnTimeout(now) : t.OnDatagram({data + pos, len}, now);
        pos += len;
    }
    return 0;
}
