// The process's instance and its message loop. The loop runs until the owner of
// the windows posts the quit message, when its last window has closed.
#pragma once

#include <windows.h>

#include <vector>

namespace quillomir::win32 {

class App {
  public:
    explicit App(HINSTANCE instance) : instance_(instance) {}
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    HINSTANCE instance() const { return instance_; }

    // Windows whose keyboard navigation (Tab, arrows, Space) IsDialogMessage handles.
    void AddDialog(HWND window);
    void RemoveDialog(HWND window);

    // Runs until the quit message and returns its exit code.
    int Run();

  private:
    bool TranslateDialogMessage(MSG& message);

    HINSTANCE instance_;
    std::vector<HWND> dialogs_;
};

}  // namespace quillomir::win32
