#pragma once
// The TFTP protocol as this read-only server speaks it (RFC 1350 with the option extension
// and the blksize, tsize and timeout options): request parsing and checking, option
// negotiation, packet encoding, and the state of one read transfer. Nothing here touches a
// socket or a clock of its own, so tests and the fuzzer drive it with bytes and times.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace fd::tftp {

using Clock = std::chrono::steady_clock;

enum Opcode : uint16_t {
    OP_RRQ = 1,
    OP_WRQ = 2,
    OP_DATA = 3,
    OP_ACK = 4,
    OP_ERROR = 5,
    OP_OACK = 6
};

enum ErrorCode : uint16_t {
    ERR_UNDEFINED = 0,
    ERR_NOT_FOUND = 1,
    ERR_ACCESS = 2,
    ERR_DISK_FULL = 3,
    ERR_ILLEGAL = 4,
    ERR_UNKNOWN_TID = 5,
    ERR_EXISTS = 6,
    ERR_NO_USER = 7,
    ERR_OPTION = 8,
};

// Requests longer than this are refused: the option extension keeps a request, options
// included, inside the classic 512-byte packet.
constexpr std::size_t kMaxRequest = 512;
constexpr uint16_t kDefaultBlockSize = 512;
constexpr uint16_t kMinBlockSize = 8;
constexpr uint16_t kMaxBlockSize = 65464;
constexpr int kMinTimeout = 1;
constexpr int kMaxTimeout = 255;
// The longest client timeout this server grants. A client may ask for up to 255 s, which
// would let one silent request hold a transfer slot for most of half an hour; a longer
// wish is left out of the option acknowledgement (the client then keeps its default, as
// the option extension allows) and the server's own timeout applies.
constexpr int kMaxGrantedTimeout = 5;

struct Request {
    uint16_t opcode = 0;
    std::string filename;
    std::string mode;  // lower case
    // Option names in lower case, values as sent, in the order of the request.
    std::vector<std::pair<std::string, std::string>> options;
};

// Why a datagram is answered with an error packet instead of data.
struct Refusal {
    uint16_t code = ERR_UNDEFINED;
    std::string message;
};

// A read or write request, checked for shape only: opcode, every field NUL-terminated
// inside the datagram, at most kMaxRequest bytes, option names and values in pairs.
std::variant<Request, Refusal> ParseRequest(std::span<const uint8_t> datagram);

// A name that may only mean a regular file directly inside the served folder: not empty,
// no '/', no '\\', no control characters, not "." or "..".
std::optional<Refusal> CheckFileName(std::string_view name);

// What the client asked for and the server granted.
struct Negotiated {
    uint16_t blockSize = kDefaultBlockSize;
    int timeoutSeconds = 0;                                // 0: the server's own default
    bool blksize = false, timeout = false, tsize = false;  // acknowledged in the OACK
    bool Any() const { return blksize || timeout || tsize; }
};

// Checks the recognised options (unknown ones are ignored, as the option extension wants).
// A value out of range, not a plain decimal number, or an option given twice is refused
// with error 8. A timeout above kMaxGrantedTimeout is not granted (see there).
std::variant<Negotiated, Refusal> Negotiate(const Request& req);

// Text from the network made safe for a log line: control characters (C0, DEL and the C1
// range in UTF-8), bytes that are not UTF-8 and the backslash itself are written as \xNN,
// so a name cannot move the cursor, ring the bell or forge a line of its own.
std::string EscapeForLog(std::string_view text);

// Packets.
std::vector<uint8_t> EncodeError(uint16_t code, std::string_view message);
std::vector<uint8_t> EncodeData(uint16_t block, std::span<const uint8_t> payload);
std::vector<uint8_t> EncodeAck(uint16_t block);
std::vector<uint8_t> EncodeOack(const Negotiated& n, uint64_t fileSize);
std::vector<uint8_t> EncodeRequest(uint16_t opcode, std::string_view filename,
                                   std::string_view mode,
                                   const std::vector<std::pair<std::string, std::string>>& options);

// Reads file bytes for a transfer. Read returns the bytes read (fewer only at the end of
// the file) or -1; Changed tells whether the file was modified since the transfer began.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    virtual long Read(uint64_t offset, uint8_t* buf, std::size_t n) = 0;
    virtual bool Changed() = 0;
};

// What a transfer wants done after an event.
struct Step {
    std::vector<uint8_t> send;  // empty: nothing to send
    bool finished = false;      // the transfer is over (success or not)
    bool failed = false;
    std::string reason;  // why it failed
};

// One read transfer, from the first packet to the last acknowledgement. Block numbers wrap
// from 65535 to 0; the file position is counted apart from them, so files of any size go
// through. Only an acknowledgement of the block just sent moves it on: a duplicate
// acknowledgement is ignored (no resend, which would double every later packet), and lost
// packets are resent only when the time runs out, at most `maxRetries` times in a row.
class ReadTransfer {
public:
    ReadTransfer(BlockSource& source, uint64_t fileSize, const Negotiated& negotiated,
                 std::chrono::milliseconds timeout, int maxRetries);

    // The first packet: the OACK when options were granted, else data block 1.
    Step Start(Clock::time_point now);
    // A datagram from the client's TID.
    Step OnDatagram(std::span<const uint8_t> datagram, Clock::time_point now);
    // Call when Deadline() has passed.
    Step OnTimeout(Clock::time_point now);
    Clock::time_point Deadline() const { return m_deadline; }

    uint64_t BlocksSent() const { return m_blockIndex; }
    uint64_t Resends() const { return m_resends; }

private:
    Step SendBlock(uint64_t index, Clock::time_point now);
    Step Fail(uint16_t code, std::string message);

    BlockSource& m_source;
    uint64_t m_fileSize;
    Negotiated m_negotiated;
    std::chrono::milliseconds m_timeout;
    int m_maxRetries;

    uint64_t m_blockIndex = 0;  // 0: the OACK is outstanding; n: data block n was sent last
    bool m_lastSent = false;    // the block sent last was shorter than the block size
    std::vector<uint8_t> m_lastPacket;
    int m_retries = 0;
    uint64_t m_resends = 0;
    Clock::time_point m_deadline{};
    std::vector<uint8_t> m_buf;
};

}  // namespace fd::tftp
