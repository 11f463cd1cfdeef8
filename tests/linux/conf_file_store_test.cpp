#include "conf_file_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "ini_text.h"
#include "linux/scratch_dir.h"
#include "settings/settings_keys.h"

namespace quillomir::linux_host {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Spill(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class ConfigFileStoreTest : public ::testing::Test {
  protected:
    ScratchDir scratch;
    ConfigFileStore store{scratch.path()};
    fs::path file = scratch.path() / "quillomir" / "quillomir.conf";
};

TEST_F(ConfigFileStoreTest, MissingFileGivesTheDefaultsAndASaveCreatesIt) {
    EXPECT_EQ(store.FileOf(kSettingsApplication), file);
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kBlueValue);
    EXPECT_EQ(ReadSetting(store, kCrawletMethodKey), 1);
    EXPECT_EQ(ReadSetting(store, kDisplayValueKey), 0);
    EXPECT_FALSE(fs::exists(file)) << "reading creates nothing";

    EXPECT_TRUE(SaveSetting(store, kCrawletMethodKey, 2));
    EXPECT_TRUE(SaveSetting(store, kCrawletColorKey, kGreenValue));
    EXPECT_TRUE(SaveSetting(store, kDisplayValueKey, 1));
    EXPECT_EQ(Slurp(file), "[Setup]\nCrawletMethod=2\nCrawletColor=65280\nDisplayValue=1\n");
    EXPECT_EQ(ReadSetting(store, kCrawletMethodKey), 2);
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kGreenValue);
    EXPECT_EQ(ReadSetting(store, kDisplayValueKey), 1);

    // A second save replaces the line in place; no temporary file stays behind.
    EXPECT_TRUE(SaveSetting(store, kCrawletColorKey, -1));
    EXPECT_EQ(Slurp(file), "[Setup]\nCrawletMethod=2\nCrawletColor=-1\nDisplayValue=1\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
}

TEST_F(ConfigFileStoreTest, HandWrittenFilesReadAsTheRegistryWould) {
    Spill(file,
          "# written by hand\r\n"
          "[Other]\nCrawletColor=255\n"
          "[ Setup ]\r\n"
          "  CrawletColor = 65280  \r\n"
          "DisplayValue=+1\n"
          "CrawletMethod=0x2\n"
          "CrawletColor=255\n"
          "; CrawletMethod=3\n");
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kGreenValue) << "first line of the section";
    EXPECT_EQ(ReadSetting(store, kDisplayValueKey), 0) << "not a plain decimal: the default";
    EXPECT_EQ(ReadSetting(store, kCrawletMethodKey), 1) << "not a plain decimal: the default";
    EXPECT_EQ(store.Find("Quillomir", "Setup", "Missing").kind, StoredText::Kind::kAbsent);
    EXPECT_EQ(store.Find("Quillomir", "Setup", "DisplayValue").text, "+1") << "as stored";

    Spill(file, "[Setup]\nDisplayValue=70000\nCrawletMethod=\nCrawletColor\n");
    EXPECT_EQ(ReadSetting(store, kDisplayValueKey), 0) << "beyond 16 bits";
    EXPECT_EQ(ReadSetting(store, kCrawletMethodKey), 1) << "empty value";
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kBlueValue) << "no '='";
}

TEST_F(ConfigFileStoreTest, SavingKeepsEverythingElseInTheFile) {
    Spill(file,
          "# mine\n[Other]\nCrawletColor=255\n\n[Setup]\nDisplayValue=1\nDisplayValue=0\n\n"
          "[Later]\nx=y");
    EXPECT_TRUE(SaveSetting(store, kCrawletColorKey, kRedValue));
    EXPECT_TRUE(SaveSetting(store, kDisplayValueKey, 0));
    EXPECT_EQ(Slurp(file),
              "# mine\n[Other]\nCrawletColor=255\n\n[Setup]\nDisplayValue=0\nCrawletColor=255\n\n"
              "[Later]\nx=y");
    EXPECT_TRUE(store.Remove("Quillomir", "Setup", "DisplayValue"));
    EXPECT_TRUE(store.Remove("Quillomir", "Setup", "DisplayValue")) << "already absent";
    EXPECT_EQ(store.Find("Quillomir", "Setup", "DisplayValue").kind, StoredText::Kind::kAbsent);
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kRedValue);
}

// Root may write into a read-only folder, so as root the check runs in a child
// process that has become the unprivileged user "nobody" (uid 65534).
int RunUnprivileged(const fs::path& tree, int (*check)(const fs::path&), const fs::path& arg) {
    if (::geteuid() != 0) {
        return check(arg);
    }
    for (auto& entry : fs::recursive_directory_iterator(tree)) {
        if (::lchown(entry.path().c_str(), 65534, 65534) != 0) {
            return 100;
        }
    }
    if (::chown(tree.c_str(), 65534, 65534) != 0) {
        return 101;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(102);
        }
        ::_exit(check(arg));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 103;
}

