#include "config/labels.h"

#include <cstdio>
#include <iterator>

#include "config/language.h"

namespace fd {
namespace {

// Texts between the lang-keys markers are language-file keys; scripts/lang_keys.py
// collects them for the translation check.
// lang-keys:begin
constexpr const char* kStatusKeys[] = {
    "Outline",  "Online",       "Bridge success", "Bridge fail",     "Restarting",
    "Reseting", "Upgrade wait", "Upgrading",      "Upgrade success", "Upgrade fail",
};
constexpr const char* kWorkModeKeys[] = {
    "AP", "Station", "Universal Repeater", "Repeater", "P2MP", "WISP", "Router",
};
constexpr const char* kSecurityKeys[] = {
    "Disable", "WEP", "WPA_PSK", "WPA2_PSK", "WPAWPA2_PSK", "WPA", "WPA2",
};
constexpr const char* kAuto = "Auto";
constexpr const char* kOn = "On2";
constexpr const char* kOff = "Off2";
// lang-keys:end
constexpr const char* kNotApplicable = "N/A";

struct Model {
    int code;
    const char* name;
};

// Codes 1-11: the outdoor CPE line; 257-267: the access-point and base-station line.
constexpr Model kModels[] = {
    {1, "FDX-C101"},   {2, "FDX-C102"},   {3, "FDX-C103"},   {4, "FDX-C104"},   {5, "FDX-C105"},
    {6, "FDX-C106"},   {7, "FDX-C107"},   {8, "FDX-C108"},   {9, "FDX-C109"},   {10, "FDX-C110"},
    {11, "FDX-C111"},  {257, "FDX-B201"}, {258, "FDX-B202"}, {259, "FDX-B203"}, {260, "FDX-B204"},
    {261, "FDX-B205"}, {262, "FDX-B206"}, {263, "FDX-B207"}, {264, "FDX-B208"}, {265, "FDX-B209"},
    {266, "FDX-B210"}, {267, "FDX-B211"},
};

template <std::size_t N>
std::string TableLabel(const char* const (&table)[N], int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) return {};
    return GetLangText(table[index]);
}

std::string OnOff(int flag) {
    return GetLangText(flag != 0 ? kOn : kOff);
}

}  // namespace

std::string GetStatusLabel(int status) {
    return TableLabel(kStatusKeys, status);
}
std::string GetWorkModeLabel(int workMode) {
    return TableLabel(kWorkModeKeys, workMode - 1);
}
std::string GetSecurityLabel(int secureMode) {
    return TableLabel(kSecurityKeys, secureMode);
}

std::string GetModelLabel(int apType) {
    for (const auto& m : kModels) {
        if (m.code == apType) return m.name;
    }
    return kModels[0].name;
}

std::vector<std::string> GetModelLabels() {
    std::vector<std::string> names;
    for (const auto& m : kModels) names.emplace_back(m.name);
    return names;
}

int GetModelCode(const std::string& modelName) {
    for (const auto& m : kModels) {
        if (modelName == m.name) return m.code;
    }
    return kDefaultModelCode;
}

std::string GetChannelLabel(int channel) {
    if (channel == 0) return GetLangText(kAuto);
    return std::to_string(channel);
}

bool HasTransparentBridge(int apType) {
    return apType != 4 && apType != 261;
}

bool HasAirSlot(int apType) {
    switch (apType) {
        case 6:
        case 8:
        case 9:
        case 10:
        case 11:
        case 265:
        case 266:
        case 267:
            return true;
        default:
            return false;
    }
}

std::string GetTransparentBridgeLabel(int apType, int workMode, int flag) {
    // Repeater, P2MP, WISP and Router modes have no transparent bridge.
    if (!HasTransparentBridge(apType) || (workMode >= 4 && workMode <= 7)) return kNotApplicable;
    return OnOff(flag);
}

std::string GetAirSlotLabel(int apType, int flag) {
    if (!HasAirSlot(apType)) return kNotApplicable;
    return OnOff(flag);
}

std::string GetUptimeText(uint32_t seconds) {
    const uint32_t days = seconds / 86400;
    const uint32_t h = (seconds / 3600) % 24, m = (seconds / 60) % 60, s = seconds % 60;
    char buf[48];
    if (days > 0) {
        std::snprintf(buf, sizeof buf, "%u %u:%u:%u", days, h, m, s);
    } else {
        std::snprintf(buf, sizeof buf, "%u:%u:%u", h, m, s);
    }
    return buf;
}

}  // namespace fd
