// Checks of an icon image as Windows reads it, shared by the unit test of the generator and the
// end-to-end driver that reads the icon back out of Quenvar.exe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "icon_format.h"

namespace quenvar::test {

// Empty when the image is a well-formed DIB of the expected format, with a real palette where it
// has one and an AND mask that agrees with its pixels; otherwise what is wrong.
std::string checkIconImage(const std::uint8_t* data, std::size_t size,
                           const icon::ImageFormat& expected);

struct IconDirectoryEntry {
  int width, height, colorCount, bitCount;
  std::size_t bytes;
  std::uint32_t offsetOrId;  // file offset in a .ico, resource id in a group resource
};

// Reads an ICONDIR (.ico file, entry size 16) or GRPICONDIR (resource, entry size 14).
// Returns false when the header is malformed.
bool readIconDirectory(const std::uint8_t* data, std::size_t size, bool groupResource,
                       std::vector<IconDirectoryEntry>& entries);

}  // namespace quenvar::test
