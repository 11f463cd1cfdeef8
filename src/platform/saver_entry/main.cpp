// quillomir: the Linux saver's one command. The options and the environment
// pick the display system (see linux/saver_program.h for the two programs
// behind it);
// --config hands over to the settings dialog, a separate program, so that no
// toolkit is loaded into the saver. The build defines QUILLOMIR_VERSION_STRING,
// QUILLOMIR_SETTINGS_DIR (where the dialog is installed), and where the other
// program is: QUILLOMIR_SIBLING_DIR installed, QUILLOMIR_SIBLING_FROM_HERE
// from this program's installed folder (for a relocated prefix), and
// QUILLOMIR_SIBLING_IN_BUILD from its folder in the build tree.
#include <cstdio>
#include <cstdlib>
#include <optional>
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
// Set by the program that hands a run over, so that the other cannot hand it
// back: two programs that each lead to the other would execv forever.
constexpr const char* kHandOverMark = "QUILLOMIR_HANDED_OVER";

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

// Hands the run to the program for the other display system.
int RunSibling(char** argv, bool handedOver) {
    if (handedOver) {
        std::fprintf(stderr,
                     "quillomir: %s was started as the saver's %s part but is its %s part: the "
                     "two programs are installed in each other's place\n",
                     saver_entry::OwnPath().c_str(), kSaverProgram.sibling, kSaverProgram.part);
        return 1;
    }
    const std::string own = saver_entry::OwnDirectory();
    std::vector<std::string> places;
    if (!own.empty()) {
        places.push_back(own + "/" QUILLOMIR_SIBLING_FROM_HERE "/quillomir");
        places.push_back(own + "/" QUILLOMIR_SIBLING_IN_BUILD "/quillomir");
    }
    places.push_back(QUILLOMIR_SIBLING_DIR "/quillomir");
    setenv(kHandOverMark, "1", 1);
    const std::string what = std::string("the saver's ") + kSaverProgram.sibling + " part";
    const int status = saver_entry::ExecFirst(places, argv, what.c_str());
    unsetenv(kHandOverMark);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // First, so that a SIGTERM or SIGINT at any moment ends the run with
    // status 0: they stay blocked across the hand-over's execv, and the
    // program that takes over reads what is pending.
    std::optional<linux_host::TerminationSignals> signals;
    signals.emplace();
    const bool handedOver = std::getenv(kHandOverMark) != nullptr;
    unsetenv(kHandOverMark);
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
            signals.reset();  // the dialog handles its own
            return RunSettings();
        case linux_host::SaverAction::Run:
            break;
    }
    const linux_host::SystemChoice choice = linux_host::ChooseDisplaySystem(
        options,
        {std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"), std::getenv("WAYLAND_SOCKET")});
    if (!choice.system) {
        std::fprintf(stderr, "quillomir: %s\n", choice.error.c_str());
        return 1;
    }
    if (*choice.system != kSaverProgram.system) {
        return RunSibling(argv, handedOver);
    }

    linux_host::ConfigFileStore stored;
    linux_host::OverrideStore settings(stored,
                                       {options.method, options.displayValue, options.color});
    linux_host::ProcStatCounters counters;
    linux_host::ProcMeminfoSource memory;
    const linux_host::SaverRun run{options, settings, counters, memory, *signals};
    return kSaverProgram.run(run);
}
