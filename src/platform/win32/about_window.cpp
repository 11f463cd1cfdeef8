#include "about_window.h"

#include <utility>

namespace quillomir::win32 {

AboutWindow::AboutWindow(App& app, Shell& shell, std::function<void()> closed)
    : window_(app, kAboutLayout, *this), form_(window_, shell), closed_(std::move(closed)) {}

bool AboutWindow::Open() {
    if (!window_.Create()) {
        return false;
    }
    form_.Load();
    window_.Show();
    return true;
}

void AboutWindow::Destroyed() {
    // Moved out first: running it may delete this object and its members.
    const std::function<void()> closed = std::move(closed_);
    if (closed) {
        closed();
    }
}

}  // namespace quillomir::win32
