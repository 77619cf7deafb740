// Reading a file that is cut short while quenvar-cli maps it, as a log truncated in place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "stream_io.h"

namespace {

TEST(MappedRead, FileCutShortWhileMappedIsAFailedReadNotACrash) {
  // In the run's temporary folder (TMPDIR), removed when the test returns, failed or not.
  std::string name = (std::filesystem::temp_directory_path() / "quenvar-mapped-XXXXXX").string();
  const int fd = mkstemp(name.data());
  ASSERT_GE(fd, 0);
  const char* const path = name.c_str();
  const std::unique_ptr<const char, int (*)(const char*)> removed(path, std::remove);
  const std::string block(1 << 20, 'a');
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  close(fd);

  auto source = quenvar::cli::openFile(path);
  ASSERT_NE(source, nullptr);
  std::size_t given = 0, letters = 0;
  const quenvar::cli::ReadEnd end = quenvar::cli::readAll(
      *source,
      [&](const char* data, std::size_t size) {
        if (given == 0) {
          EXPECT_EQ(truncate(path, 0), 0);
        }
        given += size;
        for (std::size_t i = 0; i < size; ++i)
          letters += data[i] == 'a';
        return true;
      },
      [] {});
  EXPECT_EQ(end, quenvar::cli::ReadEnd::Failed);
  EXPECT_GT(given, 0u);
  EXPECT_EQ(letters, 0u);  // the pages lost read as zeros
}

}  // namespace
