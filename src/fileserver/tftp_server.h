#pragma once
// The read-only TFTP server: one socket for requests, one socket per transfer (its TID), a
// poll loop that drives every ReadTransfer. Files are opened beneath the served folder only.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fileserver/tftp_protocol.h"

namespace fd::tftp {

struct ServerOptions {
    std::string directory;  // the served folder
    std::string bindAddress = "0.0.0.0";
    uint16_t port = 69;                           // 0: any free port (tests)
    int maxTransfers = 32;                        // more at once are refused with "server busy"
    std::chrono::milliseconds timeout{5000};      // unless the client asks for another
    int maxRetries = 5;                           // resends of one packet before giving up
    std::function<void(const std::string&)> log;  // one line per event; may be empty
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

    // Opens the folder and binds the request socket. False with a reason otherwise.
    bool Open(std::string& error);
    // Serves until stop is set (checked at least twice a second).
    void Run(const std::atomic<bool>& stop);
    uint16_t Port() const { return m_port; }
    ServerCounters Counters() const { return m_counters; }
    std::size_t ActiveTransfers() const { return m_active.size(); }

private:
    struct Active;
    void HandleRequest();
    void HandleTransfer(Active& a);
    void Refuse(const sockaddr_in& to, const in_addr& local, uint16_t code, const std::string& msg);
    void Apply(Active& a, const Step& s);
    void Log(const std::string& line) const;

    ServerOptions m_options;
    int m_dirFd = -1;
    int m_sock = -1;
    uint16_t m_port = 0;
    std::vector<std::unique_ptr<Active>> m_active;
    ServerCounters m_counters;
};

}  // namespace fd::tftp
