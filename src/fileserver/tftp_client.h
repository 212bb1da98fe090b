#pragma once
// A small TFTP read client: what an emulated device uses to fetch an image, and what the
// server's tests use to talk to it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fd::tftp {

struct FetchOptions {
    uint16_t blockSize = 0;                // 0: no blksize option (512-byte blocks)
    bool askSize = false;                  // tsize option
    int timeoutSeconds = 0;                // 0: no timeout option
    std::string localAddress;              // source address; empty: any
    std::chrono::milliseconds wait{1000};  // before the client resends its last packet
    int retries = 5;
    // Called after every data block received, with the bytes so far; returning false stops
    // acknowledging (the client goes quiet, as a broken device would).
    std::function<bool(uint64_t received)> progress;
    // Overall limit for the transfer.
    std::chrono::milliseconds deadline{std::chrono::minutes(5)};
};

struct FetchResult {
    bool ok = false;
    std::vector<uint8_t> data;
    uint16_t errorCode = 0;         // from the server's error packet
    std::string error;              // empty on success
    std::optional<uint64_t> tsize;  // as the server announced it
    uint16_t blockSize = 512;       // as granted
};

FetchResult Fetch(const std::string& serverIp, uint16_t port, const std::string& filename,
                  const FetchOptions& options = {});

}  // namespace fd::tftp
