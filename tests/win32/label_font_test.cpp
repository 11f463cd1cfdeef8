// The saver label's font: the message font at the DPI the window reports,
// made again when the DPI changes, and owned so that no old font leaks.
// (No window is made: the unit tests run without a display. The end-to-end
// suite checks the label itself.)
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "control_fonts.h"
#include "scoped_win.h"

namespace quillomir::win32 {
namespace {

LOGFONTW Record(HFONT font) {
    LOGFONTW record{};
    EXPECT_EQ(GetObjectW(font, sizeof record, &record), static_cast<int>(sizeof record));
    return record;
}

// The height in pixels of a line of text in the font.
int TextHeight(HFONT font) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, L"Averaging", 9, &extent);
    SelectObject(dc, old);
    DeleteDC(dc);
    return extent.cy;
}

TEST(LabelFont, TheMessageFontScalesWithTheWindowsDpi) {
    DpiDialogFont font;
    ASSERT_TRUE(font.Apply(nullptr, 96));
    const LOGFONTW at96 = Record(font.get());
    const int height96 = TextHeight(font.get());
    ASSERT_NE(at96.lfHeight, 0);
    ASSERT_GT(height96, 0);

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    EXPECT_STREQ(at96.lfFaceName, metrics.lfMessageFont.lfFaceName) << "the message font's face";

    for (const UINT dpi : {144u, 192u, 96u}) {
        ASSERT_TRUE(font.Apply(nullptr, dpi));
        const LOGFONTW now = Record(font.get());
        EXPECT_STREQ(now.lfFaceName, at96.lfFaceName) << dpi;
        // The height in the font's record, and the height of the text it draws.
        const int expected = MulDiv(std::abs(at96.lfHeight), static_cast<int>(dpi), 96);
        EXPECT_NEAR(std::abs(now.lfHeight), expected, 1) << dpi;
        EXPECT_NEAR(TextHeight(font.get()), MulDiv(height96, static_cast<int>(dpi), 96), 2) << dpi;
    }
}

TEST(LabelFont, EachNewDpiDeletesTheFontItReplaces) {
    DpiDialogFont font;
    ASSERT_TRUE(font.Apply(nullptr, 96));
    const HFONT first = font.get();
    ASSERT_TRUE(font.Apply(nullptr, 192));
    EXPECT_NE(font.get(), first);
    EXPECT_EQ(GetObjectType(first), 0u) << "the 96-DPI font is gone";
    EXPECT_EQ(GetObjectType(font.get()), static_cast<DWORD>(OBJ_FONT));
}

}  // namespace
}  // namespace quillomir::win32
