// Twips to pixels and the hint's colour fallback: the arithmetic the window is laid out with.
#include <gtest/gtest.h>

#include "form1_layout.h"
#include "text_color.h"

namespace {

namespace ui = quenvar::ui;

// Twips to pixels, as MulDiv rounds, and font sizes in tenths of a point to character heights.
const struct {
  const char* name;
  int (*toPixels)(int, int);
  int value, dpi, pixels;
} kScaled[] = {
    {"client width at 96", ui::twipsToPixels, 5805, 96, 387},
    {"client height at 96", ui::twipsToPixels, 2550, 96, 170},
    {"one pixel at 96", ui::twipsToPixels, 15, 96, 1},
    {"client width at 120", ui::twipsToPixels, 5805, 120, 484},
    {"half rounds up at 144", ui::twipsToPixels, 5805, 144, 581},
    {"Text1 left at 144", ui::twipsToPixels, 1815, 144, 182},
    {"Text2 height at 192", ui::twipsToPixels, 420, 192, 56},
    {"zero", ui::twipsToPixels, 0, 144, 0},
    {"Label4 top at 168", ui::twipsToPixels, 2280, 168, 266},
    {"12pt at 96", ui::fontHeightPixels, 120, 96, -16},
    {"9pt at 96", ui::fontHeightPixels, 90, 96, -12},
    {"7.5pt at 96", ui::fontHeightPixels, 75, 96, -10},
    {"12pt at 144", ui::fontHeightPixels, 120, 144, -24},
    {"7.5pt at 144", ui::fontHeightPixels, 75, 144, -15},
    {"7.5pt at 120", ui::fontHeightPixels, 75, 120, -13},
};
TEST(Form1Layout, ScalesToPixels) {
  for (const auto& c : kScaled)
    EXPECT_EQ(c.toPixels(c.value, c.dpi), c.pixels) << c.name;
}

TEST(Form1Layout, EveryValueIsWholePixelsAt96Dpi) {
  for (const ui::ControlRow& row : ui::kForm1Controls) {
    for (int twips : {row.left, row.top, row.width, row.height})
      EXPECT_EQ(twips % 15, 0) << row.name;
  }
}

struct ColorCase {
  const char* name;
  ui::ColorValue text, background, expected;
};
constexpr ui::ColorValue kGray = 0x6D6D6D;
const ColorCase kColorCases[] = {
    {"Windows 10 scroll bar on white stays", 0xC8C8C8, 0xFFFFFF, 0xC8C8C8},
    {"white on white falls back to grey", 0xFFFFFF, 0xFFFFFF, kGray},
    {"nearly white falls back", 0xF0F0F0, 0xFFFFFF, kGray},
    {"black on white stays", 0x000000, 0xFFFFFF, 0x000000},
    {"black on black falls back", 0x000000, 0x000000, kGray},
    {"channels differ in opposite directions", 0x20FF00, 0x00FF20, 0x20FF00},
};
TEST(HintColor, IsNeverInvisible) {
  for (const ColorCase& c : kColorCases)
    EXPECT_EQ(ui::visibleTextColor(c.text, c.background, kGray), c.expected) << c.name;
}

}  // namespace
