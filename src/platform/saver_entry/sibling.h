// The saver's programs find each other beside themselves: the settings
// dialog, and the build of the saver for the other display system.
#pragma once

#include <string>
#include <vector>

namespace quillomir::saver_entry {

// The folder of the running program (links resolved), or empty.
std::string OwnDirectory();

// Replaces this process with the first of `places` that can be run, passing
// `argv` (argv[0] included); returns only when none could be, after a message
// that names `what` and every place looked at.
int ExecFirst(const std::vector<std::string>& places, char* const argv[], const char* what);

}  // namespace quillomir::saver_entry
