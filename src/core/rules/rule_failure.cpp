#include "rules/rule_failure.h"

#include "config/language.h"

namespace fd {

std::string RuleFailureText(const RuleFailure& failure) {
    if (!failure.Failed()) return {};
    const std::string message = GetLangText(failure.key);
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '%' && i + 1 < message.size() && message[i + 1] == 'd' &&
            next < failure.args.size()) {
            out += std::to_string(failure.args[next++]);
            ++i;
        } else {
            out += message[i];
        }
    }
    if (failure.labelKey.empty()) return out;
    return GetLangText(failure.labelKey) + " " + out;
}

}  // namespace fd
