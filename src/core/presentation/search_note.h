#pragma once
// What the device list says when a search ended and no device answered: how many searches
// went out on which adapters, and where to look next. Without it an empty list looks the
// same as a search that never ran.

#include <string>
#include <vector>

#include "system/local_adapters.h"

namespace fd {

// searches: broadcasts sent; adapters: the PC's adapters as listed (those with up 1 were
// searched on; unplugged ones are named as such). Translated text, lines split by '\n'.
std::string EmptySearchNote(int searches, const std::vector<LocalAdapterInfo>& adapters);

}  // namespace fd
