#include "actions/upgrade_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>

#include "config/labels.h"
#include "wire/address.h"

namespace fd {

std::vector<std::pair<std::string, int>> UpgradeModelChoices(
    const std::vector<DeviceTarget>& targets) {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& t : targets) {
        std::string label = GetModelLabel(t.ap_type);
        auto same = [&](const auto& c) { return c.first == label; };
        if (std::find_if(out.begin(), out.end(), same) == out.end())
            out.emplace_back(label, GetModelCode(label));
    }
    return out;
}

namespace {
// Messages and phase texts: language-file keys (scripts/lang_keys.py collects them).
// lang-keys:begin
constexpr const char* kMsgNoFile = "Please select the upgrade file!";
constexpr const char* kMsgNotBin = "Upgrade file is not .bin file!";
constexpr const char* kPhaseTransfer = "Upgrade file transfer progress";
constexpr const char* kPhaseUpgrading = "Firmware upgrading progress";
// lang-keys:end
}  // namespace

std::string CheckUpgradeFilePath(const std::string& path) {
    if (path.empty()) return kMsgNoFile;
    // Exactly these two spellings; a mixed-case ".Bin" is refused.
    if (path.size() < 4) return kMsgNotBin;
    const std::string ext = path.substr(path.size() - 4);
    if (ext != ".bin" && ext != ".BIN") return kMsgNotBin;
    return {};
}

uint32_t UpgradeImageSize(const std::string& path) {
    // Looked at before opening: opening a FIFO (or a device) could wait for ever.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<long long>(in.tellg());
    if (size < 0 || size > std::numeric_limits<uint32_t>::max()) return 0;
    return static_cast<uint32_t>(size);
}

UpgradeImageInfo MakeUpgradeImageInfo(const std::string& fileName, uint32_t size) {
    UpgradeImageInfo info{};
    // The length travels in one byte; no file name on this system is longer than that.
    const std::size_t n = std::min<std::size_t>(fileName.size(), 255);
    std::memcpy(info.file_name, fileName.data(), n);
    info.name_len = static_cast<uint8_t>(n);
    info.file_size = size;
    return info;
}

std::pair<std::string, std::string> SplitImagePath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::vector<std::string> UpgradeServerAddresses(const std::vector<LocalAdapterInfo>& adapters,
                                                const std::vector<DeviceTarget>& targets) {
    auto text = [](const char* field, std::size_t n) {
        return std::string(field, strnlen(field, n));
    };
    std::vector<std::string> out;
    for (const auto& t : targets) {
        const auto device = ParseIpv4(text(t.ip, sizeof t.ip));
        if (!device) continue;
        bool found = false;
        for (const auto& a : adapters) {
            if (a.up != 1) continue;
            const int count = std::clamp<int>(a.ip_count, 0, kMaxAdapterAddresses);
            for (int i = 0; i < count && !found; ++i) {
                const std::string ip = text(a.addrs[i].ip, sizeof a.addrs[i].ip);
                const auto local = ParseIpv4(ip);
                const auto mask = ParseIpv4(text(a.addrs[i].mask, sizeof a.addrs[i].mask));
                if (!local || !mask || IsUnsetIp(ip) || (*local & *mask) != (*device & *mask))
                    continue;
                found = true;
                if (std::find(out.begin(), out.end(), ip) == out.end()) out.push_back(ip);
            }
            if (found) break;
        }
    }
    return out;
}

bool CUpgradeTally::Note(const std::string& mac, int status) {
    auto it =
        std::find_if(m_seen.begin(), m_seen.end(), [&](const auto& e) { return e.first == mac; });
    if (it == m_seen.end()) {
        m_seen.emplace_back(mac, Seen{});
        it = std::prev(m_seen.end());
    }
    Seen& s = it->second;
    if (status >= 0 && status < 32) s.mask |= 1u << status;
    const bool changed = s.last != status;
    s.last = status;
    return changed;
}

bool CUpgradeTally::FetchFailed(const std::string& mac) const {
    for (const auto& [m, s] : m_seen)
        if (m == mac)
            return (s.mask & (1u << AP_STATUS_UPGRADE_FAIL)) &&
                   !(s.mask & ((1u << AP_STATUS_UPGRADING) | (1u << AP_STATUS_UPGRADE_SUCCESS)));
    return false;
}

