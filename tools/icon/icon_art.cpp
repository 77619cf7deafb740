// Quenvar's icon, drawn from code: two white chain links on a blue rounded square. Each pixel is
// supersampled, so edges are smooth at every size, and the strokes are kept at least about one
// and a half pixels wide so the links still read at 16 x 16.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "icon_format.h"

namespace quenvar::icon {
namespace {

struct Rgb {
  double r, g, b;
};

constexpr Rgb kTopBlue{0x3C, 0x8E, 0xF5};
constexpr Rgb kBottomBlue{0x16, 0x58, 0xC8};
constexpr Rgb kWhite{0xFF, 0xFF, 0xFF};

Rgb mix(const Rgb& a, const Rgb& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double roundedSquareDistance(double x, double y, double half, double radius) {
  const double qx = std::abs(x - 0.5) - (half - radius);
  const double qy = std::abs(y - 0.5) - (half - radius);
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

// Distance from the centre line of a stadium (a segment widened by `radius`) along the diagonal.
double stadiumRingDistance(double x, double y, double cx, double cy, double halfLength,
                           double radius) {
  const double dx = 1.0 / std::sqrt(2.0), dy = -1.0 / std::sqrt(2.0);
  const double px = x - cx, py = y - cy;
  const double t = std::clamp(px * dx + py * dy, -halfLength, halfLength);
  const double ex = px - t * dx, ey = py - t * dy;
  return std::abs(std::hypot(ex, ey) - radius);
}

struct Sample {
  double coverage;  // of the whole icon
  double glyph;     // share of the covered part that is the white links
  Rgb color;
};

Sample samplePixel(int px, int py, int size) {
  const double margin = size <= 16 ? 0.0 : 0.5 / size;
  const double half = 0.5 - margin;
  // Small sizes get bolder strokes and links set further apart, so the holes stay open.
  const bool small = size <= 24;
  const double stroke = std::max(0.09, (small ? 1.9 : 1.5) / size) / 2;
  const double apart = small ? 0.14 : 0.115, halfLength = small ? 0.06 : 0.085,
               radius = small ? 0.15 : 0.135;
  const int grid = 4;
  double covered = 0, glyph = 0;
  Rgb sum{0, 0, 0};
  for (int sy = 0; sy < grid; ++sy) {
    for (int sx = 0; sx < grid; ++sx) {
      const double x = (px + (sx + 0.5) / grid) / size;
      const double y = (py + (sy + 0.5) / grid) / size;
      if (roundedSquareDistance(x, y, half, 0.2) > 0)
        continue;
      const bool onLink =
          stadiumRingDistance(x, y, 0.5 - apart, 0.5 + apart, halfLength, radius) < stroke ||
          stadiumRingDistance(x, y, 0.5 + apart, 0.5 - apart, halfLength, radius) < stroke;
      const Rgb c = onLink ? kWhite : mix(kTopBlue, kBottomBlue, y);
      covered += 1;
      glyph += onLink ? 1 : 0;
      sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
    }
  }
  if (covered == 0)
    return {0, 0, {0, 0, 0}};
  return {covered / (grid * grid),
          glyph / covered,
          {sum.r / covered, sum.g / covered, sum.b / covered}};
}

std::uint8_t toByte(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// The standard 16-colour palette; the links are white (15) on blue (12).
constexpr std::uint8_t kVgaPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

// 8-bit palette: black for transparent pixels, then blends from each shade of the blue gradient
// towards white, which are the only colours the artwork has.
std::vector<Rgb> eightBitPalette() {
  std::vector<Rgb> palette{{0, 0, 0}};
  for (int shade = 0; shade < 15; ++shade) {
    for (int toWhite = 0; toWhite < 17; ++toWhite) {
      palette.push_back(mix(mix(kTopBlue, kBottomBlue, shade / 14.0), kWhite, toWhite / 16.0));
    }
  }
  return palette;
}

std::size_t nearest(const std::vector<Rgb>& palette, const Rgb& c) {
  std::size_t best = 1;
  double bestDistance = 1e300;
  for (std::size_t i = 1; i < palette.size(); ++i) {
    const double d = std::pow(palette[i].r - c.r, 2) + std::pow(palette[i].g - c.g, 2) +
                     std::pow(palette[i].b - c.b, 2);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

void put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFFu);
  put16(out, v >> 16);
}

std::size_t rowBytes(int width, int bitCount) {
  return static_cast<std::size_t>((width * bitCount + 31) / 32 * 4);
}

}  // namespace

std::vector<std::uint8_t> renderImage(const ImageFormat& format) {
  const int size = format.size;
  const int bits = format.bitCount;
  const std::size_t xorRow = rowBytes(size, bits), andRow = rowBytes(size, 1);
  const std::size_t paletteEntries = bits <= 8 ? (std::size_t{1} << bits) : 0;

  std::vector<std::uint8_t> out;
  put32(out, 40);  // BITMAPINFOHEADER
  put32(out, static_cast<std::uint32_t>(size));
  put32(out, static_cast<std::uint32_t>(size * 2));  // XOR and AND bitmaps stacked
  put16(out, 1);
  put16(out, static_cast<unsigned>(bits));
  put32(out, 0);  // BI_RGB
  put32(out, static_cast<std::uint32_t>((xorRow + andRow) * static_cast<std::size_t>(size)));
  put32(out, 0);
  put32(out, 0);
  put32(out, static_cast<std::uint32_t>(paletteEntries));
  put32(out, 0);

  std::vector<Rgb> palette;
  if (bits == 8)
    palette = eightBitPalette();
  if (bits == 4) {
    for (const auto& c : kVgaPalette)
      palette.push_back({double(c[0]), double(c[1]), double(c[2])});
  }
  palette.resize(paletteEntries, {0, 0, 0});
  for (const Rgb& c : palette) {
    out.insert(out.end(), {toByte(c.b), toByte(c.g), toByte(c.r), 0});
  }

  const std::size_t xorStart = out.size();
  out.resize(xorStart + (xorRow + andRow) * static_cast<std::size_t>(size), 0);
  const std::size_t andStart = xorStart + xorRow * static_cast<std::size_t>(size);
  for (int y = 0; y < size; ++y) {
    const std::size_t row = static_cast<std::size_t>(size - 1 - y);  // DIBs are bottom-up
    std::uint8_t* xorLine = &out[xorStart + row * xorRow];
    std::uint8_t* andLine = &out[andStart + row * andRow];
    for (int x = 0; x < size; ++x) {
      const Sample s = samplePixel(x, y, size);
      const int alpha = static_cast<int>(std::lround(s.coverage * 255));
      const bool transparent = alpha < kMaskAlphaThreshold;
      if (transparent)
        andLine[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      if (bits == 32) {
        std::uint8_t* p = xorLine + x * 4;
        p[0] = toByte(s.color.b);
        p[1] = toByte(s.color.g);
        p[2] = toByte(s.color.r);
        p[3] = static_cast<std::uint8_t>(alpha);
      } else if (!transparent) {
        const std::size_t index =
            bits == 4 ? (s.glyph >= 0.5 ? 15 : 12) : nearest(palette, s.color);
        if (bits == 8) {
          xorLine[x] = static_cast<std::uint8_t>(index);
        } else {
          xorLine[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> buildIconFile() {
  std::vector<std::vector<std::uint8_t>> images;
  for (const ImageFormat& format : kIconImages)
    images.push_back(renderImage(format));

  std::vector<std::uint8_t> out;
  put16(out, 0);
  put16(out, 1);  // icon
  put16(out, static_cast<unsigned>(images.size()));
  std::size_t offset = 6 + 16 * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    const ImageFormat& format = kIconImages[i];
    out.push_back(static_cast<std::uint8_t>(format.size == 256 ? 0 : format.size));
    out.push_back(static_cast<std::uint8_t>(format.size == 256 ? 0 : format.size));
    out.push_back(static_cast<std::uint8_t>(format.bitCount == 4 ? 16 : 0));
    out.push_back(0);
    put16(out, 1);
    put16(out, static_cast<unsigned>(format.bitCount));
    put32(out, static_cast<std::uint32_t>(images[i].size()));
    put32(out, static_cast<std::uint32_t>(offset));
    offset += images[i].size();
  }
  for (const auto& image : images)
    out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace quenvar::icon
