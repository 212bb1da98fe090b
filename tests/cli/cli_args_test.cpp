// The command line of fielddesk-cli: commands, options, and the checks made before any
// device is looked for.

#include "cli/cli_args.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../support/temp_dir.h"
#include "config/labels.h"

using namespace fd::cli;

namespace {

ParseResult Parse(std::vector<std::string> args) {
    return ParseArguments(args);
}

}  // namespace

TEST(CliArgs, SearchOptions) {
    auto r = Parse({"search"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, Command::Search);
    EXPECT_EQ(r.options.seconds, 30);
    EXPECT_EQ(r.options.format, Format::Table);
    EXPECT_EQ(r.options.sortIndex, 1);
    EXPECT_FALSE(r.options.descending);

    r = Parse({"search", "--seconds", "5", "--json", "--filter=Tower", "--sort", "Operation Mode",
               "--desc"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.seconds, 5);
    EXPECT_EQ(r.options.format, Format::Json);
    EXPECT_EQ(r.options.filter, "Tower");
    EXPECT_EQ(r.options.sortIndex, 4);
    EXPECT_TRUE(r.options.descending);

    EXPECT_EQ(Parse({"search", "--settle", "3"}).options.settleSeconds, 3);
    EXPECT_NE(Parse({"search", "--settle", "0"}).error, "");
    EXPECT_NE(Parse({"reboot", "02:fd:00:00:00:01", "--settle", "3"}).error, "");
    EXPECT_EQ(Parse({"search", "--csv"}).options.format, Format::Csv);
    EXPECT_NE(Parse({"search", "--csv", "--json"}).error, "");
    EXPECT_NE(Parse({"search", "--seconds", "0"}).error, "");
    EXPECT_NE(Parse({"search", "--seconds", "3601"}).error, "");
    EXPECT_NE(Parse({"search", "--seconds", "5x"}).error, "");
    EXPECT_NE(Parse({"search", "--seconds"}).error, "");
    EXPECT_NE(Parse({"search", "--sort", "colour"}).error, "");
    EXPECT_NE(Parse({"search", "extra"}).error, "");
    EXPECT_NE(Parse({"search", "--mask", "255.0.0.0"}).error, "");  // not a search option
    EXPECT_NE(Parse({"search", "--filter", "a", "--filter", "b"}).error, "");
}

TEST(CliArgs, SortNamesMapToTheStoreColumns) {
    const std::pair<const char*, int> cases[] = {
        {"mac", 0},
        {"IP", 1},
        {"location", 2},
        {"type", 3},
        {"operation-mode", 4},
        {"ssid", 5},
        {"channel", 6},
        {"version", 9},
        {"transparent_bridge", 10},
        {"Transparent bridge", 10},
        {"AirSlot", 11},
        {"time", 12},
        {"status", 13},
    };
    for (const auto& [name, idx] : cases) EXPECT_EQ(SortIndexOf(name), idx) << name;
    EXPECT_EQ(SortIndexOf("serial"), std::nullopt);
    EXPECT_EQ(SortIndexOf(""), std::nullopt);
}

TEST(CliArgs, HelpEverywhereAndCommandFirst) {
    auto r = Parse({"--help"});
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.options.help);
    EXPECT_EQ(r.options.command, Command::None);
    r = Parse({"set-ip", "--help"});
    EXPECT_TRUE(r.options.help);
    EXPECT_EQ(r.options.command, Command::SetIp);
    // Help wins over arguments that would otherwise be refused.
    EXPECT_EQ(Parse({"reboot", "not-a-mac", "--help"}).error, "");
    for (auto c :
         {Command::Search, Command::Reboot, Command::Reset, Command::Rename, Command::SetIp}) {
        const std::string h = CommandHelp(c);
        EXPECT_NE(h.find(std::string("fielddesk-cli ") + CommandName(c)), std::string::npos);
        EXPECT_NE(h.find("Exit codes"), std::string::npos);
    }
    EXPECT_NE(Parse({}).error, "");
    EXPECT_NE(Parse({"frobnicate"}).error, "");
    EXPECT_NE(Parse({"--seconds", "3", "search"}).error, "");
}

TEST(CliArgs, MacsAreNormalisedAndChecked) {
    EXPECT_EQ(NormalizeMac("02:FD:00:0a:00:01"), "02:fd:00:0a:00:01");
    EXPECT_EQ(NormalizeMac("02-fd-00-0a-00-01"), "02:fd:00:0a:00:01");
    EXPECT_EQ(NormalizeMac("02:fd-00:0a:00:01"), std::nullopt);
    EXPECT_EQ(NormalizeMac("02:fd:00:0a:00"), std::nullopt);
    EXPECT_EQ(NormalizeMac("02:fd:00:0a:00:0g"), std::nullopt);

    auto r = Parse({"reboot", "02:FD:00:00:00:01", "02:fd:00:00:00:02"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.macs, (std::vector<std::string>{"02:fd:00:00:00:01", "02:fd:00:00:00:02"}));
    EXPECT_NE(Parse({"reboot"}).error, "");
    EXPECT_NE(Parse({"reset", "02:fd:00:00:00:01", "02-FD-00-00-00-01"}).error, "");  // twice
    EXPECT_NE(Parse({"reset", "nonsense"}).error, "");
}

TEST(CliArgs, RenameChecksWhatNeedsNoDevice) {
    auto r = Parse({"rename", "02:fd:00:00:00:01", "\xE5\xA1\x94 north"});
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.options.pairs.size(), 1u);
    EXPECT_EQ(r.options.pairs[0].second, "\xE5\xA1\x94 north");
    EXPECT_EQ(Parse({"rename", "02:fd:00:00:00:01", ""}).error,
              "The device name can not be empty!");
    EXPECT_NE(Parse({"rename", "02:fd:00:00:00:01", std::string(33, 'n')}).error, "");
    EXPECT_NE(Parse({"rename", "02:fd:00:00:00:01", "caf\xC3\xA9"}).error, "");
    EXPECT_NE(Parse({"rename", "02:fd:00:00:00:01"}).error, "");  // no name
    // A name that looks like an option goes after "--".
    EXPECT_NE(Parse({"rename", "02:fd:00:00:00:01", "-north"}).error, "");
    r = Parse({"rename", "--seconds", "5", "--", "02:fd:00:00:00:01", "-north"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.pairs[0].second, "-north");
    EXPECT_EQ(r.options.seconds, 5);
}

TEST(CliArgs, SetIpPairsAndRange) {
    auto r = Parse({"set-ip", "02:fd:00:00:00:01", "198.18.1.50", "02:fd:00:00:00:02",
                    "198.18.1.51", "--mask", "255.255.0.0", "--gateway", "0.0.0.0"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.pairs.size(), 2u);
    EXPECT_EQ(r.options.pairs[1].second, "198.18.1.51");
    EXPECT_EQ(r.options.mask, "255.255.0.0");
    EXPECT_EQ(r.options.gateway, "0.0.0.0");

    r = Parse({"set-ip", "--range", "198.18.3.254", "--end", "198.18.4.3", "02:fd:00:00:00:01",
               "02:fd:00:00:00:02"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.rangeFirst, "198.18.3.254");
    EXPECT_EQ(r.options.macs.size(), 2u);

    // Refused before any search: bad addresses, masks, a new address given twice.
    EXPECT_EQ(Parse({"set-ip", "02:fd:00:00:00:01", "10.0.0.255"})
                  .error.rfind("The ip address is invalid!", 0),
              0u);
    EXPECT_EQ(Parse({"set-ip", "02:fd:00:00:00:01", "10.0.0.5", "--mask", "255.255.255.255"}).error,
              "The subnet mask is invalid!");
    EXPECT_EQ(Parse({"set-ip", "02:fd:00:00:00:01", "10.0.0.5", "--gateway", "127.0.0.1"}).error,
              "The gateway address is invalid!");
    EXPECT_NE(Parse({"set-ip", "02:fd:00:00:00:01", "10.0.0.5", "02:fd:00:00:00:02", "10.0.0.5"})
                  .error.find("already in use"),
              std::string::npos);
    EXPECT_NE(Parse({"set-ip", "02:fd:00:00:00:01"}).error, "");
    EXPECT_NE(Parse({"set-ip", "--end", "10.0.0.9", "02:fd:00:00:00:01"}).error, "");
    EXPECT_NE(Parse({"set-ip", "--range", "224.0.0.1", "02:fd:00:00:00:01"}).error, "");
}

TEST(CliArgs, UpgradeChecksTheImageBeforeAnyDevice) {
    fd::test::TempDir tmp;
    const std::string good = tmp.Write("fw.BIN", "image"), mixed = tmp.Write("fw.Bin", "image");
    const std::string empty = tmp.Write("empty.bin", "");
    const std::string mac = "02:FD:00:00:00:01";
    auto r = Parse({"upgrade", "--image", good, mac, "--tick-ms=100"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, Command::Upgrade);
    EXPECT_EQ(r.options.macs, std::vector<std::string>{"02:fd:00:00:00:01"});
    EXPECT_EQ(r.options.tickMs, 100);
    EXPECT_EQ(r.options.tftpPort, 69);
    EXPECT_EQ(Parse({"upgrade", "--image", mixed, mac}).error, "Upgrade file is not .bin file!");
    EXPECT_NE(Parse({"upgrade", mac}).error.find("--image"), std::string::npos);
    EXPECT_NE(Parse({"upgrade", "--image", empty, mac}).error.find("cannot read"), std::string::npos);
    EXPECT_NE(Parse({"upgrade", "--image", tmp.Path("missing.bin"), mac}).error, "");
    EXPECT_NE(Parse({"upgrade", "--image", good}).error, "");
    EXPECT_NE(Parse({"upgrade", "--image", good, mac, "--tftp-port", "0"}).error, "");
    EXPECT_NE(Parse({"upgrade", "--image", good, mac, "--tick-ms", "1001"}).error, "");
    EXPECT_NE(Parse({"reboot", mac, "--image", good}).error, "");  // not a reboot option
    // A model is checked here, before any search: a known name passes, another is refused
    // with the names there are.
    EXPECT_EQ(Parse({"upgrade", "--image", good, "--model", fd::GetModelLabel(2), mac}).error, "");
    const std::string unknown = Parse({"upgrade", "--image", good, "--model", "Nope", mac}).error;
    EXPECT_NE(unknown.find("unknown model Nope"), std::string::npos) << unknown;
    EXPECT_NE(unknown.find(fd::GetModelLabel(2)), std::string::npos) << unknown;
    // A link is judged by its own name and read through; a dangling one cannot be read.
    std::filesystem::create_symlink(good, tmp.Path("current.bin"));
    EXPECT_EQ(Parse({"upgrade", "--image", tmp.Path("current.bin"), mac}).error, "");
    std::filesystem::create_symlink(tmp.Path("gone.bin"), tmp.Path("dangling.bin"));
    EXPECT_NE(
        Parse({"upgrade", "--image", tmp.Path("dangling.bin"), mac}).error.find("cannot read"),
        std::string::npos);
}