// 0 when a save into the read-only folder is refused and the old file stays.
int SaveIntoReadOnlyFolder(const fs::path& root) {
    ConfigFileStore store{root};
    const fs::path file = store.FileOf(kSettingsApplication);
    if (!SaveSetting(store, kCrawletColorKey, kRedValue)) {
        return 1;
    }
    const std::string before = Slurp(file);
    fs::permissions(file.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (SaveSetting(store, kCrawletColorKey, kGreenValue)) {
        return 2;
    }
    if (store.Remove("Quillomir", "Setup", "CrawletColor")) {
        return 3;
    }
    if (Slurp(file) != before || ReadSetting(store, kCrawletColorKey) != kRedValue) {
        return 4;
    }
    fs::permissions(file.parent_path(), fs::perms::owner_all);
    return 0;
}

TEST_F(ConfigFileStoreTest, AReadOnlyFolderRefusesTheSaveAndKeepsTheOldFile) {
    EXPECT_EQ(RunUnprivileged(scratch.path(), SaveIntoReadOnlyFolder, scratch.path()), 0)
        << "1: first save failed, 2: save reported done, 3: remove reported done, 4: file changed";
}

TEST_F(ConfigFileStoreTest, AFolderThatCannotBeMadeRefusesTheSave) {
    // Works for root too: a plain file stands where the folder should be.
    Spill(scratch.path() / "quillomir", "not a folder");
    EXPECT_FALSE(SaveSetting(store, kCrawletColorKey, kGreenValue));
    EXPECT_EQ(Slurp(scratch.path() / "quillomir"), "not a folder");
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kBlueValue);
}

TEST_F(ConfigFileStoreTest, UnusableFilesAreNeitherReadNorOverwritten) {
    // A folder in the file's place, and a file too large to be settings.
    EXPECT_EQ(store.Find("Quillomir", "Setup", "CrawletColor").kind, StoredText::Kind::kAbsent)
        << "no file yet";
    fs::create_directories(file);
    EXPECT_EQ(store.Find("Quillomir", "Setup", "CrawletColor").kind, StoredText::Kind::kOther);
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kBlueValue);
    EXPECT_FALSE(SaveSetting(store, kCrawletColorKey, kGreenValue));
    EXPECT_TRUE(fs::is_directory(file));
    fs::remove(file);

    const std::string huge =
        "[Setup]\nCrawletColor=255\n" + std::string(ConfigFileStore::kMaxFileSize, '#') + "\n";
    Spill(file, huge);
    EXPECT_EQ(store.Find("Quillomir", "Setup", "CrawletColor").kind, StoredText::Kind::kOther);
    EXPECT_FALSE(store.Remove("Quillomir", "Setup", "CrawletColor"));
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), kBlueValue);
    EXPECT_FALSE(SaveSetting(store, kCrawletColorKey, kGreenValue));
    EXPECT_EQ(Slurp(file), huge);
}

TEST_F(ConfigFileStoreTest, TextsThatCouldNotBeReadBackAreRefused) {
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "CrawletColor", "1\n[Evil]"));
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "CrawletColor", " 1"));
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "Key=1", "1"));
    EXPECT_FALSE(store.Save("Quillomir", "Se]tup", "Key", "1"));
    EXPECT_FALSE(store.Save("../Quillomir", "Setup", "Key", "1"));
    EXPECT_FALSE(store.Save("", "Setup", "Key", "1"));
    EXPECT_FALSE(fs::exists(scratch.path() / "quillomir"));
    EXPECT_TRUE(store.Save("Quillomir", "Setup", "Empty", ""));
    const StoredText empty = store.Find("Quillomir", "Setup", "Empty");
    EXPECT_EQ(empty.kind, StoredText::Kind::kText);
    EXPECT_EQ(empty.text, "");
}

TEST(ConfigFileStoreRoot, FollowsXdgConfigHomeThenHome) {
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdg = savedXdg ? savedXdg : "";
    const std::string home = savedHome ? savedHome : "";

    ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
    ::setenv("HOME", "/h", 1);
    EXPECT_EQ(ConfigFileStore::DefaultRoot(), fs::path("/x/config"));
    EXPECT_EQ(ConfigFileStore().FileOf("Quillomir"),
              fs::path("/x/config/quillomir/quillomir.conf"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(ConfigFileStore::DefaultRoot(), fs::path("/h/.config")) << "relative is ignored";
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ConfigFileStore::DefaultRoot(), fs::path("/h/.config"));
    ::unsetenv("HOME");
    EXPECT_EQ(ConfigFileStore::DefaultRoot(), fs::path());
    ConfigFileStore nowhere;
    EXPECT_FALSE(nowhere.Save("Quillomir", "Setup", "CrawletColor", "1"));
    EXPECT_EQ(nowhere.Read("Quillomir", "Setup", "CrawletColor", "d"), "d");

    savedXdg ? ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    savedHome ? ::setenv("HOME", home.c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
}  // namespace quillomir::linux_host
