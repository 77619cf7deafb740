// The generated icon: fourteen DIB images in the required order, each well formed.
#include <gtest/gtest.h>

#include "icon_check.h"
#include "icon_format.h"

namespace {

using quenvar::icon::kIconImages;

TEST(GeneratedIcon, HasFourteenWellFormedImagesInOrder) {
  const std::vector<std::uint8_t> file = quenvar::icon::buildIconFile();
  std::vector<quenvar::test::IconDirectoryEntry> entries;
  ASSERT_TRUE(quenvar::test::readIconDirectory(file.data(), file.size(), false, entries));
  ASSERT_EQ(entries.size(), kIconImages.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const auto& want = kIconImages[i];
    SCOPED_TRACE("image " + std::to_string(i));
    EXPECT_EQ(e.width, want.size);
    EXPECT_EQ(e.height, want.size);
    EXPECT_EQ(e.bitCount, want.bitCount);
    EXPECT_EQ(e.colorCount, want.bitCount == 4 ? 16 : 0);
    ASSERT_LE(e.offsetOrId + e.bytes, file.size());
    EXPECT_EQ(quenvar::test::checkIconImage(file.data() + e.offsetOrId, e.bytes, want), "");
  }
}

TEST(GeneratedIcon, IsTheSameEveryTime) {
  EXPECT_EQ(quenvar::icon::buildIconFile(), quenvar::icon::buildIconFile());
}

TEST(IconCheck, CatchesABrokenMask) {
  // The checker must be able to fail, or the tests above prove nothing.
  const auto& format = kIconImages.back();  // 16x16, 32 bits
  std::vector<std::uint8_t> image = quenvar::icon::renderImage(format);
  ASSERT_EQ(quenvar::test::checkIconImage(image.data(), image.size(), format), "");
  image[image.size() - 4 * 16] ^= 0x80;  // the corner pixel of the mask's first row
  EXPECT_NE(quenvar::test::checkIconImage(image.data(), image.size(), format), "");
  image = quenvar::icon::renderImage(kIconImages[0]);
  EXPECT_NE(quenvar::test::checkIconImage(image.data(), image.size(), kIconImages[1]), "")
      << "a 4-bit image is not an 8-bit one";
}

}  // namespace
