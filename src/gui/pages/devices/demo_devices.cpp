#include "pages/devices/demo_devices.h"

#include <QDir>
#include <array>
#include <cstdio>
#include <string>

#include "store/sql_management.h"

namespace fd {

ap_info_stu DemoDevice(int i) {
    static constexpr std::array<int, 8> kModels{1, 4, 6, 8, 10, 257, 261, 264};
    static constexpr std::array<const char*, 6> kPlaces{"Tower-North", "Barn",  "Depot",
                                                        "Hilltop",     "Mast7", "Office"};
    static constexpr std::array<int, 7> kChannels{0, 1, 6, 11, 36, 149, 161};
    ap_info_stu rec{};
    const uint8_t mac[6] = {
        0x02, 0x1b, 0x2c, 0x5d, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    SetRecordMac(rec, mac);
    rec.ap_type = static_cast<uint16_t>(kModels[static_cast<size_t>(i) % kModels.size()]);
    rec.ap_status = AP_STATUS_ONLINE;
    rec.work_mode = static_cast<uint8_t>(1 + (i * 5) % 7);
    rec.up_time = static_cast<uint32_t>(97 + i * 7919 % 400000);
    rec.ip_mode = 1;
    // 198.18.0.0/15: benchmarking space, never a real network's.
    IpFromText("198.18." + std::to_string(1 + i / 250) + "." + std::to_string(2 + i % 250), rec.ip);
    IpFromText("255.255.0.0", rec.ip_mask);
    IpFromText("198.18.0.1", rec.ip_gateway);
    char text[40];
    std::snprintf(text, sizeof text, "%s-%02d", kPlaces[static_cast<size_t>(i) % kPlaces.size()],
                  i + 1);
    SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, text);
    std::snprintf(text, sizeof text, "V2.%d.%d", 1 + i % 3, 10 + i % 7);
    SetFieldText(rec.version, sizeof rec.version, rec.version_len, text);
    std::snprintf(text, sizeof text, "fieldnet-%d", 1 + i % 4);
    SetFieldText(rec.ssid, sizeof rec.ssid, rec.ssid_len, text);
    rec.channel = static_cast<uint8_t>(kChannels[static_cast<size_t>(i) % kChannels.size()]);
    rec.tx_power = static_cast<uint8_t>(18 + i % 10);
    rec.secure_mode = static_cast<uint8_t>(i % 5);
    rec.bridge_transparent = static_cast<uint8_t>(i % 2);
    rec.tdmaEn = static_cast<uint8_t>((i / 2) % 2);
    return rec;
}

bool FillDemoDevices(IDeviceStore& store, int count) {
    for (int i = 0; i < count; ++i) {
        if (!store.SaveApInfo(DemoDevice(i))) return false;
    }
    return true;
}

DemoStore::DemoStore(int count) {
    if (!m_dir.isValid()) return;
    m_store = std::make_unique<CSqlManagement>(
        QDir(m_dir.path()).filePath(QStringLiteral("data.mdb")).toStdString(),
        [](const std::string&) {});
    if (!m_store->IsOpen() || !FillDemoDevices(*m_store, count)) m_store.reset();
}

DemoStore::~DemoStore() = default;

}  // namespace fd
