// Twips to pixels and the hint's colour fallback: the arithmetic the window is laid out with.
#include <gtest/gtest.h>

#include <ostream>

#include "form1_layout.h"
#include "test_support.h"
#include "text_color.h"

namespace {

namespace ui = quenvar::ui;

struct PixelCase {
  const char* name;
  friend void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }
  int twips, dpi, pixels;
};

const PixelCase kPixelCases[] = {
    {"client width at 96", 5805, 96, 387},
    {"client height at 96", 2550, 96, 170},
    {"one pixel at 96", 15, 96, 1},
    {"client width at 120", 5805, 120, 484},
    {"half rounds up at 144", 5805, 144, 581},
    {"Text1 left at 144", 1815, 144, 182},
    {"Text2 height at 192", 420, 192, 56},
    {"zero", 0, 144, 0},
    {"Label4 top at 168", 2280, 168, 266},
};

class TwipsToPixels : public testing::TestWithParam<PixelCase> {};
TEST_P(TwipsToPixels, RoundsAsMulDiv) {
  const PixelCase& c = GetParam();
  EXPECT_EQ(ui::twipsToPixels(c.twips, c.dpi), c.pixels);
}
INSTANTIATE_TEST_SUITE_P(Cases, TwipsToPixels, testing::ValuesIn(kPixelCases),
                         quenvar::test::CaseName());

TEST(Form1Layout, EveryValueIsWholePixelsAt96Dpi) {
  for (const ui::ControlRow& row : ui::kForm1Controls) {
    for (int twips : {row.left, row.top, row.width, row.height}) {
      EXPECT_EQ(twips % 15, 0) << row.name;
    }
  }
}

struct FontHeightCase {
  const char* name;
  friend void PrintTo(const FontHeightCase& c, std::ostream* os) { *os << c.name; }
  int tenths, dpi, height;
};
const FontHeightCase kFontHeights[] = {
    {"12pt at 96", 120, 96, -16},   {"9pt at 96", 90, 96, -12},     {"7_5pt at 96", 75, 96, -10},
    {"12pt at 144", 120, 144, -24}, {"7_5pt at 144", 75, 144, -15}, {"7_5pt at 120", 75, 120, -13},
};
class FontHeight : public testing::TestWithParam<FontHeightCase> {};
TEST_P(FontHeight, IsTheCharacterHeightAtThatDpi) {
  EXPECT_EQ(ui::fontHeightPixels(GetParam().tenths, GetParam().dpi), GetParam().height);
}
INSTANTIATE_TEST_SUITE_P(Cases, FontHeight, testing::ValuesIn(kFontHeights),
                         quenvar::test::CaseName());

struct ColorCase {
  const char* name;
  friend void PrintTo(const ColorCase& c, std::ostream* os) { *os << c.name; }
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
class HintColor : public testing::TestWithParam<ColorCase> {};
TEST_P(HintColor, IsNeverInvisible) {
  const ColorCase& c = GetParam();
  EXPECT_EQ(ui::visibleTextColor(c.text, c.background, kGray), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, HintColor, testing::ValuesIn(kColorCases),
                         quenvar::test::CaseName());

}  // namespace
