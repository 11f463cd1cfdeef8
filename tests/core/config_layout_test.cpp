#include "settings/config_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config_layout_data.h"

namespace quillomir {
namespace {

// One window of tests/data/config_layout.tsv.
struct ExpectedControl {
    std::string name;
    std::string kind;
    std::string caption;  // "*": not compared
    TwipRect rect;
    int tab = 0;
    std::string frame;  // "-": none
};

struct ExpectedWindow {
    std::string caption;
    std::int32_t clientWidth = 0;
    std::int32_t clientHeight = 0;
    std::vector<ExpectedControl> controls;
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    return fields;
}

// Windows in file order; a malformed line fails the test that reads the file.
std::vector<ExpectedWindow> ReadLayoutFile() {
    std::vector<ExpectedWindow> windows;
    std::istringstream in{std::string(testdata::kConfigLayoutTsv)};
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::vector<std::string> f = Fields(line);
        if (f.size() == 4 && f[0] == "window") {
            windows.push_back({f[1], std::stoi(f[2]), std::stoi(f[3]), {}});
        } else if (f.size() == 9 && !windows.empty()) {
            windows.back().controls.push_back(
                {f[0],
                 f[1],
                 f[2],
                 {std::stoi(f[3]), std::stoi(f[4]), std::stoi(f[5]), std::stoi(f[6])},
                 std::stoi(f[7]),
                 f[8]});
        } else {
            ADD_FAILURE() << "config_layout.tsv: cannot read the line '" << line << "'";
        }
    }
    return windows;
}

const char* KindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Button:
            return "Button";
        case ControlKind::Frame:
            return "Frame";
        case ControlKind::Label:
            return "Label";
        case ControlKind::OptionButton:
            return "OptionButton";
        case ControlKind::CheckBox:
            return "CheckBox";
    }
    return "?";
}

void ExpectTable(const WindowLayout& layout, const ExpectedWindow& want) {
    EXPECT_EQ(layout.caption, want.caption);
    EXPECT_EQ(layout.clientWidth, want.clientWidth) << want.caption;
    EXPECT_EQ(layout.clientHeight, want.clientHeight) << want.caption;
    ASSERT_EQ(layout.controls.size(), want.controls.size()) << want.caption;
    for (const ExpectedControl& row : want.controls) {
        const ControlEntry* control = layout.Find(row.name);
        ASSERT_NE(control, nullptr) << row.name;
        EXPECT_STREQ(KindName(control->kind), row.kind.c_str()) << row.name;
        if (row.caption != "*") {
            EXPECT_EQ(control->caption, row.caption) << row.name;
        }
        EXPECT_EQ(control->rect, row.rect) << row.name;
        EXPECT_EQ(control->tab, row.tab) << row.name;
        EXPECT_EQ(control->frame, row.frame == "-" ? "" : row.frame) << row.name;
    }
}

TEST(ConfigLayout, TablesHoldTheLayoutNumbers) {
    const std::vector<ExpectedWindow> windows = ReadLayoutFile();
    ASSERT_EQ(windows.size(), 2u);
    ExpectTable(kConfigLayout, windows[0]);
    ExpectTable(kAboutLayout, windows[1]);

    using enum ControlKind;
    std::set<std::string> selected;
    for (const ControlEntry& control : kConfigLayout.controls) {
        if (control.initiallySelected) {
            selected.insert(std::string(control.name));
        }
        EXPECT_TRUE(control.font.IsDefault()) << control.name;
    }
    EXPECT_EQ(selected, (std::set<std::string>{"optCPU", "optBlue"}));

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
