#pragma once
// The devices the list tests store: device id has the mac 00:1b:2c:00:hi:lo, the address
// 10.0.(id / 200).(id % 200 + 1) and the name "dev" + (999 - id), so that sorting by name and
// by address give opposite orders. Search-only devices sit at 10.9.0.(id + 1).

#include <cstdio>
#include <string>

#include "wire/address.h"
#include "wire/packet.h"

namespace fd::test {

inline std::string MacOf(int id) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "00:1b:2c:00:%02x:%02x", (id >> 8) & 0xff, id & 0xff);
    return mac;
}

inline ap_info_stu Device(int id, int apType = 1, int workMode = WORK_MODE_AP) {
    ap_info_stu rec{};
    std::snprintf(rec.mac, sizeof rec.mac, "%s", MacOf(id).c_str());
    rec.ap_type = static_cast<uint16_t>(apType);
    rec.ap_status = AP_STATUS_ONLINE;
    rec.work_mode = static_cast<uint8_t>(workMode);
    IpFromText("10.0." + std::to_string(id / 200) + "." + std::to_string(id % 200 + 1), rec.ip);
    char name[16];
    std::snprintf(name, sizeof name, "dev%03d", 999 - id);
    SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, name);
    return rec;
}

// A device that has only answered a search (status 10).
inline ap_info_stu Discovered(int id) {
    ap_info_stu rec = Device(500 + id);
    rec.ap_status = AP_STATUS_DISCOVERED;
    IpFromText("10.9.0." + std::to_string(id + 1), rec.ip);
    return rec;
}

}  // namespace fd::test