CUpgradeTally::Verdict CUpgradeTally::Judge(const std::string& mac, bool rowExists, int status,
                                            const std::string& version,
                                            const ServerView& server) const {
    unsigned mask = 0;
    for (const auto& [m, s] : m_seen)
        if (m == mac) mask = s.mask;
    auto saw = [&](int st) { return (mask & (1u << st)) != 0; };
    const bool flashed = saw(AP_STATUS_UPGRADING) || saw(AP_STATUS_UPGRADE_SUCCESS);
    if (flashed) {
        if (rowExists && status == AP_STATUS_ONLINE)
            return {true, "upgraded, back online with version " + version};
        return {false, "failed: did not come back after flashing"};
    }
    if (saw(AP_STATUS_UPGRADE_FAIL)) {
        // The device answered; what the server saw tells where the fetch broke.
        std::string text = "failed: the device could not fetch the image";
        if (!server.failure.empty())
            text += ": the file server was not serving (" + server.failure + ")";
        else if (server.heardFrom == false)
            text +=
                "; the file server saw no request from it (a firewall on this PC, or the "
                "device reaches the PC through another adapter)";
        return {false, text};
    }
    if (saw(AP_STATUS_UPGRADE_WAIT))
        return {false, "failed: fetched the image but did not start flashing"};
    return {false, "failed: no answer to the upgrade request"};
}

CUpgradeSession::CUpgradeSession(IDeviceEngine& engine, IDeviceStore& store,
                                 IUpgradeFileServer& server, Hooks hooks)
    : m_engine(engine), m_store(store), m_server(server), m_hooks(std::move(hooks)) {}

CUpgradeSession::~CUpgradeSession() {
    // Leaving at any point stops the server it started.
    if (m_phase == Phase::Transfer || m_phase == Phase::Upgrading) m_server.Stop();
}

const char* CUpgradeSession::PhaseText() const {
    return m_phase == Phase::Upgrading || m_upgradingTimer ? kPhaseUpgrading : kPhaseTransfer;
}

void CUpgradeSession::Start(const std::vector<DeviceTarget>& targets, int modelCode,
                            const std::string& imagePath, const UpgradeImageInfo& image,
                            const std::vector<LocalAdapterInfo>& adapters) {
    m_queue.clear();
    for (const auto& t : targets)
        if (t.ap_type == modelCode) m_queue.push_back(t);
    const int n = static_cast<int>(m_queue.size());
    m_transferSeconds = 0;
    m_transferLimit = 120 * (n / kBatchSize + (n % kBatchSize ? 1 : 0));
    m_allSent = false;
    m_batchSeconds = 0;
    m_upgradingSeconds = 0;
    m_searchesLeft = kSearches;
    m_progressMax = m_transferLimit;
    m_progressPos = 0;
    m_watch = m_queue;
    m_batch.clear();
    m_image = image;
    m_phase = Phase::Transfer;

    m_server.Stop();
    // A server that cannot be given the image is still started: the devices then report
    // the failed fetch, as they would with a server that is not there.
    m_server.ServeImage(imagePath, UpgradeServerAddresses(adapters, m_queue));
    m_server.Start();

    m_workerActive = true;
    m_workerSeconds = 0;
    m_workerLooks = 0;
    m_batchTimer = m_upgradingTimer = false;
    m_transferTimer = m_statusTimer = true;
    if (m_hooks.phaseChanged) m_hooks.phaseChanged();
}

void CUpgradeSession::Tick() {
    if (m_phase != Phase::Transfer && m_phase != Phase::Upgrading) return;
    // Snapshot of the timers running at the start of this second: one started during the
    // tick waits for the next.
    const bool batch = m_batchTimer, transfer = m_transferTimer, upgrading = m_upgradingTimer,
               status = m_statusTimer;
    if (batch) BatchTick();
    if (m_phase == Phase::Closed) return;
    if (m_workerActive) WorkerStep();
    if (transfer && m_transferTimer) TransferTick();
    if (m_phase == Phase::Closed) return;
    if (upgrading && m_upgradingTimer) UpgradingTick();
    if (m_phase == Phase::Closed) return;
    if (status && m_statusTimer) StatusTick();
}

