#pragma once
// fielddesk-cli upgrade: a firmware upgrade of devices from the terminal, with the same
// course as the desktop program's upgrade dialog and our own FileServer.

#include <iosfwd>

#include "cli/cli_args.h"

namespace fd::cli {

class Session;

int RunUpgrade(Session& s, const Options& o, std::ostream& out, std::ostream& err);

}  // namespace fd::cli
