#include "presentation/plan_check.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "actions/configuration_sender.h"
#include "config/labels.h"
#include "rules/address_rules.h"
#include "rules/configuration_fields.h"
#include "rules/configure_request.h"
#include "system/local_adapters.h"
#include "wire/address.h"
#include "wire/utf8.h"

namespace fd {

namespace {

// The option messages of configure, in the words of a plan ("--vlan on" is "vlan on").
std::string PlanWords(std::string text) {
    for (std::size_t at; (at = text.find("--")) != std::string::npos;) text.erase(at, 2);
    return text;
}

bool IsHiddenField(const std::string& key) {
    return key == "key" || key.rfind("wep-key", 0) == 0;
}

// "line 5, column 3 (channel)": where a row's refusal points.
std::string Where(const PlanRow& row, const PlanCell* cell) {
    std::string out = "line " + std::to_string(cell ? cell->line : row.line);
    if (!cell) return out;
    if (cell->field > 0)
        return out + ", column " + std::to_string(cell->field) + " (" + cell->column + ")";
    return out + ", " + cell->column;
}

// The column a rule's refusal is about.
const char* ColumnOf(SettingField field) {
    switch (field) {
        case SettingField::Ssid:
            return "ssid";
        case SettingField::Power:
            return "power";
        case SettingField::Channel:
            return "channel";
        case SettingField::WepKey1:
        case SettingField::WepKey2:
        case SettingField::WepKey3:
        case SettingField::WepKey4:
        case SettingField::PskKey:
        case SettingField::RadiusKey:
            return "key";
        case SettingField::PskInterval:
        case SettingField::RadiusInterval:
            return "key-interval";
        case SettingField::RadiusServer:
            return "radius-server";
        case SettingField::RadiusPort:
            return "radius-port";
        case SettingField::Ip:
            return "ip";
        case SettingField::Mask:
            return "mask";
        case SettingField::Gateway:
            return "gateway";
        case SettingField::Dns1:
            return "dns1";
        case SettingField::Dns2:
            return "dns2";
        case SettingField::Name:
            return "name";
        case SettingField::VlanManage:
            return "vlan";
        case SettingField::VlanWlan:
            return "vlan-wlan";
        case SettingField::VlanPvid:
            return "pvid";
        case SettingField::VlanLan2:
            return "lan";
        case SettingField::VlanLan3:
            return "lan3";
        case SettingField::VlanLan4:
            return "lan4";
        case SettingField::RebootTime:
            return "reboot-at";
        case SettingField::RebootDays:
            return "days";
        default:
            return "";
    }
}

// The cell a message of configure's form building names ("channel 999 is not offered",
// "--ext-channel applies to..."): the first of the row's columns it begins with or quotes.
const PlanCell* CellNamedIn(const PlanRow& row, const std::string& message) {
    const PlanCell* best = nullptr;
    std::size_t at = std::string::npos;
    for (const PlanCell& c : row.cells) {
        for (const std::string& form : {"--" + c.column + " ", c.column + " ", "--" + c.column}) {
            const std::size_t p = message.find(form);
            if (p != std::string::npos &&
                (p < at || (p == at && best && c.column.size() > best->column.size()))) {
                at = p;
                best = &c;
            }
        }
    }
    return best;
}

// ---- the countries of the export: the code alone, as --country takes it ----
std::string CountryCode(const std::string& described) {
    const auto blank = described.find(' ');
    return described == "-" ? "" : described.substr(0, blank);
}

}  // namespace

std::vector<PlanFieldChange> PlanChangesOf(const std::vector<FieldDifference>& differences) {
    std::vector<PlanFieldChange> out;
    for (const FieldDifference& d : differences) {
        if (IsHiddenField(d.field))
            out.push_back({d.field, "(hidden)", "(hidden)"});
        else
            out.push_back({d.field, d.actual, d.expected});
    }
    return out;
}

PlanRowCheck CheckPlanRow(const ap_info_stu& rec, const PlanRow& row,
                          const std::vector<std::string>& usedIps) {
    PlanRowCheck check;
    auto refuse = [&](const PlanCell* cell, const std::string& why) {
        check.kind = PlanRowKind::Refused;
        check.message = Where(row, cell) + ": " + why;
        return check;
    };
    ConfigureOptions options;
    for (const PlanCell& cell : row.cells) {
        if (cell.column == "model") {
            const std::string model = GetModelLabel(rec.ap_type);
            if (AsciiLower(cell.value) != AsciiLower(model)) {
                check.kind = PlanRowKind::WrongModel;
                check.message = Where(row, &cell) + ": the plan is for a " + cell.value +
                                ", the device is a " + model;
                return check;
            }
            continue;
        }
        const std::string value = cell.value;
        auto take = [&](std::string& out) {
            out = value;
            return true;
        };
        const auto e = ParseConfigureOption(true, "--" + cell.column, take, options);
        if (e && !e->empty()) return refuse(&cell, PlanWords(*e));
    }
    if (options.values.empty()) return check;
    if (options.Has("reboot") && (options.Has("reboot-at") || options.Has("days")))
        return refuse(row.Find("reboot"), "reboot off excludes reboot-at and days");
    const ConfigureRequest request = BuildConfigureForms(rec, options);
    if (!request.error.empty())
        return refuse(CellNamedIn(row, request.error), PlanWords(request.error));
    const ConfigurationPlan plan = PlanConfiguration(rec, request.forms, usedIps);
    if (!plan.ok()) {
        const char* column = ColumnOf(plan.failure.field);
        return refuse(*column ? row.Find(column) : nullptr, RuleFailureText(plan.failure));
    }
    if (plan.pending.Empty()) return check;
    check.kind = PlanRowKind::WillChange;
    check.pending = plan.pending;
    check.changes = PlanChangesOf(ChangedFields(rec, plan.pending));
    return check;
}

PlanRow PlanRowOf(const ap_info_stu& rec, bool withKeys) {
    const ConfigurationFields fields = DescribeConfiguration(rec);
    std::map<std::string, std::string> f(fields.begin(), fields.end());
    PlanRow row;
    row.mac = rec.mac;
    auto put = [&](const char* column, const std::string& value) {
        if (!value.empty() && value != "-") row.cells.push_back({column, value, 0, 0});
    };
    put("model", f["type"]);
    for (const char* c : {"name", "ip", "mask", "gateway", "dns1", "dns2", "mode", "bandwidth"})
        put(c, f[c]);
    put("country", CountryCode(f["country"]));
    for (const char* c :
         {"channel", "ext-channel", "power", "ssid", "hide-ssid", "security", "cipher"})
        put(c, f[c]);
    if (withKeys) {
        if (rec.secure_mode == kSecureWep) {
            const std::string k = f["wep-key" + f["wep-default-key"]];
            const auto colon = k.find(':');
            if (colon != std::string::npos) put("key", k.substr(colon + 1));
        } else {
            put("key", f["key"]);
        }
    }
    put("key-interval", f["key-interval"]);
    put("wep-auth", f["wep-auth"]);
    put("wep-default-key", f["wep-default-key"]);
    if (rec.secure_mode == kSecureWep) {
        const std::string k = f["wep-key" + f["wep-default-key"]];
        put("wep-key-format", k.rfind("hex:", 0) == 0 ? "hex" : "ascii");
    }
    put("radius-server", f["radius-server"]);
    put("radius-port", f["radius-port"]);
    if (rec.vlan_en) {
        put("vlan", f["vlan-manage"]);
        for (const char* c : {"vlan-wlan", "pvid", "lan", "lan3", "lan4"}) put(c, f[c]);
    } else {
        put("vlan", "off");
    }
    if (rec.restart_en) {
        put("reboot-at", f["reboot-at"]);
        put("days", f["days"]);
    } else {
        put("reboot", "off");
    }
    return row;
}

// Reads the devices' records and checks their rows, then the rows as a whole: two rows with
// one address, an address this PC holds, the spare taken; and orders the address moves.
AddressMoveOrder EvaluatePlanRows(IDeviceStore& store, const std::vector<PlanEvaluation*>& entries,
                                  const std::string& spareIp) {
    std::vector<std::string> stored;
    store.QueryApIpList(stored);
    for (PlanEvaluation* e : entries) {
        e->found = store.QueryApByMac(e->row->mac, e->rec);
        if (e->found) e->ip = IpToText(e->rec.ip);
    }
    // A device of the plan that moves frees its address for the others.
    std::set<std::string> leaving;
    for (PlanEvaluation* e : entries) {
        const PlanCell* ip = e->row->Find("ip");
        if (e->found && ip && ip->value != e->ip) leaving.insert(e->ip);
    }
    std::vector<std::string> used;
    for (const auto& ip : stored)
        if (!leaving.count(ip)) used.push_back(ip);

    for (PlanEvaluation* e : entries) {
        if (!e->found) {
            e->state = PlanState::NotFound;
            e->detail = "not found by the search";
            continue;
        }
        e->check = CheckPlanRow(e->rec, *e->row, used);
        switch (e->check.kind) {
            case PlanRowKind::Unchanged:
                e->state = PlanState::Unchanged;
                break;
            case PlanRowKind::WillChange:
                e->state = PlanState::Sending;  // to be sent
                break;
            case PlanRowKind::Refused:
                e->state = PlanState::Refused;
                e->detail = e->check.message;
                break;
            case PlanRowKind::WrongModel:
                e->state = PlanState::WrongModel;
                e->detail = e->check.message;
                break;
        }
    }

    std::set<std::string> pcAddresses;
    for (const auto& a : ListLocalAdapters())
        for (int k = 0; k < a.ip_count && k < 10; ++k) pcAddresses.insert(a.addrs[k].ip);
    std::map<std::string, PlanEvaluation*> target;
    auto refuse = [&](PlanEvaluation& x, const std::string& why) {
        x.state = PlanState::Refused;
        x.detail = Where(*x.row, x.row->Find("ip")) + ": " + why;
    };
    for (PlanEvaluation* e : entries) {
        if (e->state != PlanState::Sending || !e->check.pending.ipChanged) continue;
        const std::string to = NewAddressOf(e->check.pending);
        if (pcAddresses.count(to)) {
            refuse(*e, to + " is an address of this PC");
        } else if (to == spareIp) {
            refuse(*e, to + " is the spare address given with --spare-ip");
        } else if (auto it = target.find(to); it != target.end()) {
            refuse(*e, to + " is also planned for " + it->second->row->mac + " (line " +
                           std::to_string(it->second->row->line) + ")");
            refuse(*it->second, to + " is also planned for " + e->row->mac + " (line " +
                                    std::to_string(e->row->line) + ")");
        } else {
            target[to] = e;
        }
    }
    AddressMoveOrder order;
    if (!spareIp.empty() &&
        std::find(stored.begin(), stored.end(), spareIp) != stored.end()) {
        order.error = "the spare address " + spareIp + " is held by a device";
        return order;
    }
    std::vector<PlanDeviceSend> sends;
    for (PlanEvaluation* e : entries)
        if (e->state == PlanState::Sending) sends.push_back({e->row->mac, e->ip, e->check.pending});
    return OrderAddressMoves(AddressMovesOf(sends), spareIp);
}

}  // namespace fd
