// Form1's fixed layout, as data. Positions and sizes are in twips (1/1440 inch) and are turned
// into pixels at the window's real DPI, so the window is exact at 96 DPI and crisp above it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quenvar::ui {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kBaseDpi = 96;

// Rounds half away from zero, as Win32's MulDiv does, so the portable and Win32 sides agree.
constexpr int twipsToPixels(int twips, int dpi) {
  const long long scaled = static_cast<long long>(twips) * dpi;
  return static_cast<int>((scaled + kTwipsPerInch / 2) / kTwipsPerInch);
}

inline constexpr int kClientWidthTwips = 5805;
inline constexpr int kClientHeightTwips = 2550;

enum class ControlKind { Label, TextBox, PushButton };

// Control identifiers stay clear of IDOK/IDCANCEL so Enter and Esc never click a button.
enum class ControlId : int {
  Label1 = 1001,
  Text1,
  Label2,
  Text2,
  Command1,
  Command2,
  Label3,
  Label4,
};

inline constexpr std::u16string_view kLabelFace = u"微软雅黑";  // Microsoft YaHei
inline constexpr std::uint8_t kGb2312CharSet = 134;

// The fonts Form1 uses. Default is the system's message font at the window's DPI; the others are
// the labels' own.
enum class FontId { Default, Label12, Label9, Label7_5, Count };
struct FontStyle {
  bool systemMessageFont;  // the rest applies only when false
  std::u16string_view face;
  int tenthsOfPoint;
  int weight;
  std::uint8_t charSet;
  bool italic;
  bool underline;
};
inline constexpr std::array<FontStyle, static_cast<std::size_t>(FontId::Count)> kFonts{{
    {true, {}, 0, 0, 0, false, false},                            // Default
    {false, kLabelFace, 120, 400, kGb2312CharSet, false, false},  // Label12
    {false, kLabelFace, 90, 400, kGb2312CharSet, false, false},   // Label9
    {false, kLabelFace, 75, 400, kGb2312CharSet, true, true},     // Label7_5
}};
constexpr const FontStyle& fontStyle(FontId id) {
  return kFonts[static_cast<std::size_t>(id)];
}

struct ControlRow {
  ControlId id;
  std::string_view name;
  ControlKind kind;
  std::u16string_view text;
  int left, top, width, height;  // twips
  int tabIndex;
  FontId font;
};

inline constexpr std::u16string_view kText1Hint = u"在此输入已经失效的资源链接";

// Rows are in creation order, which is also the z-order. The controls that take focus come in
// tab-index order, so the dialog manager's Tab follows it; each text box comes right after the
// label that names it, which is where screen readers look for its name.
inline constexpr std::array<ControlRow, 8> kForm1Controls{{
    {ControlId::Command1, "Command1", ControlKind::PushButton, u"修复链接", 825, 1920, 1605, 495, 0,
     FontId::Default},
    {ControlId::Label1, "Label1", ControlKind::Label, u"失效的链接：", 90, 360, 1440, 315, 2,
     FontId::Label12},
    {ControlId::Text1, "Text1", ControlKind::TextBox, kText1Hint, 1815, 315, 3525, 405, 1,
     FontId::Default},
    {ControlId::Label2, "Label2", ControlKind::Label, u"修复后的链接:", 60, 1125, 1680, 555, 3,
     FontId::Label12},
    {ControlId::Text2, "Text2", ControlKind::TextBox, u"", 1800, 1170, 3495, 420, 4,
     FontId::Default},
    {ControlId::Command2, "Command2", ControlKind::PushButton, u"复制已修复链接", 3060, 1920, 1605,
     495, 5, FontId::Default},
    {ControlId::Label3, "Label3", ControlKind::Label, u"By", 5055, 2250, 270, 285, 6,
     FontId::Label9},
    {ControlId::Label4, "Label4", ControlKind::Label, u"Zek", 5355, 2280, 345, 240, 7,
     FontId::Label7_5},
}};

constexpr bool takesFocus(ControlKind kind) {
  return kind != ControlKind::Label;
}

constexpr bool focusOrderFollowsTabIndex() {
  int last = -1;
  for (const ControlRow& row : kForm1Controls) {
    if (!takesFocus(row.kind))
      continue;
    if (row.tabIndex <= last)
      return false;
    last = row.tabIndex;
  }
  return true;
}
static_assert(focusOrderFollowsTabIndex());

constexpr bool everyTextBoxFollowsItsLabel() {
  for (std::size_t i = 0; i < kForm1Controls.size(); ++i) {
    if (kForm1Controls[i].kind == ControlKind::TextBox &&
        (i == 0 || kForm1Controls[i - 1].kind != ControlKind::Label)) {
      return false;
    }
  }
  return true;
}
static_assert(everyTextBoxFollowsItsLabel());

// Font height in pixels for a LOGFONT (negative: character height, not cell height).
constexpr int fontHeightPixels(int tenthsOfPoint, int dpi) {
  return -static_cast<int>((static_cast<long long>(tenthsOfPoint) * dpi + 360) / 720);
}

}  // namespace quenvar::ui
