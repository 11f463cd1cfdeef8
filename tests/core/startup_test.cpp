#include "startup/startup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillomir {
namespace {

class RecordingStartupHost : public StartupHost {
  public:
    void ShowConfigDialog(std::uint64_t ownerWindow) override {
        shown.push_back("config");
        owners.push_back(ownerWindow);
    }
    void ShowSaverWindow() override { shown.push_back("saver"); }

    std::vector<std::string> shown;
    std::vector<std::uint64_t> owners;
};

TEST(StartupMode, OnlyTheFirstTwoCharactersUpperCasedCount) {
    struct Case {
        const char* arguments;
        Mode mode;
    };
    const Case cases[] = {
        {"", Mode::Configuration},
        {"/C", Mode::Configuration},
        {"/c:1234", Mode::Configuration},
        {"/c 1234", Mode::Configuration},
        {"/S", Mode::Run},
        {"/s", Mode::Run},
        {"/sanything", Mode::Run},
        {"/p 1234", Mode::Preview},
        {"/P", Mode::Preview},
        {"/a", Mode::Password},
        {"/A 12", Mode::Password},
        {"/x", Mode::None},
        {"-s", Mode::None},
        {"S", Mode::None},
        {"/", Mode::None},
        {" /S", Mode::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModeFromArguments(c.arguments), c.mode) << '"' << c.arguments << '"';
    }
}

TEST(StartupMain, OpensTheWindowTheModeAsksForAndNothingElse) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {"config"}},  {"/c:1234", {"config"}},
        {"/s", {"saver"}}, {"/p 1234", {}},
        {"/a", {}},        {"/x", {}},
        {"-s", {}},
    };
    for (const auto& [arguments, expected] : cases) {
        RecordingStartupHost host;
        Main(arguments, host);
        EXPECT_EQ(host.shown, expected) << '"' << arguments << '"';
    }
}

TEST(StartupOwnerWindow, TakesTheDecimalHandleAfterSlashCColon) {
    EXPECT_EQ(OwnerWindowFromArguments("/c:1234"), 1234u);
    EXPECT_EQ(OwnerWindowFromArguments("/C:66000"), 66000u);
    EXPECT_EQ(OwnerWindowFromArguments("/c:0"), 0u);
    EXPECT_EQ(OwnerWindowFromArguments("/c:1234  \t"), 1234u);
    EXPECT_EQ(OwnerWindowFromArguments("/c:18446744073709551615"), UINT64_MAX);
}

TEST(StartupOwnerWindow, AnythingElseMeansNoOwner) {
    const char* const cases[] = {
        "",
        "/c",
        "/C",
        "/c:",
        "/c: ",
        "/c:-5",
        "/c:+5",
        "/c:0x1A",
        "/c:12a",
        "/c:1 2",
        "/c 1234",
        "/c1234",
        "/s:1234",
        "/p:1234",
        "c:1234",
        " /c:1234",
        "/c:\t1234",
        // One past the largest 64-bit number, and far past it: never wrapped.
        "/c:18446744073709551616",
        "/c:99999999999999999999999",
    };
    for (const char* arguments : cases) {
        EXPECT_EQ(OwnerWindowFromArguments(arguments), 0u) << '"' << arguments << '"';
    }
}

TEST(StartupMain, HandsTheOwnerHandleToTheConfigDialog) {
    const std::pair<const char*, std::uint64_t> cases[] = {
        {"", 0}, {"/c", 0}, {"/c:4242", 4242}, {"/C:77 ", 77}, {"/c:bogus", 0},
    };
    for (const auto& [arguments, owner] : cases) {
        RecordingStartupHost host;
        Main(arguments, host);
        ASSERT_EQ(host.owners.size(), 1u) << '"' << arguments << '"';
        EXPECT_EQ(host.owners[0], owner) << '"' << arguments << '"';
    }
}

TEST(StartupArgumentText, SkipsTheProgramNameAndTheBlanksAfterIt) {
    EXPECT_EQ(ArgumentText(R"("C:\Program Files\Quillomir.scr" /S)"), "/S");
    EXPECT_EQ(ArgumentText(R"(C:\Windows\Quillomir.scr   /c:1234)"), "/c:1234");
    EXPECT_EQ(ArgumentText("Quillomir.scr"), "");
    EXPECT_EQ(ArgumentText(R"("unclosed /S)"), "");
    EXPECT_EQ(ArgumentText("Quillomir.scr\t/p 99"), "/p 99");
    EXPECT_EQ(ArgumentText(""), "");
}

}  // namespace
}  // namespace quillomir
