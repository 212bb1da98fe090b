// How an emulated device takes a firmware upgrade: on the upgrade request (command 11) it
// fetches the named image by TFTP from the PC that asked, checks its size and reports the
// outcome (command 12: 0 fetched, 1 failed); on the upgrade start (command 16) it goes
// silent as if flashing and comes back with the image's version.

#include <algorithm>
#include <cctype>
#include <cstring>

#include "devsim/device_peer.h"
#include "fileserver/tftp_client.h"

namespace fd::devsim {

namespace {

// The version a device reports after flashing an image: its file name without ".bin".
std::string VersionOf(const std::string& image) {
    std::string v = image;
    if (v.size() > 4) {
        std::string ext = v.substr(v.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".bin") v.resize(v.size() - 4);
    }
    return v.substr(0, 31);
}

}  // namespace

void DevicePeer::StartUpgradeFetch(const PeerDatagram& dg, const EmulatedDevice& dev) {
    const UpgradeImageInfo req = DecodeBody<UpgradeImageInfo>(dg.decoded->body);
    // The name runs to its length byte or its NUL, whichever comes first, never past the field.
    std::size_t len = std::min<std::size_t>(req.name_len, sizeof req.file_name);
    len = strnlen(req.file_name, len);
    const std::string name(req.file_name, len);
    const uint32_t size = req.file_size;
    const std::string mac = dev.MacText(), from = dev.address, pc = dg.fromIp;
    const bool breakOff = dev.upgradeFetchFails;
    const uint16_t port = m_options.tftpPort;

    bool busy = false;
    UpdateDevice(mac, [&](EmulatedDevice& d) {
        busy = d.fetching;
        d.fetching = true;
    });
    if (busy) return;

    std::lock_guard lock(m_fetchLock);
    // Started from the peer's thread, so the fetch lives in the devices' namespace too.
    m_fetches.emplace_back([this, mac, from, pc, name, size, breakOff, port](std::stop_token st) {
        tftp::FetchOptions o;
        o.localAddress = from;
        o.blockSize = 1468;
        o.askSize = true;
        o.retries = 3;
        o.deadline = std::chrono::minutes(2);
        o.progress = [&](uint64_t) { return !breakOff && !st.stop_requested(); };
        const tftp::FetchResult r =
            name.empty() ? tftp::FetchResult{} : tftp::Fetch(pc, port, name, o);
        if (st.stop_requested()) return;
        const bool ok = r.ok && r.data.size() == size;
        UpdateDevice(mac, [&](EmulatedDevice& d) {
            d.fetchedImage = ok ? name : std::string();
            d.fetching = false;
        });
        const uint8_t result = ok ? 0 : 1;
        SendAsDevice(mac, CMD_UPGRADE_REPORT, {&result, 1}, pc, kPortInfo);
    });
}

void DevicePeer::BeginFlashing(const std::string& mac, std::chrono::steady_clock::time_point now) {
    UpdateDevice(mac, [&](EmulatedDevice& d) {
        // Only an image it fetched is flashed; a stray start is just acknowledged.
        if (d.fetchedImage.empty()) return;
        const std::string version = VersionOf(d.fetchedImage);
        std::memset(d.info.version, 0, sizeof d.info.version);
        std::memcpy(d.info.version, version.data(), version.size());
        d.info.version_len = static_cast<uint8_t>(version.size());
        d.fetchedImage.clear();
        d.info.up_time = 0;
        d.silentUntil = d.upgradeNeverReturns ? std::chrono::steady_clock::time_point::max()
                                              : now + d.replyDelay + d.flashSilence;
    });
}

void DevicePeer::StopUpgradeFetches() {
    std::vector<std::jthread> fetches;
    {
        std::lock_guard lock(m_fetchLock);
        fetches.swap(m_fetches);
    }
    for (auto& t : fetches) t.request_stop();
    fetches.clear();  // joins
}

}  // namespace fd::devsim
