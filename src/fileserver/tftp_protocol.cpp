#include "fileserver/tftp_protocol.h"

#include <algorithm>
#include <charconv>

namespace fd::tftp {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xff));
}

void PutText(std::vector<uint8_t>& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

uint16_t Get16(std::span<const uint8_t> d, std::size_t at) {
    return static_cast<uint16_t>((d[at] << 8) | d[at + 1]);
}

// A plain decimal number (digits only, no sign, no blanks) of at most 20 digits.
std::optional<uint64_t> Decimal(std::string_view s) {
    if (s.empty() || s.size() > 20) return std::nullopt;
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::variant<Request, Refusal> ParseRequest(std::span<const uint8_t> d) {
    if (d.size() > kMaxRequest) return Refusal{ERR_OPTION, "request longer than 512 bytes"};
    if (d.size() < 2) return Refusal{ERR_ILLEGAL, "malformed request"};
    Request req;
    req.opcode = Get16(d, 0);
    if (req.opcode != OP_RRQ && req.opcode != OP_WRQ) return Refusal{ERR_ILLEGAL, "not a request"};

    // Every field ends in a NUL inside the datagram; one that runs off the end is refused
    // rather than read past it.
    std::vector<std::string_view> fields;
    std::size_t pos = 2;
    while (pos < d.size()) {
        const auto* begin = d.data() + pos;
        const auto* nul = std::find(begin, d.data() + d.size(), uint8_t{0});
        if (nul == d.data() + d.size()) return Refusal{ERR_ILLEGAL, "request not NUL-terminated"};
        fields.emplace_back(reinterpret_cast<const char*>(begin),
                            static_cast<std::size_t>(nul - begin));
        pos = static_cast<std::size_t>(nul - d.data()) + 1;
    }
    if (fields.size() < 2) return Refusal{ERR_ILLEGAL, "malformed request"};
    if (fields.size() % 2 != 0) return Refusal{ERR_OPTION, "option without a value"};
    req.filename = std::string(fields[0]);
    req.mode = Lower(fields[1]);
    if (req.mode != "octet" && req.mode != "netascii" && req.mode != "mail")
        return Refusal{ERR_ILLEGAL, "unknown transfer mode"};
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) {
        if (fields[i].empty()) return Refusal{ERR_OPTION, "empty option name"};
        req.options.emplace_back(Lower(fields[i]), std::string(fields[i + 1]));
    }
    return req;
}

std::optional<Refusal> CheckFileName(std::string_view name) {
    if (name.empty()) return Refusal{ERR_ACCESS, "empty file name"};
    if (name == "." || name == "..") return Refusal{ERR_ACCESS, "not a file name"};
    for (unsigned char c : name) {
        if (c == '/') return Refusal{ERR_ACCESS, "only files directly in the folder are served"};
        if (c == '\\') return Refusal{ERR_ACCESS, "backslash in file name"};
        if (c < 0x20 || c == 0x7f) return Refusal{ERR_ACCESS, "control character in file name"};
    }
    return std::nullopt;
}

std::variant<Negotiated, Refusal> Negotiate(const Request& req) {
    // Text conversion would change the size the client was told and the bytes of an image;
    // firmware is fetched in octet mode.
    if (req.mode != "octet") return Refusal{ERR_ILLEGAL, "only octet mode is served"};
    Negotiated n;
    bool timeoutSeen = false;
    for (const auto& [name, value] : req.options) {
        const bool known = name == "blksize" || name == "timeout" || name == "tsize";
        if (!known) continue;
        if ((name == "blksize" && n.blksize) || (name == "timeout" && timeoutSeen) ||
            (name == "tsize" && n.tsize))
            return Refusal{ERR_OPTION, "option " + name + " given twice"};
        const auto v = Decimal(value);
        if (!v) return Refusal{ERR_OPTION, "option " + name + " is not a number"};
        if (name == "blksize") {
            if (*v < kMinBlockSize || *v > kMaxBlockSize)
                return Refusal{ERR_OPTION, "blksize out of range 8-65464"};
            n.blockSize = static_cast<uint16_t>(*v);
            n.blksize = true;
        } else if (name == "timeout") {
            if (*v < static_cast<uint64_t>(kMinTimeout) || *v > static_cast<uint64_t>(kMaxTimeout))
                return Refusal{ERR_OPTION, "timeout out of range 1-255"};
            timeoutSeen = true;
            if (*v > static_cast<uint64_t>(kMaxGrantedTimeout)) continue;
            n.timeoutSeconds = static_cast<int>(*v);
            n.timeout = true;
        } else {
            // A read request asks with 0; the answer is the file's size.
            n.tsize = true;
        }
    }
    return n;
}

std::string EscapeForLog(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f || c == '\\')
                escape(c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence passes unless it is malformed, overlong, a surrogate, or
        // a C1 control (U+0080..U+009F, which terminals obey like ESC sequences).
        std::size_t len = c >= 0xf0 && c <= 0xf4  ? 4
                          : c >= 0xe0             ? 3
                          : c >= 0xc2 && c < 0xe0 ? 2
                                                  : 0;
        if (c >= 0xf5) len = 0;
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) ok = (s[i + k] & 0xc0) == 0x80;
        if (ok && len == 2 && c == 0xc2 && s[i + 1] < 0xa0) ok = false;
        if (ok && len == 3 && c == 0xe0 && s[i + 1] < 0xa0) ok = false;
        if (ok && len == 3 && c == 0xed && s[i + 1] >= 0xa0) ok = false;
        if (ok && len == 4 && c == 0xf0 && s[i + 1] < 0x90) ok = false;
        if (ok && len == 4 && c == 0xf4 && s[i + 1] >= 0x90) ok = false;
        if (!ok) {
            escape(c);
            ++i;
            continue;
        }
        out.append(text.substr(i, len));
        i += len;
    }
    return out;
}

