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

using namespace quillomir::win32;

// The owner of every window the program opens: the saver window in run mode,
// the settings dialog and its About box in configuration mode. The program ends
// when the last of them closes.
class WindowsStartup : public quillomir::StartupHost {
  public:
    explicit WindowsStartup(App& app) : app_(app), config_{app}, configMode_(config_, &Quit) {}

    void ShowConfigDialog(std::uint64_t ownerWindow) override {
        config_.owner = LiveWindow(ownerWindow);
        configMode_.Start();
    }

    void ShowSaverWindow() override {
        instance_ = std::make_unique<SingleInstance>(kSaverMutexName);
        if (!instance_->first()) {
            return;  // one is running already; leave it alone
        }
        saver_ = std::make_unique<SaverWindow>(app_, &Quit);
        if (!saver_->Show()) {
            saver_.reset();
        }
    }

    // A window is open, so the message loop has something to wait for.
    bool open() const { return saver_ || configMode_.open(); }

  private:
    static void Quit() { PostQuitMessage(0); }

    App& app_;
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<SaverWindow> saver_;
    ConfigContext config_;
    Win32ConfigMode configMode_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    App app(instance);
    WindowsStartup startup(app);
    // The CRT's own split is not used: the switch rule reads the raw text.
    const std::string commandLine = Narrow(GetCommandLineW());
    quillomir::Main(quillomir::ArgumentText(commandLine), startup);
    return startup.open() ? app.Run() : 0;
}
