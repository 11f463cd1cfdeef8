#include "config_window.h"

#include <utility>

namespace quillomir::win32 {

ConfigDialog::ConfigDialog(ConfigContext& context, AboutOpener& about, std::function<void()> closed)
    : FormWindow(context.app, kConfigLayout, std::move(closed), context.store, about) {}

AboutWindow::AboutWindow(ConfigContext& context, std::function<void()> closed)
    : FormWindow(context.app, kAboutLayout, std::move(closed), context.shell) {}

}  // namespace quillomir::win32
