#include "settings/frm_about.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fake_dialog_host.h"

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

}  // namespace
}  // namespace quillomir::config_test
