#include "presentation/search_note.h"

#include "config/language.h"
#include "system/net_diagnostics.h"

namespace fd {

namespace {

void ReplaceFirst(std::string& text, const std::string& what, const std::string& with) {
    if (auto p = text.find(what); p != std::string::npos) text.replace(p, what.size(), with);
}

}  // namespace

std::string EmptySearchNote(int searches, const std::vector<LocalAdapterInfo>& listed) {
    // Adapters without carrier were listed but not searched on; they are named apart.
    std::vector<LocalAdapterInfo> adapters;
    std::string unplugged;
    for (const auto& a : listed) {
        if (a.up == 1)
            adapters.push_back(a);
        else if (a.unplugged)
            unplugged += (unplugged.empty() ? "" : ", ") + AdapterNameOf(a);
    }
    std::string text;
    if (adapters.empty()) {
        text = GetLangText("No device answered: no network adapter with an IPv4 address is up.");
    } else {
        std::string list;
        for (const auto& a : AttributeAnswers(adapters, {}).adapters) {
            if (!list.empty()) list += ", ";
            list += a.name + " (";
            for (std::size_t i = 0; i < a.addresses.size(); ++i)
                list += (i ? ", " : "") + a.addresses[i];
            list += ")";
        }
        text = GetLangText("No device answered %d searches on %s.");
        ReplaceFirst(text, "%d", std::to_string(searches));
        ReplaceFirst(text, "%s", list);
    }
    if (!unplugged.empty()) {
        std::string line = GetLangText("Cable unplugged or no link on %s.");
        ReplaceFirst(line, "%s", unplugged);
        text += "\n" + line;
    }
    // The usual causes: a firewall, reverse-path filtering, no adapter in the subnet.
    return text + "\n" + GetLangText("Run 'fielddesk-cli doctor' to find out why.");
}

}  // namespace fd
