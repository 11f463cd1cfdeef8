#include "small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>

namespace quillomir::linux_host {

namespace {

namespace fs = std::filesystem;

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

// A rename or a new folder lasts only once its folder is on disk too. A file
// system that cannot sync folders (EINVAL) has nothing more to do.
bool SyncFolder(const fs::path& folder) {
    ScopedFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && (::fsync(fd.get()) == 0 || errno == EINVAL);
}

// Makes the folder and any missing folder above it, owner-only as the XDG
// base-directory rules ask; folders that exist keep their modes.
bool MakeFolders(const fs::path& folder) {
    struct stat info {};
    if (folder.empty() || ::stat(folder.c_str(), &info) == 0) {
        return folder.empty() || S_ISDIR(info.st_mode);
    }
    if (errno != ENOENT) {
        return false;
    }
    const fs::path parent = folder.parent_path();
    if (parent != folder && !MakeFolders(parent)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0) {
        return errno == EEXIST;
    }
    return SyncFolder(parent);
}

// Where the text of `file` lives: `file` itself, or the end of its chain of
// symbolic links (which may not exist yet). Empty for a loop, or for a link
// that belongs to neither this user nor root: as the kernel's protected
// symlinks do in shared folders, so that root saving in a user's folder cannot
// be led to overwrite a system file.
std::optional<fs::path> FinalTarget(fs::path path) {
    constexpr int kMaxLinks = 40;  // the kernel's own limit
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            return errno == ENOENT ? std::optional(path) : std::nullopt;
        }
        if (!S_ISLNK(info.st_mode)) {
            return path;
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(path, error);
        if (error || (info.st_uid != ::geteuid() && info.st_uid != 0)) {
            return std::nullopt;
        }
        path = path.parent_path() / target;  // an absolute target replaces the whole
    }
    return std::nullopt;
}

// Gives the new file the old one's permissions and, where this user may, its
// owner and group; when those cannot be kept, only this user may read it.
bool KeepAccess(int fd, const fs::path& old_file) {
    struct stat old {};
    if (::stat(old_file.c_str(), &old) != 0) {
        return errno == ENOENT;  // a new file stays 0600, as mkstemp made it
    }
    if (!S_ISREG(old.st_mode)) {
        return false;  // a device or FIFO is not ours to replace
    }
    mode_t mode = old.st_mode & 0777;
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        mode &= S_IRWXU;
    }
    return ::fchmod(fd, mode) == 0;
}

}  // namespace

SmallFile ReadSmallFile(const fs::path& file, std::size_t max_size) {
    // Non-blocking, or a FIFO would wait for a writer before the check below;
    // no controlling terminal from a tty either.
    ScopedFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return {errno == ENOENT ? SmallFile::State::kMissing : SmallFile::State::kUnusable, {}};
    }
    struct stat info {};
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return {SmallFile::State::kUnusable, {}};
    }
    SmallFile result{SmallFile::State::kText, {}};
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {SmallFile::State::kUnusable, {}};
        }
        if (got == 0) {
            break;
        }
        result.text.append(buffer, static_cast<std::size_t>(got));
        if (result.text.size() > max_size) {
            return {SmallFile::State::kUnusable, {}};
        }
    }
    return result;
}

bool ReplaceSmallFile(const fs::path& file, std::string_view text) {
    if (!MakeFolders(file.parent_path())) {
        return false;
    }
    const std::optional<fs::path> target = FinalTarget(file);
    if (!target) {
        return false;
    }
    // The new file goes in the target's own folder, since a rename cannot cross
    // file systems; that folder is never made here.
    const fs::path folder = target->parent_path();
    std::string temp = (folder / (target->filename().string() + ".XXXXXX")).string();
    ScopedFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    // The data must be on disk before the rename makes it the file, or a crash
    // could leave an empty file in the old one's place.
    const bool written = KeepAccess(fd.get(), *target) && WriteAll(fd.get(), text) &&
                         ::fsync(fd.get()) == 0 && fd.Close();
    if (!written || ::rename(temp.c_str(), target->c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return SyncFolder(folder);
}

}  // namespace quillomir::linux_host
