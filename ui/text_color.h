// Colour values: an explicit 0x00BBGGRR RGB value, or 0x80000000 plus a system colour index.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace quenvar::ui {

using ColorValue = std::uint32_t;

inline constexpr ColorValue kSystemColorFlag = 0x80000000u;
inline constexpr ColorValue kScrollBarSystemColor = kSystemColorFlag | 0;  // COLOR_SCROLLBAR
inline constexpr ColorValue kBlack = 0x000000u;

// Text1's colour while it still shows its hint, and after its first change.
inline constexpr ColorValue kText1HintColor = kScrollBarSystemColor;
inline constexpr ColorValue kText1TypedColor = kBlack;

constexpr bool isSystemColor(ColorValue value) {
  return (value & kSystemColorFlag) != 0;
}
constexpr int systemColorIndex(ColorValue value) {
  return static_cast<int>(value & 0xFFu);
}

// Some colour schemes (Wine's default among them) make the scroll-bar colour the same as an edit
// box's background, which would hide the hint; below this summed channel difference the hint
// falls back to the grey-text colour.
inline constexpr int kMinHintContrast = 48;

constexpr int channelDistance(ColorValue a, ColorValue b) {
  int sum = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int ca = static_cast<int>((a >> shift) & 0xFFu);
    const int cb = static_cast<int>((b >> shift) & 0xFFu);
    sum += ca > cb ? ca - cb : cb - ca;
  }
  return sum;
}

// The RGB colour to draw a text in, given its resolved colour, the box's background and the
// grey-text colour to fall back on.
constexpr ColorValue visibleTextColor(ColorValue rgb, ColorValue background, ColorValue grayText) {
  return channelDistance(rgb, background) < kMinHintContrast ? grayText : rgb;
}

}  // namespace quenvar::ui
