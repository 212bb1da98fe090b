#pragma once
// How the engine reaches each device that answered a search: its address, the address a
// set-IP command is moving it to, whether it has delivered its information, and how many
// liveness sweeps it has left. What the devices report lives in the store alone.
//
// Every call locks inside. Lock order: ForEachUndelivered holds the table's lock while its
// function runs (the engine sends from there, taking its adapter lock), never the other way
// round; the store is never called under it.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fd {

struct PeerEntry {
    char ip[16] = {};          // address under which the device is reached
    char pending_ip[16] = {};  // address a set-IP command is moving it to, or empty
    char mac[18] = {};
    uint8_t state = 0;     // 1 = answered a search, 2 = device info received
    uint8_t liveness = 0;  // sweeps left before a silent device in state 2 is dropped
};

class PeerTable {
public:
    // What a search answer means for the device.
    struct SearchVerdict {
        std::string undeliveredIp;  // the address of a device without its info yet, else ""
        bool askForInfo = false;    // no other device holds the address with its info
    };
    // A device (mac, never all zero) answered a search from senderIp. A known device keeps
    // the address it is reached under; only its info or a set-IP acknowledgement moves it.
    SearchVerdict SearchAnswered(const std::string& mac, const std::string& senderIp);
    // A keepalive: false for a device this run has not found; otherwise it is alive and
    // reached at senderIp.
    bool KeepaliveFrom(const std::string& mac, const std::string& senderIp);
    // The acceptance check of a device's info: the device answered a search, and no other
    // device holds the address in its body with its info. Accepted info makes the device
    // delivered at that address.
    bool AcceptInfo(const std::string& mac, const std::string& bodyIp);
    // A set-IP acknowledgement from the device's current address makes the announced address
    // the one it is reached under.
    void AdoptPendingAddress(const std::string& senderIp, const std::string& mac);
    // Announces the move of a delivered device from currentIp to newIp (the same address
    // clears the announcement).
    void SetPendingAddress(const std::string& mac, const std::string& currentIp,
                           const std::string& newIp);
    // One liveness sweep: delivered devices lose one sweep, those at none are removed and
    // their macs returned. Devices that only answered a search are never aged out.
    std::vector<std::string> Sweep();
    // Removes every device that has not delivered its info.
    void ForgetUndelivered();
    // Of macs, those the table does not know.
    std::vector<std::string> Unknown(const std::vector<std::string>& macs) const;
    // Runs fn for every device that has not delivered its info, under the table's lock.
    void ForEachUndelivered(const std::function<void(const PeerEntry&)>& fn) const;
    std::vector<PeerEntry> Peers() const;

private:
    // The helpers expect m_lock to be held.
    PeerEntry* FindLocked(const std::string& mac);
    void SetIpLocked(std::size_t index, std::string_view ip);
    void MarkDeliveredLocked(std::size_t index);
    void RebuildIndexLocked();

    mutable std::mutex m_lock;
    std::vector<PeerEntry> m_peers;
    // Indexes over m_peers, so that a search answered by thousands of devices does not scan
    // the table for every datagram: the position of each mac (macs are unique in the table),
    // and the positions of the delivered peers by the address they hold. Rebuilt whenever
    // peers are removed.
    std::unordered_map<std::string, std::size_t> m_byMac;
    std::unordered_map<std::string, std::vector<std::size_t>> m_ownersByIp;
};

}  // namespace fd
