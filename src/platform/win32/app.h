// The process's windows and its message loop: the program lives while any of
// its top-level windows is open, and ends when the last one closes.
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

    // Each top-level window calls these from WM_CREATE and WM_DESTROY.
    void WindowOpened() { ++openWindows_; }
    void WindowClosed();
    int openWindows() const { return openWindows_; }

    // Windows whose keyboard navigation (Tab, arrows, Space) IsDialogMessage handles.
    void AddDialog(HWND window);
    void RemoveDialog(HWND window);

    // Runs until the last window closes; returns at once when none was opened.
    int Run();

  private:
    bool TranslateDialogMessage(MSG& message);

    HINSTANCE instance_;
    int openWindows_ = 0;
    std::vector<HWND> dialogs_;
};

}  // namespace quillomir::win32
