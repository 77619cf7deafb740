#include "icon_check.h"

#include <set>

namespace quenvar::test {
namespace {

std::uint32_t le16(const std::uint8_t* p) {
  return p[0] | (p[1] << 8);
}
std::uint32_t le32(const std::uint8_t* p) {
  return le16(p) | (static_cast<std::uint32_t>(le16(p + 2)) << 16);
}
std::size_t rowBytes(int width, int bits) {
  return static_cast<std::size_t>((width * bits + 31) / 32 * 4);
}

}  // namespace

std::string checkIconImage(const std::uint8_t* data, std::size_t size,
                           const icon::ImageFormat& expected) {
  const int w = expected.size;
  const int bits = expected.bitCount;
  const std::string what =
      std::to_string(w) + "x" + std::to_string(w) + "@" + std::to_string(bits) + ": ";
  if (size >= 4 && data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G') {
    return what + "stored as PNG";
  }
  if (size < 40 || le32(data) != 40)
    return what + "no BITMAPINFOHEADER";
  if (static_cast<int>(le32(data + 4)) != w || static_cast<int>(le32(data + 8)) != 2 * w) {
    return what + "header gives " + std::to_string(le32(data + 4)) + "x" +
           std::to_string(le32(data + 8));
  }
  if (le16(data + 12) != 1 || static_cast<int>(le16(data + 14)) != bits || le32(data + 16) != 0) {
    return what + "planes, bit count or compression wrong";
  }
  const std::size_t paletteEntries = bits <= 8 ? (std::size_t{1} << bits) : 0;
  const std::size_t xorRow = rowBytes(w, bits), andRow = rowBytes(w, 1);
  const std::size_t rows = static_cast<std::size_t>(w);
  if (size != 40 + paletteEntries * 4 + (xorRow + andRow) * rows) {
    return what + "size " + std::to_string(size) + " does not match its header";
  }
  const std::uint8_t* palette = data + 40;
  if (paletteEntries > 0) {
    std::set<std::uint32_t> colors;
    for (std::size_t i = 0; i < paletteEntries; ++i)
      colors.insert(le32(palette + 4 * i) & 0xFFFFFF);
    if (colors.size() < 2)
      return what + "empty palette";
  }
  const std::uint8_t* pixels = palette + paletteEntries * 4;
  const std::uint8_t* mask = pixels + xorRow * rows;
  int transparent = 0, opaque = 0;
  for (std::size_t y = 0; y < rows; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool masked = (mask[y * andRow + static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1;
      masked ? ++transparent : ++opaque;
      const std::uint8_t* row = pixels + y * xorRow;
      if (bits == 32) {
        const bool clear = row[x * 4 + 3] < icon::kMaskAlphaThreshold;
        if (clear != masked)
          return what + "AND mask disagrees with alpha";
      } else {
        const unsigned index =
            bits == 8 ? row[x] : (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0xF);
        const std::uint32_t color = le32(palette + 4 * index) & 0xFFFFFF;
        if (masked && color != 0)
          return what + "masked pixel is not black";
      }
    }
  }
  if (transparent == 0 || opaque == 0)
    return what + "mask is all one value";
  return {};
}

bool readIconDirectory(const std::uint8_t* data, std::size_t size, bool groupResource,
                       std::vector<IconDirectoryEntry>& entries) {
  const std::size_t entrySize = groupResource ? 14 : 16;
  if (size < 6 || le16(data) != 0 || le16(data + 2) != 1)
    return false;
  const std::size_t count = le16(data + 4);
  if (size < 6 + count * entrySize)
    return false;
  entries.clear();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = data + 6 + i * entrySize;
    entries.push_back({e[0] == 0 ? 256 : e[0], e[1] == 0 ? 256 : e[1], e[2],
                       static_cast<int>(le16(e + 6)), le32(e + 8),
                       groupResource ? le16(e + 12) : le32(e + 12)});
  }
  return true;
}

}  // namespace quenvar::test
