#pragma once
// Moving a thread into one of the network namespaces the lab makes. A thread that has
// entered a namespace opens its sockets there, and threads it starts afterwards begin
// there too; other threads of the process are not affected.

#include <string>

namespace fd {

// nameOrPath: a name under /run/netns (what `ip netns` and scripts/netlab create) or an
// absolute path to a namespace file. False, with a reason in *error, when it cannot.
bool EnterNetworkNamespace(const std::string& nameOrPath, std::string* error = nullptr);

// A descriptor of the calling thread's current namespace (-1 on failure), for coming back
// with ReturnToNetworkNamespace, which also closes it.
int SaveNetworkNamespace();
bool ReturnToNetworkNamespace(int savedFd);

}  // namespace fd