std::vector<uint8_t> EncodeError(uint16_t code, std::string_view message) {
    std::vector<uint8_t> out;
    Put16(out, OP_ERROR);
    Put16(out, code);
    PutText(out, message.substr(0, 200));
    return out;
}

std::vector<uint8_t> EncodeData(uint16_t block, std::span<const uint8_t> payload) {
    std::vector<uint8_t> out;
    out.reserve(4 + payload.size());
    Put16(out, OP_DATA);
    Put16(out, block);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<uint8_t> EncodeAck(uint16_t block) {
    std::vector<uint8_t> out;
    Put16(out, OP_ACK);
    Put16(out, block);
    return out;
}

std::vector<uint8_t> EncodeOack(const Negotiated& n, uint64_t fileSize) {
    std::vector<uint8_t> out;
    Put16(out, OP_OACK);
    if (n.blksize) {
        PutText(out, "blksize");
        PutText(out, std::to_string(n.blockSize));
    }
    if (n.timeout) {
        PutText(out, "timeout");
        PutText(out, std::to_string(n.timeoutSeconds));
    }
    if (n.tsize) {
        PutText(out, "tsize");
        PutText(out, std::to_string(fileSize));
    }
    return out;
}

std::vector<uint8_t> EncodeRequest(
    uint16_t opcode, std::string_view filename, std::string_view mode,
    const std::vector<std::pair<std::string, std::string>>& options) {
    std::vector<uint8_t> out;
    Put16(out, opcode);
    PutText(out, filename);
    PutText(out, mode);
    for (const auto& [k, v] : options) {
        PutText(out, k);
        PutText(out, v);
    }
    return out;
}

ReadTransfer::ReadTransfer(BlockSource& source, uint64_t fileSize, const Negotiated& negotiated,
                           std::chrono::milliseconds timeout, int maxRetries)
    : m_source(source),
      m_fileSize(fileSize),
      m_negotiated(negotiated),
      m_timeout(negotiated.timeout ? std::chrono::seconds(negotiated.timeoutSeconds) : timeout),
      m_maxRetries(maxRetries) {}

Step ReadTransfer::Fail(uint16_t code, std::string message) {
    Step s;
    s.send = EncodeError(code, message);
    s.finished = s.failed = true;
    s.reason = std::move(message);
    return s;
}

Step ReadTransfer::Start(Clock::time_point now) {
    if (m_negotiated.Any()) {
        m_lastPacket = EncodeOack(m_negotiated, m_fileSize);
        m_blockIndex = 0;
        m_retries = 0;
        m_deadline = now + m_timeout;
        return Step{m_lastPacket};
    }
    return SendBlock(1, now);
}

Step ReadTransfer::SendBlock(uint64_t index, Clock::time_point now) {
    const uint64_t offset = (index - 1) * m_negotiated.blockSize;
    const std::size_t want = static_cast<std::size_t>(
        std::min<uint64_t>(m_negotiated.blockSize, offset < m_fileSize ? m_fileSize - offset : 0));
    m_buf.resize(want);
    long got = want ? m_source.Read(offset, m_buf.data(), want) : 0;
    if (got < 0) return Fail(ERR_UNDEFINED, "read error");
    // A file cut short or rewritten under the transfer would reach the client as a shorter
    // or mixed image that looks complete; end the transfer with an error instead.
    if (static_cast<std::size_t>(got) != want || m_source.Changed())
        return Fail(ERR_UNDEFINED, "file changed during the transfer");
    m_blockIndex = index;
    m_lastSent = want < m_negotiated.blockSize;
    m_lastPacket = EncodeData(static_cast<uint16_t>(index & 0xffff), m_buf);
    m_retries = 0;
    m_deadline = now + m_timeout;
    return Step{m_lastPacket};
}

Step ReadTransfer::OnDatagram(std::span<const uint8_t> d, Clock::time_point now) {
    if (d.size() < 4) return Step{};  // too short to mean anything: ignore, the timer resends
    const uint16_t op = Get16(d, 0);
    if (op == OP_ERROR) {
        Step s;
        s.finished = s.failed = true;
        std::string msg;
        for (std::size_t i = 4; i < d.size() && d[i] && msg.size() < 200; ++i)
            msg.push_back(static_cast<char>(d[i]));
        s.reason = "client ended the transfer: error " + std::to_string(Get16(d, 2)) +
                   (msg.empty() ? "" : " (" + msg + ")");
        return s;
    }
    if (op != OP_ACK) return Fail(ERR_ILLEGAL, "only acknowledgements expected");
    const uint16_t block = Get16(d, 2);
    // Only the acknowledgement of what was sent last moves on; an older (duplicate) one is
    // dropped without a resend.
    if (block != static_cast<uint16_t>(m_blockIndex & 0xffff)) return Step{};
    if (m_blockIndex > 0 && m_lastSent) {
        Step s;
        s.finished = true;
        return s;
    }
    return SendBlock(m_blockIndex + 1, now);
}

Step ReadTransfer::OnTimeout(Clock::time_point now) {
    if (m_retries >= m_maxRetries) {
        Step s = Fail(ERR_UNDEFINED, "no acknowledgement, transfer abandoned");
        return s;
    }
    ++m_retries;
    ++m_resends;
    m_deadline = now + m_timeout;
    return Step{m_lastPacket};
}

}  // namespace fd::tftp
