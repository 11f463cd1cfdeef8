#include "settings/frm_config.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/fake_dialog_host.h"

namespace quillomir::config_test {
namespace {

using Saves = std::vector<std::pair<std::string, std::string>>;
using Stored = std::map<std::string, std::string>;

Saves Saved(const char* method, const char* color, const char* display) {
    return {{"CrawletMethod", method}, {"CrawletColor", color}, {"DisplayValue", display}};
}

class CountingOpener : public AboutOpener {
  public:
    void ShowAbout() override { ++shown; }
    int shown = 0;
};

struct Dialog {
    explicit Dialog(std::map<std::string, std::string> stored) {
        store.values = std::move(stored);
        form.Load();
    }

    void UserClicks(std::string_view control) {
        host.UserToggles(control);
        form.Click(control);
    }

    FakeStore store;
    FakeDialogHost host{kConfigLayout};
    CountingOpener opener;
    frmConfig form{host, store, opener};
};

TEST(FrmConfigLoad, ShowsTheStoredChoicesAndOkSavesThemBack) {
    struct Case {
        std::map<std::string, std::string> stored;
        bool checked;
        const char* method;
        const char* color;
        Saves saved;
    };
    const Case cases[] = {
        {{}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"DisplayValue", "0"}}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"DisplayValue", "1"}}, true, "optCPU", "optBlue", Saved("1", "16711680", "1")},
        // Shown unchecked, so OK saves what the box shows.
        {{{"DisplayValue", "5"}}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"CrawletMethod", "1"}}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"CrawletMethod", "2"}}, false, "optMemory", "optBlue", Saved("2", "16711680", "0")},
        {{{"CrawletMethod", "3"}}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"CrawletColor", "255"}}, false, "optCPU", "optRed", Saved("1", "255", "0")},
        {{{"CrawletColor", "65280"}}, false, "optCPU", "optGreen", Saved("1", "65280", "0")},
        {{{"CrawletColor", "16711680"}}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"CrawletColor", "16711935"}}, false, "optCPU", "optPurple", Saved("1", "16711935", "0")},
        {{{"CrawletColor", "16777215"}}, false, "optCPU", "optWhite", Saved("1", "16777215", "0")},
        // A colour no option offers is kept while Blue shows.
        {{{"CrawletColor", "128"}}, false, "optCPU", "optBlue", Saved("1", "128", "0")},
        {{{"CrawletColor", "junk"}}, false, "optCPU", "optBlue", Saved("1", "16711680", "0")},
        {{{"DisplayValue", "1"}, {"CrawletMethod", "2"}, {"CrawletColor", "65280"}},
         true,
         "optMemory",
         "optGreen",
         Saved("2", "65280", "1")},
    };
    for (const Case& c : cases) {
        Dialog dialog(c.stored);
        const std::string where = ::testing::PrintToString(c.stored);
        EXPECT_EQ(dialog.host.IsChecked("chkValue"), c.checked) << where;
        EXPECT_EQ(dialog.host.SelectedIn("Frame1"), c.method) << where;
        EXPECT_EQ(dialog.host.SelectedIn("Frame2"), c.color) << where;
        EXPECT_TRUE(dialog.store.saves.empty()) << where;

        dialog.form.Click("CommandOK");
        EXPECT_EQ(dialog.store.saves, c.saved) << where;
        EXPECT_EQ(dialog.host.closeRequests, 1) << where;
        EXPECT_TRUE(dialog.host.messages.empty()) << where;
    }
}

TEST(FrmConfigLoad, KeepsTheStoredMethodInItsMember) {
    Dialog dialog({{"CrawletMethod", "3"}, {"CrawletColor", "128"}});
    EXPECT_EQ(dialog.form.CrawletMethod, 3);
    EXPECT_EQ(dialog.form.CrawletColor, 128);
}

TEST(FrmConfigClicks, OkSavesWhatTheClicksChose) {
    struct Case {
        std::map<std::string, std::string> stored;
        std::vector<std::string_view> clicks;
        Saves saved;
    };
    const Case cases[] = {
        {{}, {"optMemory", "optGreen", "chkValue"}, Saved("2", "65280", "1")},
        {{}, {"optRed"}, Saved("1", "255", "0")},
        {{}, {"optGreen"}, Saved("1", "65280", "0")},
        {{}, {"optPurple"}, Saved("1", "16711935", "0")},
        {{}, {"optWhite"}, Saved("1", "16777215", "0")},
        {{{"CrawletColor", "255"}}, {"optBlue"}, Saved("1", "16711680", "0")},
        {{}, {"chkValue", "chkValue"}, Saved("1", "16711680", "0")},
        {{{"DisplayValue", "1"}}, {"chkValue"}, Saved("1", "16711680", "0")},
        {{{"DisplayValue", "5"}}, {"chkValue"}, Saved("1", "16711680", "1")},
        {{{"CrawletMethod", "2"}}, {"optCPU"}, Saved("1", "16711680", "0")},
        {{}, {"optMemory", "optCPU", "optMemory"}, Saved("2", "16711680", "0")},
        {{{"CrawletColor", "128"}}, {"optRed"}, Saved("1", "255", "0")},
        // Clicking the Blue that only shows selected chooses blue.
        {{{"CrawletColor", "128"}}, {"optBlue"}, Saved("1", "16711680", "0")},
        {{}, {"optRed", "optWhite", "optGreen"}, Saved("1", "65280", "0")},
    };
    for (const Case& c : cases) {
        Dialog dialog(c.stored);
        for (const std::string_view control : c.clicks) {
            dialog.UserClicks(control);
        }
        const std::string where = ::testing::PrintToString(c.clicks);
        // Nothing is saved before OK, so closing by the close control keeps the store.
        EXPECT_TRUE(dialog.store.saves.empty()) << where;
        EXPECT_EQ(dialog.host.closeRequests, 0) << where;

        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.store.saves, c.saved) << where;
        EXPECT_EQ(dialog.host.closeRequests, 1) << where;
    }
}

