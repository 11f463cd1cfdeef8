// quillomir: the Linux saver's one command. The options and the environment
// pick the host (Wayland or X11); --config hands over to the settings dialog,
// a separate program, so that no toolkit is loaded into the saver. The build
// defines QUILLOMIR_VERSION_STRING and QUILLOMIR_SETTINGS_DIR (where the
// dialog is installed).
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "linux/conf_file_store.h"
#include "linux/override_store.h"
#include "linux/proc_sources.h"
#include "linux/saver_options.h"
#include "linux/saver_run.h"
#include "linux/termination_signals.h"
#include "wayland/wl_run.h"
#include "x11/x_run.h"

namespace {

using namespace quillomir;

constexpr const char* kSettingsProgram = "quillomir-settings";

std::string OwnDirectory() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

// Replaces this process with the settings dialog; returns only on failure.
int RunSettings() {
    std::vector<std::string> places;
    if (const std::string own = OwnDirectory(); !own.empty()) {
        places.push_back(own + "/" + kSettingsProgram);
        // Installed, the saver sits in PREFIX/libexec/xscreensaver and the dialog
        // in PREFIX/bin, whatever prefix the build was configured with.
        places.push_back(own + "/../../bin/" + kSettingsProgram);
    }
    places.push_back(std::string(QUILLOMIR_SETTINGS_DIR) + "/" + kSettingsProgram);
    for (const std::string& place : places) {
        if (access(place.c_str(), X_OK) == 0) {
            execl(place.c_str(), kSettingsProgram, static_cast<char*>(nullptr));
            std::fprintf(stderr, "quillomir: could not start %s\n", place.c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "quillomir: the settings dialog (%s) is not installed; looked for\n",
                 kSettingsProgram);
    for (const std::string& place : places) {
        std::fprintf(stderr, "  %s\n", place.c_str());
    }
    std::fprintf(stderr, "The settings can also be edited in %s\n",
                 linux_host::ConfigFileStore().FileOf(kSettingsApplication).c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    const linux_host::ParsedOptions parsed =
        linux_host::ParseSaverOptions(args, std::getenv("XSCREENSAVER_WINDOW"));
    if (!parsed.options) {
        std::fprintf(stderr, "quillomir: %s\nTry 'quillomir --help' for the options.\n",
                     parsed.error.c_str());
        return 2;
    }
    const linux_host::SaverOptions& options = *parsed.options;
    switch (options.action) {
        case linux_host::SaverAction::Help:
            std::fputs(linux_host::SaverUsage("quillomir").c_str(), stdout);
            return 0;
        case linux_host::SaverAction::Version:
            std::printf("quillomir %s\n", QUILLOMIR_VERSION_STRING);
            return 0;
        case linux_host::SaverAction::Config:
            return RunSettings();
        case linux_host::SaverAction::Run:
            break;
    }
    const linux_host::SystemChoice choice = linux_host::ChooseDisplaySystem(
        options, {std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY")});
    if (!choice.system) {
        std::fprintf(stderr, "quillomir: %s\n", choice.error.c_str());
        return 1;
    }

    linux_host::TerminationSignals signals;
    linux_host::ConfigFileStore stored;
    linux_host::OverrideStore settings(stored,
                                       {options.method, options.displayValue, options.color});
    linux_host::ProcStatCounters counters;
    linux_host::ProcMeminfoSource memory;
    const linux_host::SaverRun run{options, settings, counters, memory, signals};
    return *choice.system == linux_host::DisplaySystem::Wayland ? wayland::RunSaver(run)
                                                                : x11::RunSaver(run);
}
