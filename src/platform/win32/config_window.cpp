#include "config_window.h"

#include <limits>
#include <utility>

namespace quillomir::win32 {

ConfigDialog::ConfigDialog(ConfigContext& context, AboutOpener& about, std::function<void()> closed)
    : FormWindow(context.app, kConfigLayout, std::move(closed), context.store, about) {
    SetOwner(context.owner);
}

AboutWindow::AboutWindow(ConfigContext& context, std::function<void()> closed)
    : FormWindow(context.app, kAboutLayout, std::move(closed), context.shell) {}

HWND LiveWindow(std::uint64_t handle) {
    if (handle == 0 || handle > std::numeric_limits<UINT_PTR>::max()) {
        return nullptr;
    }
    // Any process's window will do: the display settings run in another one.
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(handle));
    return IsWindow(window) ? window : nullptr;
}

}  // namespace quillomir::win32
