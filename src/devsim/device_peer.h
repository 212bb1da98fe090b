#pragma once
// DevicePeer: a set of emulated devices behind real UDP sockets. It answers the PC's
// search broadcasts and multicast commands the way devices do, sends keepalives, scan
// results and arbitrary datagrams on demand, and records everything it receives.
//
// Its sockets are opened by its own thread, which first enters the namespace named in the
// options (the devices' side of the network lab), so the test or program that owns it may
// live in another namespace. Every device sends from its own address, which must exist on
// the devices' side; one socket serves them all by choosing the source per datagram.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <queue>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "devsim/emulated_device.h"
#include "wire/packet.h"

namespace fd::devsim {

// One datagram the peer received.
struct PeerDatagram {
    std::chrono::steady_clock::time_point at;
    std::string fromIp;
    uint16_t fromPort = 0;
    std::string toIp;     // its destination: the group, a broadcast or a unicast address
    uint16_t toPort = 0;  // the port it arrived on: 9786 (search) or 9787 (commands)
    int ifindex = 0;      // the interface it arrived on
    std::vector<uint8_t> bytes;
    std::optional<Datagram> decoded;  // empty when it is no valid datagram

    uint16_t Command() const { return decoded ? decoded->header.command : 0; }
    std::string MacText() const { return decoded ? MacToText(decoded->header.mac) : ""; }
};

struct PeerOptions {
    // Namespace to open the sockets in (name under /run/netns or a path); empty: the one
    // of the thread that calls Start().
    std::string netns;
    // Interfaces on which the command socket joins 239.255.255.250; empty: every interface
    // except loopback that exists at Start().
    std::vector<std::string> joinInterfaces;
    // Where keepalives go unless told otherwise.
    std::string pcAddress = "198.18.0.1";
    // Answer searches and commands automatically (the behaviour knobs of each device still
    // apply). Off: only record.
    bool autoRespond = true;
    // Most datagrams kept in the record; older ones are dropped first.
    std::size_t recordLimit = 200000;
    // Called on the peer's thread when a device takes a new address (set-IP or bridge
    // configuration), after its acknowledgement left and before it sends from the new one:
    // the place to add that address to the interface.
    std::function<void(const std::string& newIp)> onAddressChange;
    // Seed of the drop-rate dice.
    unsigned seed = 1;
    // Where devices fetch an upgrade image by TFTP (at the address the request came from).
    uint16_t tftpPort = 69;
};

// What the devices of a peer sent, by kind.
struct PeerCounters {
    uint64_t briefInfo = 0;   // search answers
    uint64_t deviceInfo = 0;  // device-info answers
    uint64_t acks = 0;
    uint64_t scans = 0;
    uint64_t keepalives = 0;
    uint64_t malformed = 0;
    uint64_t dropped = 0;  // datagrams for a device that it did not see (drop rate)
    uint64_t ignored = 0;  // datagrams for a device that was silent (restarting)
};

class DevicePeer {
public:
    explicit DevicePeer(PeerOptions options = {});
    ~DevicePeer();
    DevicePeer(const DevicePeer&) = delete;
    DevicePeer& operator=(const DevicePeer&) = delete;

    // Opens the sockets (in the options' namespace) and starts answering. False, with a
    // reason in *error, when a socket cannot be set up.
    bool Start(std::string* error = nullptr);
    void Stop();

    // ---- devices ----
    void AddDevice(const EmulatedDevice& dev);
    // Runs fn on the device with this mac text under the peer's lock; false if unknown.
    bool UpdateDevice(const std::string& mac, const std::function<void(EmulatedDevice&)>& fn);
    std::optional<EmulatedDevice> GetDevice(const std::string& mac) const;
    std::vector<EmulatedDevice> Devices() const;
    void SetAutoRespond(bool on) { m_autoRespond = on; }

