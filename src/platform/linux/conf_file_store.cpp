#include "conf_file_store.h"

#include <cctype>
#include <cstdlib>

#include "ini_text.h"

namespace quillomir::linux_host {

namespace {

std::filesystem::path AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};  // relative values are to be ignored, as the base-directory rules say
    }
    return value;
}

// "Quillomir" -> "quillomir": the folder and file names are lower case.
std::string LowerName(std::string_view application) {
    std::string name;
    for (const char c : application) {
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

}  // namespace

std::filesystem::path ConfigFileStore::DefaultRoot() {
    if (auto config = AbsoluteFromEnvironment("XDG_CONFIG_HOME"); !config.empty()) {
        return config;
    }
    if (auto home = AbsoluteFromEnvironment("HOME"); !home.empty()) {
        return home / ".config";
    }
    return {};
}

std::filesystem::path ConfigFileStore::FileOf(std::string_view application) const {
    if (root_.empty() || !IsIniName(application) ||
        application.find('/') != std::string_view::npos || application.front() == '.') {
        return {};
    }
    const std::string name = LowerName(application);
    return root_ / name / (name + ".conf");
}

bool ConfigFileStore::Replace(const std::filesystem::path& file, std::string_view text) const {
    // A file that every later read would refuse is no save at all.
    return text.size() <= kMaxFileSize && ReplaceSmallFile(file, text);
}

StoredText ConfigFileStore::Find(std::string_view application, std::string_view section,
                                 std::string_view key) {
    const std::filesystem::path file = FileOf(application);
    if (file.empty()) {
        return {StoredText::Kind::kOther, {}};
    }
    const SmallFile loaded = Load(file);
    switch (loaded.state) {
        case SmallFile::State::kMissing:
            return {};
        case SmallFile::State::kUnusable:
            return {StoredText::Kind::kOther, {}};
        case SmallFile::State::kText:
            break;
    }
    auto value = FindIniValue(loaded.text, section, key);
    if (!value) {
        return {};
    }
    return {StoredText::Kind::kText, std::move(*value)};
}

std::string ConfigFileStore::Read(std::string_view application, std::string_view section,
                                  std::string_view key, std::string_view fallback) {
    StoredText found = Find(application, section, key);
    return found.kind == StoredText::Kind::kText ? std::move(found.text) : std::string(fallback);
}

bool ConfigFileStore::Save(std::string_view application, std::string_view section,
                           std::string_view key, std::string_view text) {
    const std::filesystem::path file = FileOf(application);
    if (file.empty() || !IsIniName(section) || !IsIniName(key) || !IsIniValue(text)) {
        return false;  // it could not be read back as it was given
    }
    const SmallFile loaded = Load(file);
    if (loaded.state == SmallFile::State::kUnusable) {
        return false;  // rewriting it would lose what it holds
    }
    return Replace(file, SetIniValue(loaded.text, section, key, text));
}

bool ConfigFileStore::Remove(std::string_view application, std::string_view section,
                             std::string_view key) {
    const std::filesystem::path file = FileOf(application);
    if (file.empty()) {
        return false;
    }
    const SmallFile loaded = Load(file);
    if (loaded.state == SmallFile::State::kMissing) {
        return true;
    }
    if (loaded.state == SmallFile::State::kUnusable) {
        return false;
    }
    if (!FindIniValue(loaded.text, section, key)) {
        return true;
    }
    return Replace(file, RemoveIniValue(loaded.text, section, key));
}

}  // namespace quillomir::linux_host
