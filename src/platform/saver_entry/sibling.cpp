#include "sibling.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quillomir::saver_entry {

std::string OwnDirectory() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

int ExecFirst(const std::vector<std::string>& places, char* const argv[], const char* what) {
    for (const std::string& place : places) {
        if (access(place.c_str(), X_OK) == 0) {
            execv(place.c_str(), argv);
            std::fprintf(stderr, "quillomir: could not start %s: %s\n", place.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::fprintf(stderr, "quillomir: %s is not installed; looked for\n", what);
    for (const std::string& place : places) {
        std::fprintf(stderr, "  %s\n", place.c_str());
    }
    return 1;
}

}  // namespace quillomir::saver_entry
