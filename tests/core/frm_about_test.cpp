#include "settings/frm_about.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fake_dialog_host.h"
#include "settings/config_session.h"

namespace quillomir::config_test {
namespace {

TEST(FrmAbout, VersionTextHasMajorAndMinorOnly) {
    EXPECT_EQ(VersionText(1, 0), "Version 1.0");
    EXPECT_EQ(VersionText(2, 15), "Version 2.15");
}

TEST(FrmAbout, LoadShowsTheProjectVersion) {
    FakeDialogHost host(kAboutLayout);
    FakeShell shell;
    frmAbout about(host, shell);
    about.Load();
    EXPECT_EQ(host.captions["lblVersion"], "Version 1.0");
}

TEST(FrmAbout, TheLinkOpensTheAddressItShowsAndOkCloses) {
    FakeDialogHost host(kAboutLayout);
    FakeShell shell;
    frmAbout about(host, shell);
    about.Load();

    about.Click("Label3");
    EXPECT_EQ(shell.opened,
              std::vector<std::string>{std::string(kAboutLayout.Find("Label3")->caption)});
    EXPECT_FALSE(shell.opened.front().empty());
    EXPECT_EQ(host.closeRequests, 0);

    about.Click("Label1");
    about.Click("Command1");
    EXPECT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(host.closeRequests, 1);
}

class RecordingWindows : public ConfigWindows {
  public:
    void OpenAbout() override { calls.emplace_back("open"); }
    void RaiseAbout() override { calls.emplace_back("raise"); }
    std::vector<std::string> calls;
};

TEST(ConfigSession, OneAboutBoxAtMostAndTheProgramEndsWithTheLastWindow) {
    RecordingWindows windows;
    ConfigSession session(windows);
    session.DialogOpened();
    EXPECT_FALSE(session.ended());

    session.ShowAbout();
    session.ShowAbout();
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"open", "raise"}));

    // OK in the dialog leaves the About box, and the program, running.
    session.DialogClosed();
    EXPECT_TRUE(session.aboutOpen());
    EXPECT_FALSE(session.ended());
    session.AboutClosed();
    EXPECT_TRUE(session.ended());
}

TEST(ConfigSession, AnAboutBoxClosedFirstCanBeOpenedAgain) {
    RecordingWindows windows;
    ConfigSession session(windows);
    session.DialogOpened();
    session.ShowAbout();
    session.AboutClosed();
    EXPECT_FALSE(session.ended());
    session.ShowAbout();
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"open", "open"}));
    session.AboutClosed();
    session.DialogClosed();
    EXPECT_TRUE(session.ended());
}

TEST(ConfigSession, TheDialogAloneEndsTheProgram) {
    RecordingWindows windows;
    ConfigSession session(windows);
    session.DialogOpened();
    session.DialogClosed();
    EXPECT_TRUE(session.ended());
    EXPECT_TRUE(windows.calls.empty());
}

}  // namespace
}  // namespace quillomir::config_test
