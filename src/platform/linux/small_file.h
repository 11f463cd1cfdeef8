// Small text files that a program reads and replaces whole, and that their user
// may also edit, protect or link by hand (a settings file kept by a dotfile
// manager is a symbolic link into its repository).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillomir::linux_host {

struct SmallFile {
    enum class State { kText, kMissing, kUnusable };
    State state = State::kMissing;
    std::string text;
};

// The text of a regular file of at most `max_size` bytes, through any links.
// Missing when nothing is there (a dangling link too). Unusable, without ever
// waiting on it, when it is anything else: a FIFO, a device, a folder, a larger
// or unreadable file.
SmallFile ReadSmallFile(const std::filesystem::path& file, std::size_t max_size);

// Replaces the file's text as one step: a new file is written and synced beside
// the one it replaces, renamed over it, and the folder synced. A symbolic link
// stays and its final target gets the text; a target that does not exist yet
// is made in its folder if that folder exists. The new file keeps the old one's
// permissions, owner and group (0600 for a new file, owner-only when they cannot
// be kept). Missing folders on the way to `file` itself are made owner-only.
// False when it was refused or failed: then the old text is still in place,
// unless only the last step, syncing the folder, failed.
bool ReplaceSmallFile(const std::filesystem::path& file, std::string_view text);

}  // namespace quillomir::linux_host
