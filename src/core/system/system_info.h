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

}  // namespace fd
