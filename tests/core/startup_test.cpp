#include "startup/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillomir {
namespace {

class RecordingStartupHost : public StartupHost {
  public:
    void ShowConfigDialog() override { shown.push_back("config"); }
    void ShowSaverWindow() override { shown.push_back("saver"); }

    std::vector<std::string> shown;
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
