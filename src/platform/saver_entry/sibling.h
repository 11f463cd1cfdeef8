// The saver's programs find each other beside themselves: the settings
// dialog, and the build of the saver for the other display system.
#pragma once

#include <string>
#include <vector>

namespace quillomir::saver_entry {

// The running program's file, and its folder (links resolved), or empty.
std::string OwnPath();
std::string OwnDirectory();

// Replaces this process with the first of `places` that can be run, passing
// `argv` (argv[0] included). Places that do not exist, and folders, are
// passed over. Returns only when none could be run, after a message that
// names `what` and either every place looked at (none was there) or what is
// wrong with each one that was (not a file, not executable, refused by the
// kernel).
int ExecFirst(const std::vector<std::string>& places, char* const argv[], const char* what);

}  // namespace quillomir::saver_entry
