// Catches writes to freed memory without a sanitizer: while a watch is alive, every block the
// program deletes is filled with a pattern and held back instead of being freed; `writesAfterFree`
// then counts the held blocks whose pattern was disturbed. Linking this replaces the global
// operator delete of the test program.
#pragma once

#include <cstddef>

namespace quenvar::test {

class FreedMemoryWatch {
 public:
  FreedMemoryWatch();
  ~FreedMemoryWatch();  // frees what was held back
  FreedMemoryWatch(const FreedMemoryWatch&) = delete;
  FreedMemoryWatch& operator=(const FreedMemoryWatch&) = delete;

  std::size_t blocksHeld() const;
  std::size_t writesAfterFree() const;
};

}  // namespace quenvar::test
