// Configuration mode's ownership of its two windows: at most one About box,
// which may outlive the dialog, and the program's end with the last window.
#include "settings/config_mode.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fake_dialog_host.h"
#include "settings/frm_about.h"
#include "settings/frm_config.h"

namespace quillomir::config_test {
namespace {

template <typename Form>
class FakeWindow;

// What the windows are made from, and what they report.
struct Platform {
    std::vector<std::string> calls;
    bool refuses = false;  // the next windows cannot be created
    FakeStore store;
    FakeShell shell;
    FakeWindow<frmConfig>* dialog = nullptr;
    FakeWindow<frmAbout>* about = nullptr;
    int ended = 0;
};

// A window as a host makes one: the real form on a fake dialog host. Like a
// platform window, it runs `closed` as its last act, and is destroyed in it.
template <typename Form>
class FakeWindow {
  public:
    template <typename... FormArgs>
    FakeWindow(Platform& platform, FakeWindow*& slot, std::string name, const WindowLayout& layout,
               std::function<void()> closed, FormArgs&... formArgs)
        : platform_(platform),
          slot_(slot),
          name_(std::move(name)),
          closed_(std::move(closed)),
          host(layout),
          form(host, formArgs...) {
        slot_ = this;
    }
    ~FakeWindow() {
        slot_ = nullptr;
        platform_.calls.push_back(name_ + " gone");
    }

    bool Open() {
        platform_.calls.push_back("open " + name_);
        if (platform_.refuses) {
            return false;
        }
        form.Load();
        return true;
    }
    void Raise() { platform_.calls.push_back("raise " + name_); }

    void UserClicks(std::string_view control) {
        host.UserToggles(control);
        form.Click(control);
    }
    // The window is gone: after the form's Close, or by its close control.
    void Gone() {
        const std::function<void()> closed = std::move(closed_);
        closed();
    }

  private:
    Platform& platform_;
    FakeWindow*& slot_;
    std::string name_;
    std::function<void()> closed_;

  public:
    FakeDialogHost host;
    Form form;
};

class Dialog : public FakeWindow<frmConfig> {
  public:
    Dialog(Platform& p, AboutOpener& about, std::function<void()> closed)
        : FakeWindow(p, p.dialog, "dialog", kConfigLayout, std::move(closed), p.store, about) {}
};

class About : public FakeWindow<frmAbout> {
  public:
    About(Platform& p, std::function<void()> closed)
        : FakeWindow(p, p.about, "about", kAboutLayout, std::move(closed), p.shell) {}
};

using Mode = ConfigMode<Dialog, About, Platform>;

using Calls = std::vector<std::string>;

TEST(ConfigMode, OneAboutBoxAtMostAndTheProgramEndsWithTheLastWindow) {
    Platform platform;
    Mode mode(platform, [&] { ++platform.ended; });
    ASSERT_TRUE(mode.Start());
    ASSERT_NE(platform.dialog, nullptr);
    EXPECT_TRUE(mode.open());

    platform.dialog->UserClicks("CommandAbout");
    platform.dialog->UserClicks("CommandAbout");
    EXPECT_EQ(platform.calls, (Calls{"open dialog", "open about", "raise about"}));
    ASSERT_NE(platform.about, nullptr);
    EXPECT_EQ(platform.about->host.captions["lblVersion"], "Version 1.0");

    // OK in the dialog leaves the About box, and the program, running.
    platform.dialog->UserClicks("CommandOK");
    EXPECT_EQ(platform.dialog->host.closeRequests, 1);
    platform.dialog->Gone();
    EXPECT_EQ(platform.dialog, nullptr);
    EXPECT_NE(platform.about, nullptr);
    EXPECT_TRUE(mode.open());
    EXPECT_EQ(platform.ended, 0);

    platform.about->UserClicks("Command1");
    EXPECT_EQ(platform.about->host.closeRequests, 1);
    platform.about->Gone();
    EXPECT_EQ(platform.about, nullptr);
    EXPECT_FALSE(mode.open());
    EXPECT_EQ(platform.ended, 1);
    EXPECT_EQ(platform.calls,
              (Calls{"open dialog", "open about", "raise about", "dialog gone", "about gone"}));
}

TEST(ConfigMode, AnAboutBoxClosedFirstCanBeOpenedAgain) {
    Platform platform;
    Mode mode(platform, [&] { ++platform.ended; });
    ASSERT_TRUE(mode.Start());
    platform.dialog->UserClicks("CommandAbout");
    platform.about->Gone();
    EXPECT_TRUE(mode.open());
    EXPECT_EQ(platform.ended, 0);

    platform.dialog->UserClicks("CommandAbout");
    EXPECT_EQ(platform.calls, (Calls{"open dialog", "open about", "about gone", "open about"}));
    platform.about->Gone();
    platform.dialog->Gone();
    EXPECT_FALSE(mode.open());
    EXPECT_EQ(platform.ended, 1);
}

TEST(ConfigMode, TheDialogAloneEndsTheProgram) {
    Platform platform;
    Mode mode(platform, [&] { ++platform.ended; });
    ASSERT_TRUE(mode.Start());
    platform.dialog->Gone();
    EXPECT_FALSE(mode.open());
    EXPECT_EQ(platform.ended, 1);
    EXPECT_EQ(platform.calls, (Calls{"open dialog", "dialog gone"}));
}

TEST(ConfigMode, AWindowThePlatformRefusesIsNotCountedOpen) {
    Platform platform;
    platform.refuses = true;
    {
        Mode mode(platform, [&] { ++platform.ended; });
        EXPECT_FALSE(mode.Start());
        EXPECT_FALSE(mode.open());
        EXPECT_EQ(platform.dialog, nullptr);
    }
    EXPECT_EQ(platform.ended, 0);

    // A refused About box leaves the dialog, and a later press tries again.
    platform.refuses = false;
    platform.calls.clear();
    Mode mode(platform, [&] { ++platform.ended; });
    ASSERT_TRUE(mode.Start());
    platform.refuses = true;
    platform.dialog->UserClicks("CommandAbout");
    EXPECT_EQ(platform.about, nullptr);
    EXPECT_TRUE(mode.open());
    platform.refuses = false;
    platform.dialog->UserClicks("CommandAbout");
    EXPECT_NE(platform.about, nullptr);
    EXPECT_EQ(platform.calls, (Calls{"open dialog", "open about", "about gone", "open about"}));
    EXPECT_EQ(platform.ended, 0);
}

}  // namespace
}  // namespace quillomir::config_test
