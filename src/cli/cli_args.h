#pragma once
// The command line of fielddesk-cli: what each command takes, its help text, and the
// checks that need no device (shape of MAC and IP texts, numbers in range).

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cli_configure_options.h"
#include "cli/cli_plan_options.h"

namespace fd::cli {

// Exit codes, as the help text documents them.
enum ExitCode : int {
    kExitOk = 0,
    kExitDeviceFailed = 1,   // a device was not found, not reachable, did not answer or refused
    kExitUsage = 2,          // bad command line, or input refused by the address/name rules
    kExitEnvironment = 3,    // cannot run: port in use, no database, engine start failed
    kExitInterrupted = 130,  // stopped by SIGINT/SIGTERM before the work was done
};

enum class Command {
    None,
    Search,
    Reboot,
    Reset,
    Rename,
    SetIp,
    Doctor,
    Show,
    Configure,
    Scan,
    Bridge,
    Upgrade,
    Demo,
    Plan,
};
enum class Format { Table, Json, Csv };

struct Options {
    Command command = Command::None;
    bool help = false;  // print the help of `command` (or the general help) and exit 0
    bool version = false;
    int seconds = 30;       // search length; for the actions: the longest search for the devices
    // search: end once no new answer came for this long (0: never); set-ip, configure,
    // bridge: how long the search waits for late answers before an address is checked.
    int settleSeconds = 0;
    bool verify = true;  // configure, rename, set-ip, bridge: read the settings back
    Format format = Format::Table;
    std::string filter;
    int sortIndex = 1;  // the store's sort column (1: ip_num)
    bool descending = false;
    // reboot/reset: macs. rename: (mac, name). set-ip: (mac, ip), or macs with a range.
    std::vector<std::string> macs;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string mask, gateway, dns1, dns2;  // empty: keep the device's own
    std::string rangeFirst, rangeEnd;       // set-ip --range FIRST [--end LAST]
    ConfigureOptions configure;             // show, configure
    PlanOptions plan;
    std::string bssid, key, ip;             // bridge: the access point, its key, the new ip
    // upgrade: the image, the model (empty: the first device's), the file server's port,
    // the length of the upgrade's second, and how long flashed devices may take to return.
    std::string image, model;
    int tftpPort = 69, tickMs = 1000, returnSeconds = 30;
    int demoCount = 40;  // demo: simulated devices
};

struct ParseResult {
    Options options;
    std::string error;  // empty on success; else what to print before the usage hint
};

// The help lines of --no-verify and --settle for the commands that change settings.
extern const char* const kVerifyNote;

ParseResult ParseArguments(const std::vector<std::string>& args);

// "02:FD:00:00:00:01" or "02-fd-00-00-00-01" -> "02:fd:00:00:00:01"; nullopt otherwise.
std::optional<std::string> NormalizeMac(std::string_view text);
// The store's sort index of a column name ("ip", "location", "operation-mode", ...;
// letter case, blanks, '-' and '_' do not matter); nullopt for an unknown name.
std::optional<int> SortIndexOf(std::string_view name);

std::string GeneralHelp();
std::string CommandHelp(Command c);
const char* CommandName(Command c);

}  // namespace fd::cli
