#include "conf_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "ini_text.h"

namespace quillomir::linux_host {

namespace {

// Closes the descriptor when it goes out of scope.
class ScopedFd {
  public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting whether the last writes reached the file.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

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

ConfigFileStore::FileText ConfigFileStore::Load(const std::filesystem::path& file) const {
    ScopedFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return {errno == ENOENT ? Loaded::Missing : Loaded::Unusable, {}};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {Loaded::Unusable, {}};
    }
    FileText result{Loaded::Text, {}};
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {Loaded::Unusable, {}};
        }
        if (got == 0) {
            break;
        }
        result.text.append(buffer, static_cast<std::size_t>(got));
        if (result.text.size() > kMaxFileSize) {
            return {Loaded::Unusable, {}};
        }
    }
    return result;
}

bool ConfigFileStore::Replace(const std::filesystem::path& file, std::string_view text) const {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        return false;
    }
    std::string temp = file.string() + ".XXXXXX";
    ScopedFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    // The data must be on disk before the rename makes it the file, or a crash
    // could leave an empty file in the old one's place.
    const bool written = WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0 && fd.Close();
    if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

StoredText ConfigFileStore::Find(std::string_view application, std::string_view section,
                                 std::string_view key) {
    const std::filesystem::path file = FileOf(application);
    if (file.empty()) {
        return {StoredText::Kind::kOther, {}};
    }
    const FileText loaded = Load(file);
    switch (loaded.state) {
        case Loaded::Missing:
            return {};
        case Loaded::Unusable:
            return {StoredText::Kind::kOther, {}};
        case Loaded::Text:
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
    const FileText loaded = Load(file);
    if (loaded.state == Loaded::Unusable) {
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
    const FileText loaded = Load(file);
    if (loaded.state == Loaded::Missing) {
        return true;
    }
    if (loaded.state == Loaded::Unusable) {
        return false;
    }
    if (!FindIniValue(loaded.text, section, key)) {
        return true;
    }
    return Replace(file, RemoveIniValue(loaded.text, section, key));
}

}  // namespace quillomir::linux_host