void CUpgradeSession::WorkerStep() {
    ++m_workerSeconds;
    if (m_workerSeconds < 3) return;
    if (m_workerLooks < 3 && !m_server.IsRunning()) {
        ++m_workerLooks;
        return;
    }
    // Sent whether or not the server showed up: a device that cannot fetch says so.
    m_workerActive = false;
    SendBatch();
}

void CUpgradeSession::SendBatch() {
    if (m_queue.empty()) return;
    m_batchTimer = false;
    m_batchSeconds = 0;
    m_batch.clear();
    while (!m_queue.empty() && static_cast<int>(m_batch.size()) < kBatchSize) {
        DeviceTarget t = m_queue.front();
        m_queue.erase(m_queue.begin());
        m_batch.push_back(t);
        m_store.ResetApUpgradeFail(t.mac);
        m_engine.SendToDevice(t.ip, CMD_UPGRADE, &m_image, sizeof m_image, t.mac, true);
    }
    m_batchTimer = true;
}

void CUpgradeSession::BatchTick() {
    ++m_batchSeconds;
    bool finished = m_batchSeconds >= kBatchWaitLimit;
    if (!finished) {
        finished = std::all_of(m_batch.begin(), m_batch.end(), [&](const DeviceTarget& t) {
            const int s = m_store.GetApStatus(t.mac);
            return s == AP_STATUS_OUTLINE || s == AP_STATUS_UPGRADE_WAIT ||
                   s == AP_STATUS_UPGRADE_SUCCESS || s == AP_STATUS_UPGRADE_FAIL;
        });
    }
    if (!finished) return;
    m_batchTimer = false;
    for (const auto& t : m_batch)
        if (m_store.IsApUpgradeWait(t.mac))
            m_engine.SendToDevice(t.ip, CMD_UPGRADE_START, nullptr, 0, t.mac, true);
    if (!m_queue.empty())
        SendBatch();
    else
        m_allSent = true;
}

void CUpgradeSession::TransferTick() {
    ++m_transferSeconds;
    if (m_transferSeconds < m_transferLimit && !m_allSent) {
        m_progressPos = m_transferSeconds;
        return;
    }
    m_transferTimer = false;
    const bool allFailed = std::all_of(m_watch.begin(), m_watch.end(), [&](const DeviceTarget& t) {
        return m_store.GetApStatus(t.mac) == AP_STATUS_UPGRADE_FAIL;
    });
    if (allFailed) {
        // Shown before the close ends the display: the failures that end the upgrade may
        // have come in since the display last ran, and front ends judge by what it showed.
        if (m_statusTimer) StatusTick();
        Close(true);
        return;
    }
    m_phase = Phase::Upgrading;
    m_upgradingSeconds = 0;
    m_searchesLeft = kSearches;
    m_progressMax = kUpgradingLimit;
    m_progressPos = 0;
    m_upgradingTimer = true;
    if (m_hooks.phaseChanged) m_hooks.phaseChanged();
}

void CUpgradeSession::UpgradingTick() {
    const int s = ++m_upgradingSeconds;
    // Searches at 124, 127 and 130 s bring the flashed devices back into the list.
    if (m_searchesLeft > 0 && s == kUpgradingLimit + 3 - 3 * m_searchesLeft) {
        --m_searchesLeft;
        m_engine.SendSearch();
    }
    if (s < kUpgradingLimit) {
        m_progressPos = s;
        return;
    }
    m_upgradingTimer = false;
    m_progressPos = kUpgradingLimit;
    StatusTick();
    m_statusTimer = false;
    Close(true);
}

void CUpgradeSession::StatusTick() {
    if (!m_hooks.showStatus) return;
    for (const auto& t : m_watch) m_hooks.showStatus(t.mac, m_store.GetApStatus(t.mac));
}

void CUpgradeSession::Close(bool confirmed) {
    m_transferTimer = m_upgradingTimer = m_batchTimer = m_statusTimer = false;
    m_workerActive = false;
    m_server.Stop();
    m_phase = Phase::Closed;
    if (m_hooks.closed) m_hooks.closed(confirmed);
}

void CUpgradeSession::Cancel() {
    if (m_phase == Phase::Closed) return;
    if (m_phase == Phase::Idle) {
        // Nothing started yet, but a server from an earlier run may still be up.
        m_server.Stop();
        m_phase = Phase::Closed;
        if (m_hooks.closed) m_hooks.closed(false);
        return;
    }
    Close(false);
}

}  // namespace fd
