#include "conf_file_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
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

// Runs `check` in a child process that an alarm ends after 5 s, so that a read
// which waits forever fails the test instead of hanging the run. Gives the
// child's exit code, or 128 + the signal that ended it.
template <class Check>
int RunWithWatchdog(Check check) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(5);
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct NotSettings {
    const char* name;
    void (*make)(const fs::path& file);
};

class NotSettingsTest : public ConfigFileStoreTest,
                        public ::testing::WithParamInterface<NotSettings> {};

TEST_P(NotSettingsTest, ReadsAsDefaultsAtOnceAndIsNeverReplaced) {
    fs::create_directories(file.parent_path());
    GetParam().make(file);
    const fs::file_status before = fs::symlink_status(file);
    const int code = RunWithWatchdog([this] {
        const bool refused =
            store.Find("Quillomir", "Setup", "CrawletColor").kind == StoredText::Kind::kOther &&
            ReadSetting(store, kCrawletColorKey) == kBlueValue &&
            !SaveSetting(store, kCrawletColorKey, kGreenValue) &&
            !store.Remove("Quillomir", "Setup", "CrawletColor");
        return refused ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << "1: read as settings, saved or removed; 142: still waiting after 5 s";
    EXPECT_EQ(fs::symlink_status(file).type(), before.type());
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigFileStore, NotSettingsTest,
    ::testing::Values(
        NotSettings{"Fifo", [](const fs::path& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); }},
        NotSettings{"DeviceThroughALink",
                    [](const fs::path& f) { fs::create_symlink("/dev/null", f); }},
        NotSettings{"FolderThroughALink",
                    [](const fs::path& f) { fs::create_directory_symlink(f.parent_path(), f); }},
        NotSettings{"LinkLoop", [](const fs::path& f) { fs::create_symlink(f.filename(), f); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigFileStoreTest, ASaveIsRefusedWhenItsFileWouldBeTooLargeToRead) {
    // "[Setup]\nKey=" before the value and "\n" after it: 13 bytes.
    const std::string fits(ConfigFileStore::kMaxFileSize - 13, 'x');
    EXPECT_TRUE(store.Save("Quillomir", "Setup", "Key", fits));
    EXPECT_EQ(fs::file_size(file), ConfigFileStore::kMaxFileSize);
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "Key", fits + "x"));
    EXPECT_FALSE(SaveSetting(store, kCrawletColorKey, kRedValue)) << "one more line";
    EXPECT_TRUE(store.Find("Quillomir", "Setup", "Key").text == fits) << "the file is as it was";
}

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

fs::path LinkOf(const fs::path& path) {
    std::error_code not_a_link;
    return fs::read_symlink(path, not_a_link);
}

TEST_F(ConfigFileStoreTest, ASaveWritesThroughLinksAndKeepsTheFilesAccess) {
    // A dotfile manager's chain: the settings file links to a link in its folder.
    const fs::path repo = scratch.path() / "dotfiles";
    const fs::path real = repo / "quillomir.conf";
    Spill(real, "# mine\n[Setup]\nCrawletColor=255\n");
    ::chmod(real.c_str(), 0640);
    fs::create_symlink("quillomir.conf", repo / "current");
    fs::create_directories(file.parent_path());
    fs::create_symlink(repo / "current", file);

    EXPECT_TRUE(SaveSetting(store, kCrawletColorKey, kGreenValue));
    EXPECT_EQ(LinkOf(file), repo / "current");
    EXPECT_EQ(Slurp(real), "# mine\n[Setup]\nCrawletColor=65280\n");
    EXPECT_EQ(ModeOf(real), 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(repo), fs::directory_iterator()), 2);

    // A dangling link: its target is made, 0600, in a folder that exists; where
    // the folder is gone too, the save is refused and no folder is made.
    fs::remove(real);
    EXPECT_TRUE(SaveSetting(store, kDisplayValueKey, 1));
    EXPECT_EQ(Slurp(real), "[Setup]\nDisplayValue=1\n");
    EXPECT_EQ(ModeOf(real), 0600u);
    fs::remove(file);
    fs::create_symlink(scratch.path() / "gone" / "quillomir.conf", file);
    EXPECT_FALSE(SaveSetting(store, kDisplayValueKey, 0));
    EXPECT_FALSE(fs::exists(scratch.path() / "gone"));

    if (::geteuid() == 0) {
        // Root keeps a user's file that user's, and follows no link of theirs.
        fs::remove(file);
        fs::create_symlink(real, file);
        ASSERT_EQ(::chown(real.c_str(), 65534, 65534), 0);
        EXPECT_TRUE(SaveSetting(store, kDisplayValueKey, 0));
        struct stat info {};
        ASSERT_EQ(::stat(real.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 65534u);
        ASSERT_EQ(::lchown(file.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(SaveSetting(store, kDisplayValueKey, 1));
        EXPECT_EQ(Slurp(real), "[Setup]\nDisplayValue=0\n");
    }
}

TEST_F(ConfigFileStoreTest, FoldersItMakesAreOwnerOnlyAndAFileKeepsItsMode) {
    const mode_t umask_before = ::umask(022);
    const fs::path home = scratch.path() / "home";
    fs::create_directory(home);
    ::chmod(home.c_str(), 0751);
    ConfigFileStore fresh{home / ".config"};
    const fs::path conf = fresh.FileOf(kSettingsApplication);
    EXPECT_TRUE(SaveSetting(fresh, kCrawletColorKey, kRedValue));
    EXPECT_EQ(ModeOf(home), 0751u) << "a folder that was there keeps its mode";
    EXPECT_EQ(ModeOf(home / ".config"), 0700u);
    EXPECT_EQ(ModeOf(conf.parent_path()), 0700u);
    EXPECT_EQ(ModeOf(conf), 0600u);
    ::chmod(conf.c_str(), 0644);
    EXPECT_TRUE(SaveSetting(fresh, kCrawletColorKey, kGreenValue));
    EXPECT_EQ(ModeOf(conf), 0644u);
    ::umask(umask_before);
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
