// The program's entry: the command line's switch picks the window to open, and
// the message loop runs until the last window closes.
#include <windows.h>
// commctrl.h needs the types of windows.h first.
#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app.h"
#include "config_window.h"
#include "saver_window.h"
#include "single_instance.h"
#include "startup/startup.h"
#include "text.h"

namespace {

class WindowsStartup : public quillomir::StartupHost {
  public:
    explicit WindowsStartup(quillomir::win32::App& app) : app_(app) {}

    void ShowConfigDialog(std::uint64_t ownerWindow) override {
        quillomir::win32::ShowConfigDialog(app_, ownerWindow);
    }

    void ShowSaverWindow() override {
        instance_ =
            std::make_unique<quillomir::win32::SingleInstance>(quillomir::win32::kSaverMutexName);
        if (!instance_->first()) {
            return;  // one is running already; leave it alone
        }
        saver_ = std::make_unique<quillomir::win32::SaverWindow>(app_);
        saver_->Show();
    }

  private:
    quillomir::win32::App& app_;
    std::unique_ptr<quillomir::win32::SingleInstance> instance_;
    std::unique_ptr<quillomir::win32::SaverWindow> saver_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    quillomir::win32::App app(instance);
    WindowsStartup startup(app);
    // The CRT's own split is not used: the switch rule reads the raw text.
    const std::string commandLine = quillomir::win32::Narrow(GetCommandLineW());
    quillomir::Main(quillomir::ArgumentText(commandLine), startup);
    return app.Run();
}