    // ---- sending on demand; false when the send fails or the device is unknown ----
    // Safe from any thread while the peer runs; not while Start() or Stop() is under way.
    // Raw bytes from fromIp (empty: any local address) to toIp:port.
    bool SendFrom(const std::string& fromIp, const std::string& toIp, uint16_t port,
                  std::span<const uint8_t> bytes);
    // A device datagram (its ap_type and mac in the header) from its own address, or from
    // fromIp when given.
    bool SendAsDevice(const std::string& mac, uint16_t command, std::span<const uint8_t> body,
                      const std::string& toIp, uint16_t port, const std::string& fromIp = {});
    bool SendBriefInfo(const std::string& mac, const std::string& toIp);   // port 9785
    bool SendDeviceInfo(const std::string& mac, const std::string& toIp);  // port 9788
    // Command 15 to port 9787 of toIp (empty: the options' pcAddress).
    bool SendKeepalive(const std::string& mac, const std::string& toIp = {});
    // An acknowledgement (the command code to port 9788), with a result byte when given.
    bool SendAck(const std::string& mac, uint16_t command, std::optional<uint8_t> result,
                 const std::string& toIp, const std::string& fromIp = {});
    bool SendScanResult(const std::string& mac, std::span<const uint8_t> body,
                        const std::string& toIp);
    // A keepalive from every device that is not silent, or with parts > 1 only from those
    // whose place among the devices (in mac order) is part modulo parts; how many went out.
    std::size_t SendKeepalives(const std::string& toIp = {}, unsigned part = 0, unsigned parts = 1);
    // Every device's clock moves on by this many seconds.
    void AddUpTime(uint32_t seconds);
    PeerCounters Counters() const;

    // ---- what arrived ----
    std::vector<PeerDatagram> Received() const;
    // Valid datagrams with this command (0: any) addressed to this mac (empty: any).
    std::vector<PeerDatagram> ReceivedCommands(uint16_t command, const std::string& mac = {}) const;
    std::size_t CountCommand(uint16_t command, const std::string& mac = {}) const;
    // Waits until pred holds for the record (checked at once and after every arrival).
    bool WaitFor(const std::function<bool(const std::vector<PeerDatagram>&)>& pred,
                 std::chrono::milliseconds timeout) const;
    // Waits until at least count datagrams with this command (and mac) have arrived.
    bool WaitForCommand(uint16_t command, const std::string& mac, std::size_t count,
                        std::chrono::milliseconds timeout) const;
    void ClearReceived();
    uint64_t SendFailures() const { return m_sendFailures.load(); }
    // The address of the PC that searched last ("" before any search): where devices send
    // their keepalives.
    std::string LastSearcher() const;
    // Called on the peer's thread for every datagram, after the answer went out.
    void SetReceiveObserver(std::function<void(const PeerDatagram&)> observer);

private:
    bool OpenSockets(std::string& error);
    void CloseSockets();
    void Run(std::stop_token st);
    void ReceiveOne(int fd, uint16_t port);
    void Record(PeerDatagram&& dg);
    void Respond(const PeerDatagram& dg);
    void RespondToSearch(const PeerDatagram& dg);
    // Sends now, or queues for later when the device delays its replies; a faulty device
    // sends a malformed datagram first. Peer thread only.
    void Emit(const EmulatedDevice& dev, uint16_t command, std::span<const uint8_t> body,
              const std::string& toIp, uint16_t port, const std::string& fromIp);
    bool Dropped(const EmulatedDevice& dev);
    // Firmware upgrade (device_upgrade.cpp): fetch and report after command 11, flash and
    // come back after command 16. Peer thread only.
    void StartUpgradeFetch(const PeerDatagram& dg, const EmulatedDevice& dev);
    void BeginFlashing(const std::string& mac, std::chrono::steady_clock::time_point now);
    void StopUpgradeFetches();
    // Sends the queued datagrams that are due; the time until the next one (or 500 ms).
    int SendDue();

    struct Delayed {
        std::chrono::steady_clock::time_point due;
        uint64_t order;
        std::string fromIp, toIp;
        uint16_t port;
        std::vector<uint8_t> bytes;
        bool operator>(const Delayed& o) const {
            return due != o.due ? due > o.due : order > o.order;
        }
    };
    std::priority_queue<Delayed, std::vector<Delayed>, std::greater<>> m_delayed;
    uint64_t m_delayedOrder = 0;
    std::mt19937 m_dice;
    unsigned m_malformedTurn = 0;

    PeerOptions m_options;
    std::atomic<bool> m_autoRespond;

    int m_searchFd = -1;   // 0.0.0.0:9786, the search broadcast
    int m_commandFd = -1;  // 0.0.0.0:9787, group member: commands by multicast
    int m_sendFd = -1;     // every datagram the devices send
    int m_wakeFd = -1;
    std::jthread m_thread;

    mutable std::mutex m_devLock;
    std::map<std::string, EmulatedDevice> m_devices;  // by mac text

    mutable std::mutex m_recvLock;
    mutable std::condition_variable m_recvCond;
    std::vector<PeerDatagram> m_received;
    std::string m_lastSearcher;
    std::function<void(const PeerDatagram&)> m_observer;  // set before Start()

    std::atomic<uint64_t> m_sendFailures{0};
    std::mutex m_fetchLock;
    std::vector<std::jthread> m_fetches;
    mutable std::mutex m_countLock;
    PeerCounters m_counters;
};

}  // namespace fd::devsim
