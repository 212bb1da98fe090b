#include "rules/ip_settings.h"

#include <cstring>

#include "config/labels.h"
#include "rules/address_rules.h"

namespace fd {

namespace {

// lang-keys:begin
constexpr const char* kMsgIpInUse = "The ip address is already in use, please respecify!";
constexpr const char* kMsgNameEmpty = "The device name can not be empty!";
// lang-keys:end

// Only after CheckAddressFieldsReadable passed.
void PutAddress(uint8_t out[4], const std::string& text) {
    const auto b = ReadIpField(text).value_or(IpBytes{});
    std::memcpy(out, b.data(), 4);
}

std::string AddressOrEmpty(const std::string& text) {
    return text.empty() ? std::string("0.0.0.0") : text;
}

}  // namespace

IpSettingsForm IpSettingsFormFromRecord(const ap_info_stu& rec) {
    IpSettingsForm f;
    f.ip = IpToText(rec.ip);
    f.mask = IpToText(rec.ip_mask);
    f.gateway = IpToText(rec.ip_gateway);
    f.dns1 = IpToText(rec.ip_dns1);
    f.dns2 = IpToText(rec.ip_dns2);
    f.name = std::string(FieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len));
    return f;
}

IpSettingsCollect CollectIpSettings(const ap_info_stu& record, const IpSettingsForm& f,
                                    const std::vector<std::string>& usedIps) {
    IpSettingsCollect out;
    AddressForm a;
    a.ip = f.ip;
    a.mask = f.mask;
    a.gateway = f.gateway;
    a.dns1 = f.dns1;
    a.dns2 = f.dns2;
    // A text that is no address is refused before anything is compared: read loosely it
    // could look like the device's own value and pass as "unchanged".
    if (RuleFailure e = CheckAddressFieldsReadable(a); e.Failed()) {
        out.failure = e;
        out.failure.appCaption = true;
        return out;
    }
    ap_info_stu rec = record;
    rec.ip_mode = 1;
    const IpConfigBlock old = GetIpBlock(rec);
    IpConfigBlock block = old;
    PutAddress(block.ip, f.ip);
    PutAddress(block.ip_mask, f.mask);
    PutAddress(block.ip_gateway, f.gateway);
    PutAddress(block.ip_dns1, f.dns1);
    PutAddress(block.ip_dns2, f.dns2);
    out.ipChanged = std::memcmp(&block, &old, sizeof block) != 0;
    if (out.ipChanged) {
        if (RuleFailure e = CheckDeviceAddress(a); e.Failed()) {
            out.failure = e;
            out.failure.appCaption = true;
            out.ipChanged = false;
            return out;
        }
        const std::string newIp = AddressOrEmpty(f.ip);
        if (newIp != IpToText(rec.ip)) {
            for (const std::string& used : usedIps) {
                if (used == newIp) {
                    out.failure = Refuse(RuleCode::IpInUse, kMsgIpInUse, SettingField::Ip, true);
                    out.ipChanged = false;
                    return out;
                }
            }
        }
    }
    block.reserved = 1;
    out.ip = block;

    if (f.name.empty()) {
        out.failure = Refuse(kMsgNameEmpty, SettingField::Name);
        return out;
    }
    if (!IsValidDeviceName(f.name, rec.ap_type)) {
        out.failure = Refuse(DeviceNameRuleMessage(rec.ap_type), SettingField::Name);
        return out;
    }
    SetFieldText(out.name.ap_name, sizeof out.name.ap_name, out.name.ap_name_len, f.name);
    const std::string_view oldName = FieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len);
    const std::string_view newName =
        FieldText(out.name.ap_name, sizeof out.name.ap_name, out.name.ap_name_len);
    out.nameChanged = oldName != newName;
    return out;
}

}  // namespace fd
