// The images of Quenvar's icon, in the order the file stores them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quenvar::icon {

struct ImageFormat {
  int size;      // width and height in pixels
  int bitCount;  // 4, 8 or 32
};

inline constexpr std::array<ImageFormat, 14> kIconImages{{
    {32, 4},
    {128, 8},
    {64, 8},
    {48, 8},
    {32, 8},
    {24, 8},
    {16, 8},
    {256, 32},
    {128, 32},
    {64, 32},
    {48, 32},
    {32, 32},
    {24, 32},
    {16, 32},
}};

// Pixels with less alpha than this count as transparent in the AND mask and palette images.
inline constexpr int kMaskAlphaThreshold = 128;

// One image as a DIB: BITMAPINFOHEADER, palette (for 4 and 8 bits), XOR bitmap and AND mask.
std::vector<std::uint8_t> renderImage(const ImageFormat& format);

// The whole .ico file: directory followed by every image of kIconImages.
std::vector<std::uint8_t> buildIconFile();

}  // namespace quenvar::icon
