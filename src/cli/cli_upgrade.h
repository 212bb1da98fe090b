#pragma once
// fielddesk-cli upgrade: a firmware upgrade of devices from the terminal, with the same
// course as the desktop program's upgrade dialog and our own FileServer.

#include <iosfwd>
#include <string>
#include <vector>

namespace fd::cli {

// args[0] is "upgrade".
bool IsUpgradeCommand(const std::vector<std::string>& args);
int RunUpgradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::string UpgradeHelp();

}  // namespace fd::cli
