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
    for (int fd : m_socks) ::close(fd);
    for (const auto& f : m_only) ::close(f.fd);
    if (m_dirFd >= 0) ::close(m_dirFd);
}

void TftpServer::Log(const std::string& line) const {
    if (m_options.log) m_options.log(EscapeForLog(line));
}

bool TftpServer::Open(std::string& error) {
    return Bind(error) && OpenFolder(error);
}

bool TftpServer::OpenFolder(std::string& error) {
    m_dirFd = ::open(m_options.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0) {
        error = "cannot open the folder " + m_options.directory + ": " + std::strerror(errno);
        return false;
    }
    for (const auto& name : m_options.only) {
        uint16_t code = 0;
        std::string why;
        const int fd = OpenBeneath(m_dirFd, name, &code, &why);
        if (fd < 0) {
            error = "cannot serve " + EscapeForLog(name) + ": " + why;
            return false;
        }
        m_only.push_back({name, fd});
    }
    return true;
}

bool TftpServer::Bind(std::string& error) {
    std::vector<std::string> addresses = m_options.bindAddresses;
    if (addresses.empty()) addresses.push_back("0.0.0.0");
    for (const auto& address : addresses) {
        in_addr local{};
        if (inet_pton(AF_INET, address.c_str(), &local) != 1) {
            error = "not an IPv4 address: " + address;
            return false;
        }
        // Every address shares one port: the first bound chooses it when it is 0.
        const uint16_t port = m_socks.empty() ? m_options.port : m_port;
        const int sock = UdpSocketOn(local, port);
        if (sock < 0) {
            error = "cannot bind UDP port " + std::to_string(port) + " on " + address + ": " +
                    std::strerror(errno);
            return false;
        }
        m_socks.push_back(sock);
        int on = 1;
        ::setsockopt(sock, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&bound), &len);
        m_port = ntohs(bound.sin_port);
    }
    return true;
}

std::vector<std::string> TftpServer::Endpoints() const {
    std::vector<std::string> out;
    for (int fd : m_socks) {
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
        out.push_back(Endpoint(bound));
    }
    return out;
}

void TftpServer::Refuse(const sockaddr_in& to, const in_addr& local, uint16_t code,
                        const std::string& msg) {
    ++m_counters.refused;
    Log("refused " + Endpoint(to) + ": " + msg);
    // The refusal comes from a fresh port, as any answer to a request does.
    int fd = UdpSocketOn(local, 0);
    if (fd < 0) fd = UdpSocketOn(in_addr{INADDR_ANY}, 0);
    if (fd < 0) return;
    // The client may log it too.
    SendTo(fd, EncodeError(code, EscapeForLog(msg)), to);
    ::close(fd);
}

void TftpServer::HandleRequest(int sock) {
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
    ssize_t n = ::recvmsg(sock, &msg, MSG_DONTWAIT);
    if (n < 0) return;
    // Told once per address: the upgrade asks whether a device reached us at all.
    if (m_clientsSeen.size() < 4096 && m_clientsSeen.insert(from.sin_addr.s_addr).second &&
        m_options.clientSeen) {
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
        m_options.clientSeen(ip);
    }
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
    // One host must not take every slot (a few requests that are never acknowledged would
    // otherwise block every device's fetch until they time out).
    const auto sameHost = std::count_if(m_active.begin(), m_active.end(), [&](const auto& a) {
        return a->peer.sin_addr.s_addr == from.sin_addr.s_addr;
    });
    if (sameHost >= m_options.maxPerClient)
        return Refuse(from, local, ERR_UNDEFINED, "server busy, try again later");

    uint16_t code = 0;
    std::string why;
    int fd = -1;
    if (m_options.only.empty()) {
        fd = OpenBeneath(m_dirFd, req.filename, &code, &why);
    } else {
        // Only what we were told to serve, whatever else lies in the folder.
        const auto it = std::find_if(m_only.begin(), m_only.end(),
                                     [&](const OnlyFile& f) { return f.name == req.filename; });
        if (it == m_only.end()) {
            code = ERR_NOT_FOUND;
            why = "file not found";
        } else {
            fd = ::fcntl(it->fd, F_DUPFD_CLOEXEC, 0);
            if (fd < 0) code = ERR_UNDEFINED, why = "cannot open the file";
        }
    }
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
        for (int fd : m_socks) fds.push_back({fd, POLLIN, 0});
        const std::size_t stopAt = fds.size();
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
        if (r > 0 && m_options.stopFd >= 0 && fds[stopAt].revents) {
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
        for (std::size_t i = 0; r > 0 && i < m_socks.size(); ++i)
            if (fds[i].revents & POLLIN) HandleRequest(m_socks[i]);
    }
}

}  // namespace fd::tftp
