#pragma once
// The read-only TFTP server: one socket for requests on each address it listens on, one
// socket per transfer (its TID), a poll loop that drives every ReadTransfer. Files are opened
// beneath the served folder only, and when it is given names, only those files.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fileserver/tftp_protocol.h"

namespace fd::tftp {

struct ServerOptions {
    std::string directory;  // the served folder
    // The IPv4 addresses to listen on; empty: every address (0.0.0.0).
    std::vector<std::string> bindAddresses;
    // When not empty, the only names served (each a file directly inside the folder); any
    // other name is answered "file not found". They are opened with the folder, once.
    std::vector<std::string> only;
    uint16_t port = 69;                       // 0: any free port (tests)
    int maxTransfers = 32;                    // more at once are refused with "server busy"
    int maxPerClient = 3;                     // transfers of one client address at once
    std::chrono::milliseconds timeout{5000};  // unless the client asks for a shorter one
    int maxRetries = 5;                       // resends of one packet before giving up
    // One line per event, network text already escaped; may be empty.
    std::function<void(const std::string&)> log;
    // The first datagram seen from each client address; may be empty.
    std::function<void(const std::string& address)> clientSeen;
    // When >= 0: the server stops when this descriptor reaches its end (the program that
    // started it closed its end of the pipe, or died).
    int stopFd = -1;
};

struct ServerCounters {
    uint64_t completed = 0, failed = 0, refused = 0, foreignTid = 0, resends = 0;
};

// Opens `name` directly inside the folder open at dirFd for reading, never leaving the
// folder (no "..", no symlink pointing outside, no magic links). The descriptor, or -1
// with *errorCode and *message set to the TFTP refusal.
int OpenBeneath(int dirFd, const std::string& name, uint16_t* errorCode, std::string* message);

class TftpServer {
public:
    explicit TftpServer(ServerOptions options);
    ~TftpServer();
    TftpServer(const TftpServer&) = delete;
    TftpServer& operator=(const TftpServer&) = delete;

    // Binds the request sockets and opens the folder (and the named files). False with a
    // reason otherwise. The two halves may be called apart, so that the privileged port is
    // bound before the rights to it are given up and the files are opened after.
    bool Open(std::string& error);
    bool Bind(std::string& error);
    bool OpenFolder(std::string& error);
    // Serves until stop is set (checked at least twice a second).
    void Run(const std::atomic<bool>& stop);
    uint16_t Port() const { return m_port; }
    // The folder, when it is only known after Bind (read as the serving user).
    void SetDirectory(std::string directory) { m_options.directory = std::move(directory); }
    // "a.b.c.d:port" of each request socket.
    std::vector<std::string> Endpoints() const;
    ServerCounters Counters() const { return m_counters; }
    std::size_t ActiveTransfers() const { return m_active.size(); }

private:
    struct Active;
    struct OnlyFile {
        std::string name;
        int fd = -1;
    };
    void HandleRequest(int sock);
    void HandleTransfer(Active& a);
    void Refuse(const sockaddr_in& to, const in_addr& local, uint16_t code, const std::string& msg);
    void Apply(Active& a, const Step& s);
    void Log(const std::string& line) const;

    ServerOptions m_options;
    int m_dirFd = -1;
    std::vector<int> m_socks;
    std::vector<OnlyFile> m_only;
    std::set<uint32_t> m_clientsSeen;
    uint16_t m_port = 0;
    std::vector<std::unique_ptr<Active>> m_active;
    ServerCounters m_counters;
};

}  // namespace fd::tftp
