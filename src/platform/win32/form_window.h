// A form's behaviour on a window rendered from its layout table: the window's
// clicks go to the form, and the owner hears once the window is gone. The
// settings dialog and the About box are both this.
#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "app.h"
#include "layout_window.h"

namespace quillomir::win32 {

template <typename Form>
class FormWindow : private LayoutEvents {
  public:
    // The form is made from the window, as its DialogHost, and `formArgs`.
    // `closed` runs once the window is gone, and may delete this object.
    template <typename... FormArgs>
    FormWindow(App& app, const WindowLayout& layout, std::function<void()> closed,
               FormArgs&... formArgs)
        : window_(app, layout, *this), form_(window_, formArgs...), closed_(std::move(closed)) {}

    // Creates the window, runs the form's load and shows it; false when the
    // window could not be created.
    bool Open() {
        if (!window_.Create(owner_)) {
            return false;
        }
        form_.Load();
        window_.Show();
        return true;
    }

    // Shows the open window again, in front.
    void Raise() { window_.Show(); }

  protected:
    // With an owner, the window stays above it and opens centred on it.
    void SetOwner(HWND owner) { owner_ = owner; }

  private:
    void Clicked(std::string_view control) override { form_.Click(control); }

    void Destroyed() override {
        // Moved out first: running it may delete this object and its members.
        const std::function<void()> closed = std::move(closed_);
        if (closed) {
            closed();
        }
    }

    LayoutWindow window_;
    Form form_;
    std::function<void()> closed_;
    HWND owner_ = nullptr;
};

}  // namespace quillomir::win32
