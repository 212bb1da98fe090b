// The bash completion: made from the help texts, it must match what the parser accepts and
// complete in a real bash.

#include "cli/cli_completion.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "cli/cli_args.h"

using namespace fd::cli;

namespace {

// What bash offers for the words typed so far (the last one is being completed).
std::string Complete(const std::string& words) {
    char path[] = "/tmp/fd-completion-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "mkstemp failed";
    close(fd);
    std::ofstream(path) << BashCompletion();
    const std::string cmd = "bash --norc --noprofile -c '. " + std::string(path) +
                            "; COMP_WORDS=(" + words +
                            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _fielddesk_cli; "
                            "echo \"${COMPREPLY[*]}\"' 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    unlink(path);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// A value each option accepts ("1" for the numbers).
std::string SampleValue(const std::string& opt) {
    if (opt == "--bssid") return "02:aa:00:00:00:01";
    static const std::pair<const char*, const char*> kSamples[] = {
        {"--sort", "ip"},         {"--hide-ssid", "on"},
        {"--mode", "11a"},        {"--bandwidth", "20"},
        {"--country", "US"},      {"--ext-channel", "above"},
        {"--security", "wpa2"},   {"--cipher", "aes"},
        {"--wep-auth", "open"},   {"--wep-key-format", "hex"},
        {"--vlan", "on"},         {"--reboot", "off"},
        {"--reboot-at", "03:30"}, {"--days", "everyday"},
        {"--tick-ms", "100"},     {"--spare-ip", "198.18.99.99"},
    };
    for (const auto& [name, value] : kSamples)
        if (opt == name) return value;
    return "1";
}

}  // namespace

TEST(Completion, EveryDocumentedOptionIsOneTheParserKnows) {
    const auto table = CompletionTable();
    ASSERT_GE(table.size(), 6u);
    for (const auto& c : table) {
        EXPECT_NE(std::find(c.options.begin(), c.options.end(), "--seconds"), c.options.end())
            << c.name;
        for (const auto& opt : c.options) {
            std::vector<std::string> args{c.name, opt};
            const bool takesValue = std::find(c.valueOptions.begin(), c.valueOptions.end(), opt) !=
                                    c.valueOptions.end();
            if (takesValue) args.push_back(SampleValue(opt));
            const auto r = ParseArguments(args);
            // Other complaints (a missing MAC) are fine: the option itself was understood.
            EXPECT_EQ(r.error.find("unknown option"), std::string::npos)
                << c.name << " " << opt << ": " << r.error;
            EXPECT_EQ(r.error.find(" takes "), std::string::npos)
                << c.name << " " << opt << ": " << r.error;
        }
    }
}

TEST(Completion, CompletesCommandsAndTheirOptionsInBash) {
    if (access("/bin/bash", X_OK) != 0) FAIL() << "bash is needed to check the completion";
    EXPECT_EQ(Complete("fielddesk-cli d"), "doctor demo");
    EXPECT_EQ(Complete("fielddesk-cli s"), "search set-ip show scan");
    EXPECT_EQ(Complete("fielddesk-cli search --s"), "--seconds --settle --sort");
    EXPECT_EQ(Complete("fielddesk-cli set-ip --mask --"), "") << "a value is typed, not offered";
    EXPECT_EQ(Complete("fielddesk-cli doctor --seconds 3 --"), "--seconds --json --help");
}
