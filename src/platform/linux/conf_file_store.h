// The settings as a per-user INI file: application "Quillomir" lives in
// $XDG_CONFIG_HOME/quillomir/quillomir.conf (~/.config/... when that is unset),
// each section a "[Section]" and each key a "Key=Value" line.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_store.h"
#include "small_file.h"

namespace quillomir::linux_host {

class ConfigFileStore : public SettingsStore {
  public:
    // A file larger than this is not read as settings: it reads as absent and
    // saves are refused, so that nothing in it is lost. A save whose text would
    // be larger is refused too, or every later read would lose it.
    static constexpr std::size_t kMaxFileSize = 64 * 1024;

    // The user's configuration folder, or empty when neither $XDG_CONFIG_HOME
    // nor $HOME is an absolute path.
    static std::filesystem::path DefaultRoot();

    ConfigFileStore() : root_(DefaultRoot()) {}
    // Another configuration folder, such as a scratch folder for tests.
    explicit ConfigFileStore(std::filesystem::path root) : root_(std::move(root)) {}

    // The file that holds an application's settings.
    std::filesystem::path FileOf(std::string_view application) const;

    std::string Read(std::string_view application, std::string_view section, std::string_view key,
                     std::string_view fallback) override;
    // Writes a new file beside the old one (beside a link's final target) and
    // renames it over, keeping the old file's permissions: the old file stays
    // whole whatever fails, and false says that the save did not happen or, if
    // only the final sync of the folder failed, may not last a crash.
    bool Save(std::string_view application, std::string_view section, std::string_view key,
              std::string_view text) override;

    // Absent when the file or the key is missing; "other" when the file cannot
    // be read as settings (unreadable, too large, not a regular file such as a
    // FIFO, a device or a folder), or there is no configuration folder at all.
    StoredText Find(std::string_view application, std::string_view section,
                    std::string_view key) override;
    // Rewrites the file without the key, as Save does; true when it is absent afterwards.
    bool Remove(std::string_view application, std::string_view section,
                std::string_view key) override;

  private:
    SmallFile Load(const std::filesystem::path& file) const {
        return ReadSmallFile(file, kMaxFileSize);
    }
    // Replaces the file's contents as one step, or refuses text over the limit.
    bool Replace(const std::filesystem::path& file, std::string_view text) const;

    std::filesystem::path root_;
};

}  // namespace quillomir::linux_host
