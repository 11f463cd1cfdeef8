// quillomir-settings: the settings dialog of the Linux saver, in GTK 3.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "conf_file_store.h"
#include "gtk_config_mode.h"
#include "quillomir_version.h"
#include "uri_opener.h"

namespace {

constexpr char kUsage[] =
    "Usage: quillomir-settings [--help | --version]\n"
    "Opens the Quillomir settings: what the crawlet's length follows, whether the\n"
    "saver shows the value, and the crawlet's colour. OK saves them to\n"
    "$XDG_CONFIG_HOME/quillomir/quillomir.conf (~/.config/quillomir/quillomir.conf).\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quillomir-settings %d.%d.%d.%d\n", QUILLOMIR_VERSION_MAJOR,
                    QUILLOMIR_VERSION_MINOR, QUILLOMIR_VERSION_PATCH, QUILLOMIR_VERSION_REVISION);
        return 0;
    }
    // GTK takes its own options (--display and the like) out of argv first.
    if (!gtk_init_check(&argc, &argv)) {
        std::fputs("quillomir-settings: cannot open the display\n", stderr);
        return 1;
    }
    if (argc > 1) {
        std::fprintf(stderr, "quillomir-settings: unknown option '%s'\n%s", argv[1], kUsage);
        return 2;
    }
    quillomir::linux_host::ConfigFileStore store;
    quillomir::gtk_host::UriOpener shell;
    quillomir::gtk_host::RunConfigMode(store, shell);
    return 0;
}
