#pragma once
// Facts about the running program that the rest of the program needs to find its files.

#include <string>

namespace fd {

// The directory of the running executable, ending in '/'. Files that ship with the program
// (Setting.ini, Languages/, Skin/) are found relative to it. Falls back to the current
// directory when /proc is not available.
std::string GetExecutableDirectory();

// The same, computed once and then returned from memory.
const std::string& GetExecutableDirectoryCached();

// A folder for this user alone in $TMPDIR (or /tmp), without a trailing '/': fielddesk-UID,
// created 0700. The temporary folder is shared, so another user (or, inside a user
// namespace, another user mapped to the same number) may own that name already: then the
// first of fielddesk-UID-1 .. -9 that is ours. Empty when none is.
std::string PrivateTempDirectory();

}  // namespace fd
