#include "fileserver/tftp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <variant>

#include "fileserver/tftp_protocol.h"

namespace fd::tftp {

namespace {

std::string Endpoint(const sockaddr_in& a) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

int UdpSocketOn(in_addr local, uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr = local;
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendTo(int fd, const std::vector<uint8_t>& bytes, const sockaddr_in& to) {
    if (bytes.empty()) return;
    // Lost sends are covered by the resend on timeout, like lost datagrams.
    (void)::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to);
}

// A file open for one transfer; it notices when the file is changed in place.
class FileSource final : public BlockSource {
public:
    FileSource(int fd, const struct stat& st) : m_fd(fd), m_st(st) {}
    ~FileSource() override { ::close(m_fd); }
    long Read(uint64_t offset, uint8_t* buf, std::size_t n) override {
        std::size_t done = 0;
        while (done < n) {
            ssize_t r = ::pread(m_fd, buf + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return -1;
            if (r == 0) break;
            done += static_cast<std::size_t>(r);
        }
        return static_cast<long>(done);
    }
    bool Changed() override {
        struct stat now {};
        if (::fstat(m_fd, &now) != 0) return true;
        return now.st_size != m_st.st_size || now.st_mtim.tv_sec != m_st.st_mtim.tv_sec ||
               now.st_mtim.tv_nsec != m_st.st_mtim.tv_nsec;
    }

private:
    int m_fd;
    struct stat m_st;
};

}  // namespace

int OpenBeneath(int dirFd, const std::string& name, uint16_t* errorCode, std::string* message) {
    auto refuse = [&](uint16_t code, const char* text) {
        *errorCode = code;
        *message = text;
        return -1;
    };
    if (auto r = CheckFileName(name)) {
        *errorCode = r->code;
        *message = r->message;
        return -1;
    }
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd = static_cast<int>(::syscall(SYS_openat2, dirFd, name.c_str(), &how, sizeof how));
    if (fd < 0 && errno == ENOSYS)  // older kernels: no symlinks at all
        fd = ::openat(dirFd, name.c_str(),
                      O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
                return refuse(ERR_NOT_FOUND, "file not found");
            case EXDEV:
            case ELOOP:
                return refuse(ERR_ACCESS, "the file lies outside the served folder");
            case EACCES:
            case EPERM:
                return refuse(ERR_ACCESS, "access denied");
            default:
                return refuse(ERR_UNDEFINED, "cannot open the file");
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(ERR_ACCESS, "not a regular file");
    }
    return fd;
}

struct TftpServer::Active {
    int sock = -1;
    sockaddr_in peer{};
    std::string name;
    uint64_t size = 0;
    std::unique_ptr<FileSource> source;
    std::unique_ptr<ReadTransfer> transfer;
    bool done = false;
    ~Active() {
        if (sock >= 0) ::close(sock);
    }
};

TftpServer::TftpServer(ServerOptions options) : m_options(std::move(options)) {}

TftpServer::~TftpServer() {
    m_active.clear();
    if (m_sock >= 0) ::close(m_sock);
    if (m_dirFd >= 0) ::close(m_dirFd);
}

void TftpServer::Log(const std::string& line) const {
    if (m_options.log) m_options.log(line);
}

bool TftpServer::Open(std::string& error) {
    m_dirFd = ::open(m_options.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0) {
        error = "cannot open the folder " + m_options.directory + ": " + std::strerror(errno);
        return false;
    }
    in_addr local{};
    if (inet_pton(AF_INET, m_options.bindAddress.c_str(), &local) != 1) {
        error = "not an IPv4 address: " + m_options.bindAddress;
        return false;
    }
    m_sock = UdpSocketOn(local, m_options.port);
    if (m_sock < 0) {
        error =
            "cannot bind UDP port " + std::to_string(m_options.port) + ": " + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(m_sock, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(m_sock, reinterpret_cast<sockaddr*>(&bound), &len);
    m_port = ntohs(bound.sin_port);
    return true;
}

void TftpServer::Refuse(const sockaddr_in& to, const in_addr& local, uint16_t code,
                        const std::string& msg) {
    ++m_counters.refused;
    Log("refused " + Endpoint(to) + ": " + msg);
    // The refusal comes from a fresh port, as any answer to a request does.
    int fd = UdpSocketOn(local, 0);
    if (fd < 0) fd = UdpSocketOn(in_addr{INADDR_ANY}, 0);
    if (fd < 0) return;
    SendTo(fd, EncodeError(code, msg), to);
    ::close(fd);
}

void TftpServer::HandleRequest() {
    uint8_t buf[65536];
    sockaddr_in from{};
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char control[256];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(m_sock, &msg, MSG_DONTWAIT);
    if (n < 0) return;
    if (msg.msg_flags & MSG_TRUNC) n = sizeof buf;  // longer than any request: refused below
    in_addr local{INADDR_ANY};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            local = info.ipi_spec_dst;
        }
    if (from.sin_port == 0) return;  // nobody to answer

    std::span<const uint8_t> d(buf, static_cast<std::size_t>(n));
    // An error packet is never answered (two servers would answer each other for ever).
    if (d.size() >= 2 && ((d[0] << 8) | d[1]) == OP_ERROR) return;
    auto parsed = ParseRequest(d);
    if (auto* r = std::get_if<Refusal>(&parsed)) return Refuse(from, local, r->code, r->message);
    Request& req = std::get<Request>(parsed);
    if (req.opcode == OP_WRQ)
        return Refuse(from, local, ERR_ACCESS, "this server only sends files");

    // A repeated request of a running transfer (its first answer was lost) is not a second
    // transfer; that transfer's own resend answers it.
    for (const auto& a : m_active)
        if (SameEndpoint(a->peer, from)) return;

    auto negotiated = Negotiate(req);
    if (auto* r = std::get_if<Refusal>(&negotiated))
        return Refuse(from, local, r->code, r->message);
    if (static_cast<int>(m_active.size()) >= m_options.maxTransfers)
        return Refuse(from, local, ERR_UNDEFINED, "server busy, try again later");

    uint16_t code = 0;
    std::string why;
    int fd = OpenBeneath(m_dirFd, req.filename, &code, &why);
    if (fd < 0) return Refuse(from, local, code, why + ": " + req.filename);
    struct stat st {};
    ::fstat(fd, &st);

    auto a = std::make_unique<Active>();
    a->sock = UdpSocketOn(local, 0);
    if (a->sock < 0) {
        ::close(fd);
        return Refuse(from, local, ERR_UNDEFINED, "no socket for the transfer");
    }
    a->peer = from;
    a->name = req.filename;
    a->size = static_cast<uint64_t>(st.st_size);
    a->source = std::make_unique<FileSource>(fd, st);
    a->transfer =
        std::make_unique<ReadTransfer>(*a->source, a->size, std::get<Negotiated>(negotiated),
                                       m_options.timeout, m_options.maxRetries);
    Log("sending " + req.filename + " (" + std::to_string(a->size) + " bytes) to " +
        Endpoint(from));
    Step s = a->transfer->Start(Clock::now());
    Apply(*a, s);
    m_active.push_back(std::move(a));
}

void TftpServer::Apply(Active& a, const Step& s) {
    SendTo(a.sock, s.send, a.peer);
    if (!s.finished) return;
    a.done = true;
    m_counters.resends += a.transfer->Resends();
    if (s.failed) {
        ++m_counters.failed;
        Log("transfer of " + a.name + " to " + Endpoint(a.peer) + " failed: " + s.reason);
    } else {
        ++m_counters.completed;
        Log("sent " + a.name + " to " + Endpoint(a.peer));
    }
}

void TftpServer::HandleTransfer(Active& a) {
    uint8_t buf[65536];
    for (int i = 0; i < 16 && !a.done; ++i) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(a.sock, buf, sizeof buf, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return;
        if (!SameEndpoint(from, a.peer)) {
            // Someone else's packet: tell them, and carry on with our client.
            ++m_counters.foreignTid;
            SendTo(a.sock, EncodeError(ERR_UNKNOWN_TID, "unknown transfer ID"), from);
            continue;
        }
        Apply(a, a.transfer->OnDatagram({buf, static_cast<std::size_t>(n)}, Clock::now()));
    }
}

void TftpServer::Run(const std::atomic<bool>& stop) {
    std::vector<pollfd> fds;
    while (!stop.load()) {
        fds.clear();
        fds.push_back({m_sock, POLLIN, 0});
        if (m_options.stopFd >= 0) fds.push_back({m_options.stopFd, POLLIN, 0});
        const std::size_t first = fds.size();
        auto now = Clock::now();
        auto wait = std::chrono::milliseconds(500);
        for (const auto& a : m_active) {
            fds.push_back({a->sock, POLLIN, 0});
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                a->transfer->Deadline() - now);
            wait =
                std::clamp(left + std::chrono::milliseconds(1), std::chrono::milliseconds(0), wait);
        }
        int r = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && m_options.stopFd >= 0 && fds[1].revents) {
            char c[64];
            const ssize_t n = ::read(m_options.stopFd, c, sizeof c);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        }
        // Transfers first: a request must not see a slot that is about to be freed as busy.
        for (std::size_t i = 0; r > 0 && i < m_active.size(); ++i)
            if (fds[first + i].revents & POLLIN) HandleTransfer(*m_active[i]);
        now = Clock::now();
        for (auto& a : m_active)
            if (!a->done && now >= a->transfer->Deadline()) Apply(*a, a->transfer->OnTimeout(now));
        std::erase_if(m_active, [](const auto& a) { return a->done; });
        if (r > 0 && (fds[0].revents & POLLIN)) HandleRequest();
    }
}

}  // namespace fd::tftp
