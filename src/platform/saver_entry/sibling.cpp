#include "sibling.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillomir::saver_entry {

std::string OwnPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string OwnDirectory() {
    const std::string path = OwnPath();
    return path.substr(0, path.empty() ? 0 : path.rfind('/'));
}

int ExecFirst(const std::vector<std::string>& places, char* const argv[], const char* what) {
    std::vector<std::string> faults;  // "place: what is wrong with it"
    for (const std::string& place : places) {
        struct stat info {};
        if (stat(place.c_str(), &info) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) {
                faults.push_back(place + ": " + std::strerror(errno));
            }
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            continue;  // the Wayland part's own folder bears the program's name
        }
        if (!S_ISREG(info.st_mode)) {
            faults.push_back(place + ": not a regular file");
            continue;
        }
        if (access(place.c_str(), X_OK) != 0) {
            faults.push_back(place + ": cannot be executed (" + std::strerror(errno) + ")");
            continue;
        }
        execv(place.c_str(), argv);
        faults.push_back(place + ": " + std::strerror(errno));
    }
    if (faults.empty()) {
        std::fprintf(stderr, "quillomir: %s is not installed; looked for\n", what);
        for (const std::string& place : places) {
            std::fprintf(stderr, "  %s\n", place.c_str());
        }
    } else {
        std::fprintf(stderr, "quillomir: %s is installed but cannot be started:\n", what);
        for (const std::string& fault : faults) {
            std::fprintf(stderr, "  %s\n", fault.c_str());
        }
    }
    return 1;
}

}  // namespace quillomir::saver_entry
