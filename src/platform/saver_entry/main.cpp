// quillomir: the Linux saver's one command. The options and the environment
// pick the display system (see linux/saver_program.h for the two programs
// behind it);
// --config hands over to the settings dialog, a separate program, so that no
// toolkit is loaded into the saver. The build defines QUILLOMIR_VERSION_STRING,
// QUILLOMIR_SETTINGS_DIR (where the dialog is installed) and
// QUILLOMIR_SAVER_DIR (where the saver's programs are).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "linux/conf_file_store.h"
#include "linux/override_store.h"
#include "linux/proc_sources.h"
#include "linux/saver_options.h"
#include "linux/saver_program.h"
#include "linux/saver_run.h"
#include "linux/termination_signals.h"
#include "sibling.h"

namespace {

using namespace quillomir;
using linux_host::kSaverProgram;

constexpr const char* kSettingsProgram = "quillomir-settings";

// Replaces this process with the settings dialog; returns only on failure.
int RunSettings() {
    std::vector<std::string> places;
    if (const std::string own = saver_entry::OwnDirectory(); !own.empty()) {
        places.push_back(own + "/" + kSettingsProgram);
        // Installed, the saver sits in PREFIX/libexec/xscreensaver and the dialog
        // in PREFIX/bin, whatever prefix the build was configured with.
        places.push_back(own + "/../../bin/" + kSettingsProgram);
    }
    places.push_back(std::string(QUILLOMIR_SETTINGS_DIR) + "/" + kSettingsProgram);
    char* const argv[] = {const_cast<char*>(kSettingsProgram), nullptr};
    const int status =
        saver_entry::ExecFirst(places, argv, "the settings dialog (quillomir-settings)");
    std::fprintf(stderr, "The settings can also be edited in %s\n",
                 linux_host::ConfigFileStore().FileOf(kSettingsApplication).c_str());
    return status;
}

// Hands the run to the program for the other display system, beside this one.
int RunSibling(char** argv) {
    std::vector<std::string> places;
    if (const std::string own = saver_entry::OwnDirectory(); !own.empty()) {
        places.push_back(own + "/" + kSaverProgram.sibling);
    }
    places.push_back(std::string(QUILLOMIR_SAVER_DIR) + "/" + kSaverProgram.sibling);
    const std::string what = std::string("the saver's other part (") + kSaverProgram.sibling + ")";
    return saver_entry::ExecFirst(places, argv, what.c_str());
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
    if (*choice.system != kSaverProgram.system) {
        return RunSibling(argv);
    }
    kSaverProgram.prepare();

    linux_host::TerminationSignals signals;
    linux_host::ConfigFileStore stored;
    linux_host::OverrideStore settings(stored,
                                       {options.method, options.displayValue, options.color});
    linux_host::ProcStatCounters counters;
    linux_host::ProcMeminfoSource memory;
    const linux_host::SaverRun run{options, settings, counters, memory, signals};
    return kSaverProgram.run(run);
}
