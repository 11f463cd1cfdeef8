#include "override_store.h"

#include <gtest/gtest.h>

#include "conf_file_store.h"
#include "linux/scratch_dir.h"

namespace quillomir::linux_host {
namespace {

TEST(OverrideStore, TheCommandLineWinsForOneRunAndNothingIsWritten) {
    ScratchDir scratch;
    ConfigFileStore file{scratch.path()};
    ASSERT_TRUE(SaveSetting(file, kCrawletColorKey, kRedValue));
    ASSERT_TRUE(SaveSetting(file, kDisplayValueKey, 1));

    OverrideStore none(file, {});
    EXPECT_EQ(ReadSetting(none, kCrawletColorKey), kRedValue);
    EXPECT_EQ(ReadSetting(none, kDisplayValueKey), 1);
    EXPECT_EQ(ReadSetting(none, kCrawletMethodKey), 1) << "the default, from the file's absence";

    OverrideStore run(file, {3, 0, kGreenValue});
    EXPECT_EQ(ReadSetting(run, kCrawletMethodKey), 3);
    EXPECT_EQ(ReadSetting(run, kDisplayValueKey), 0);
    EXPECT_EQ(ReadSetting(run, kCrawletColorKey), kGreenValue);
    EXPECT_EQ(run.Find("Quillomir", "Setup", "CrawletColor").text, "65280");
    // Other sections and applications are not overridden.
    EXPECT_EQ(run.Read("Quillomir", "Other", "CrawletColor", "x"), "x");

    EXPECT_FALSE(SaveSetting(run, kCrawletColorKey, kWhiteValue));
    EXPECT_FALSE(run.Remove("Quillomir", "Setup", "CrawletColor"));
    EXPECT_EQ(ReadSetting(file, kCrawletColorKey), kRedValue);
    EXPECT_EQ(ReadSetting(file, kDisplayValueKey), 1);
}

}  // namespace
}  // namespace quillomir::linux_host
