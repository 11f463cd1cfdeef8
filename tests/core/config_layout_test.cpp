#include "settings/config_layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillomir {
namespace {

struct Row {
    ControlKind kind;
    const char* name;
    const char* caption;  // null: not compared here
    TwipRect rect;
    int tab;
    const char* frame;
};

void ExpectTable(const WindowLayout& layout, std::initializer_list<Row> rows) {
    ASSERT_EQ(layout.controls.size(), rows.size()) << layout.caption;
    for (const Row& row : rows) {
        const ControlEntry* control = layout.Find(row.name);
        ASSERT_NE(control, nullptr) << row.name;
        EXPECT_EQ(control->kind, row.kind) << row.name;
        if (row.caption) {
            EXPECT_EQ(control->caption, row.caption) << row.name;
        }
        EXPECT_EQ(control->rect, row.rect) << row.name;
        EXPECT_EQ(control->tab, row.tab) << row.name;
        EXPECT_EQ(control->frame, row.frame) << row.name;
    }
}

TEST(ConfigLayout, TablesHoldTheLayoutNumbers) {
    using enum ControlKind;
    EXPECT_EQ(kConfigLayout.caption, "Quillomir");
    EXPECT_EQ(kConfigLayout.clientWidth, 5088);
    EXPECT_EQ(kConfigLayout.clientHeight, 3336);
    ExpectTable(
        kConfigLayout,
        {
            {Button, "CommandOK", "OK", {720, 2640, 1452, 492}, 0, ""},
            {Frame, "Frame1", "Crawlet Length", {120, 120, 2772, 2292}, 1, ""},
            {Frame, "Frame2", "Crawlet Color", {3000, 120, 1932, 2292}, 2, ""},
            {Label, "Label1", "Base on percentage:", {120, 360, 2532, 252}, 3, "Frame1"},
            {OptionButton, "optCPU", "CPU Utilization", {360, 720, 2292, 252}, 4, "Frame1"},
            {OptionButton, "optMemory", "Memory Use", {360, 1080, 2292, 252}, 5, "Frame1"},
            {CheckBox, "chkValue", "Display current value", {120, 1680, 2532, 252}, 6, "Frame1"},
            {OptionButton, "optBlue", "Blue", {240, 360, 1452, 252}, 7, "Frame2"},
            {OptionButton, "optRed", "Red", {240, 720, 1452, 252}, 8, "Frame2"},
            {OptionButton, "optGreen", "Green", {240, 1080, 1452, 252}, 9, "Frame2"},
            {OptionButton, "optWhite", "White", {240, 1800, 1452, 252}, 10, "Frame2"},
            {OptionButton, "optPurple", "Purple", {240, 1440, 1452, 252}, 11, "Frame2"},
            {Button, "CommandAbout", "About", {2880, 2640, 1452, 492}, 12, ""},
        });
    std::set<std::string> selected;
    for (const ControlEntry& control : kConfigLayout.controls) {
        if (control.initiallySelected) {
            selected.insert(std::string(control.name));
        }
        EXPECT_TRUE(control.font.IsDefault()) << control.name;
    }
    EXPECT_EQ(selected, (std::set<std::string>{"optCPU", "optBlue"}));

    EXPECT_EQ(kAboutLayout.caption, "About Quillomir");
    EXPECT_EQ(kAboutLayout.clientWidth, 6048);
    EXPECT_EQ(kAboutLayout.clientHeight, 3192);
    ExpectTable(kAboutLayout, {
                                  {Label, "Label1", "Quillomir", {120, 120, 5772, 372}, 0, ""},
                                  {Label, "Label2", nullptr, {120, 960, 5772, 252}, 1, ""},
                                  {Label, "Label3", nullptr, {120, 1320, 5772, 252}, 2, ""},
                                  {Label, "Label5", nullptr, {120, 1800, 5772, 492}, 3, ""},
                                  {Button, "Command1", "OK", {2160, 2640, 1572, 372}, 4, ""},
                                  {Label, "lblVersion", "Version x.x", {0, 600, 6012, 252}, 5, ""},
                              });
    const ControlEntry& title = *kAboutLayout.Find("Label1");
    const ControlEntry& credit = *kAboutLayout.Find("Label2");
    const ControlEntry& link = *kAboutLayout.Find("Label3");
    EXPECT_EQ(title.font.face, "MS Sans Serif");
    EXPECT_DOUBLE_EQ(title.font.points, 13.8);
    EXPECT_FALSE(title.font.underline);
    EXPECT_EQ(credit.font.face, "MS Sans Serif");
    EXPECT_DOUBLE_EQ(credit.font.points, 9.6);
    EXPECT_TRUE(credit.caption.starts_with("by "));
    EXPECT_EQ(link.font.face, "MS Sans Serif");
    EXPECT_DOUBLE_EQ(link.font.points, 9.6);
    EXPECT_TRUE(link.font.underline);
    EXPECT_EQ(link.textColor, 0xFF0000);
    EXPECT_TRUE(link.clickable);
    EXPECT_TRUE(kAboutLayout.Find("Label5")->wordWrap);
    for (const ControlEntry& control : kAboutLayout.controls) {
        EXPECT_EQ(control.align == TextAlign::Center, control.kind == Label) << control.name;
    }
}

// Every control lies inside its frame and the window, and tab positions are
// 0..n-1 without gaps, so the host's rendering needs no checks of its own.
TEST(ConfigLayout, ControlsFitTheirFramesAndTabsAreDense) {
    for (const WindowLayout* layout : {&kConfigLayout, &kAboutLayout}) {
        std::set<int> tabs;
        for (const ControlEntry& control : layout->controls) {
            tabs.insert(control.tab);
            const TwipRect r = layout->WindowRect(control);
            EXPECT_GE(r.left, 0) << control.name;
            EXPECT_GE(r.top, 0) << control.name;
            EXPECT_LE(r.left + r.width, layout->clientWidth) << control.name;
            EXPECT_LE(r.top + r.height, layout->clientHeight) << control.name;
            if (!control.frame.empty()) {
                const ControlEntry* frame = layout->Find(control.frame);
                ASSERT_NE(frame, nullptr) << control.name;
                EXPECT_EQ(frame->kind, ControlKind::Frame) << control.name;
                EXPECT_LE(control.rect.left + control.rect.width, frame->rect.width)
                    << control.name;
                EXPECT_LE(control.rect.top + control.rect.height, frame->rect.height)
                    << control.name;
            }
        }
        EXPECT_EQ(tabs.size(), layout->controls.size()) << layout->caption;
        EXPECT_EQ(*tabs.begin(), 0) << layout->caption;
        EXPECT_EQ(*tabs.rbegin(), static_cast<int>(layout->controls.size()) - 1) << layout->caption;
    }
    const TwipRect cpu = kConfigLayout.WindowRect(*kConfigLayout.Find("optCPU"));
    EXPECT_EQ(cpu, (TwipRect{480, 840, 2292, 252}));
    const TwipRect purple = kConfigLayout.WindowRect(*kConfigLayout.Find("optPurple"));
    EXPECT_EQ(purple, (TwipRect{3240, 1560, 1452, 252}));
}

}  // namespace
}  // namespace quillomir