TEST(FrmConfigClicks, AboutAsksForTheAboutBoxAndLeavesTheDialogOpen) {
    Dialog dialog({});
    dialog.UserClicks("CommandAbout");
    dialog.UserClicks("CommandAbout");
    EXPECT_EQ(dialog.opener.shown, 2);
    EXPECT_EQ(dialog.host.closeRequests, 0);
    EXPECT_TRUE(dialog.store.saves.empty());
}

TEST(FrmConfigSave, ARefusedSaveKeepsTheDialogOpenAndSaysSo) {
    for (const char* refused : {"CrawletMethod", "CrawletColor", "DisplayValue"}) {
        Dialog dialog({});
        dialog.UserClicks("optGreen");
        dialog.store.refused = {refused};
        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.host.closeRequests, 0) << refused;
        EXPECT_EQ(dialog.host.messages, std::vector<std::string>{std::string(kSaveFailedMessage)})
            << refused;

        // Once the store takes them, OK saves everything and closes.
        dialog.store.refused.clear();
        dialog.store.saves.clear();
        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.store.saves, Saved("1", "65280", "0")) << refused;
        EXPECT_EQ(dialog.host.closeRequests, 1) << refused;
        EXPECT_EQ(dialog.host.messages.size(), 1u) << refused;
    }
}

TEST(FrmConfigSave, ARefusalPutsTheEarlierKeysBackAsTheyWere) {
    // The store before OK: empty (every key absent), or holding a text in every
    // key, or a mix, so that both removing and rewriting are put to work.
    const std::map<std::string, std::string> befores[] = {
        {},
        {{"CrawletMethod", "2"}, {"CrawletColor", "128"}, {"DisplayValue", "1"}},
        {{"CrawletColor", "junk"}},
        {{"CrawletMethod", "3"}},
    };
    for (const auto& before : befores) {
        for (const char* refused : {"CrawletColor", "DisplayValue"}) {
            const std::string where = ::testing::PrintToString(before) + " refused " + refused;
            Dialog dialog(before);
            dialog.UserClicks("optRed");
            dialog.UserClicks("chkValue");
            dialog.store.refused = {refused};
            dialog.UserClicks("CommandOK");
            EXPECT_EQ(dialog.store.values, before) << where;
            EXPECT_EQ(dialog.host.closeRequests, 0) << where;
            EXPECT_EQ(dialog.host.messages,
                      std::vector<std::string>{std::string(kSaveFailedMessage)})
                << where;
        }
    }
}

TEST(FrmConfigSave, ARefusalAtTheFirstKeyWritesNothing) {
    Dialog dialog(Stored{{"CrawletColor", "255"}});
    dialog.store.refused = {"CrawletMethod"};
    dialog.UserClicks("CommandOK");
    EXPECT_TRUE(dialog.store.saves.empty());
    EXPECT_TRUE(dialog.store.removes.empty());
    EXPECT_EQ(dialog.host.messages, std::vector<std::string>{std::string(kSaveFailedMessage)});
}

TEST(FrmConfigSave, WhenPuttingBackFailsTooTheMessageSaysSo) {
    const std::string partly(kPartlySavedMessage);
    {
        // The earlier keys were absent and cannot be removed again.
        Dialog dialog({});
        dialog.store.refused = {"DisplayValue"};
        dialog.store.failRemoves = true;
        dialog.UserClicks("optGreen");
        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.host.messages, std::vector<std::string>{partly});
        EXPECT_EQ(dialog.host.closeRequests, 0);
    }
    {
        // The earlier key held a text, and the store takes no save after the first.
        Dialog dialog(Stored{{"CrawletMethod", "2"}, {"CrawletColor", "255"}});
        dialog.store.savesLeft = 1;
        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.host.messages, std::vector<std::string>{partly});
        EXPECT_EQ(dialog.host.closeRequests, 0);
    }
    {
        // What the first key held cannot be read, so it cannot be written back.
        Dialog dialog({});
        dialog.store.unreadable = {"CrawletMethod"};
        dialog.store.refused = {"CrawletColor"};
        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.host.messages, std::vector<std::string>{partly});
    }
    {
        // Every key is tried: one that fails to come back does not stop the others.
        Dialog dialog(Stored{{"CrawletColor", "255"}});
        dialog.store.refused = {"DisplayValue"};
        dialog.store.failRemoves = true;  // CrawletMethod was absent
        dialog.UserClicks("optGreen");
        dialog.UserClicks("CommandOK");
        EXPECT_EQ(dialog.store.values.at("CrawletColor"), "255");
        EXPECT_EQ(dialog.host.messages, std::vector<std::string>{partly});
    }
}

}  // namespace
}  // namespace quillomir::config_test
