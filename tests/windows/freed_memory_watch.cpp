#include "freed_memory_watch.h"

#include <malloc.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace quenvar::test {
namespace {

constexpr unsigned char kFreedPattern = 0xDD;

struct Held {
  void* block;
  std::size_t size;
};

// Plain storage: operator delete must not allocate.
struct Quarantine {
  std::mutex lock;
  bool watching = false;
  std::size_t count = 0;
  std::array<Held, 1u << 16> blocks{};
};

Quarantine& quarantine() {
  static Quarantine q;
  return q;
}

void release(void* block) {
  if (block == nullptr)
    return;
  Quarantine& q = quarantine();
  {
    const std::lock_guard<std::mutex> guard(q.lock);
    if (q.watching && q.count < q.blocks.size()) {
      const std::size_t size = _msize(block);
      std::memset(block, kFreedPattern, size);
      q.blocks[q.count++] = {block, size};
      return;
    }
  }
  std::free(block);
}

}  // namespace

FreedMemoryWatch::FreedMemoryWatch() {
  const std::lock_guard<std::mutex> guard(quarantine().lock);
  quarantine().watching = true;
}

FreedMemoryWatch::~FreedMemoryWatch() {
  Quarantine& q = quarantine();
  const std::lock_guard<std::mutex> guard(q.lock);
  q.watching = false;
  for (std::size_t i = 0; i < q.count; ++i)
    std::free(q.blocks[i].block);
  q.count = 0;
}

std::size_t FreedMemoryWatch::blocksHeld() const {
  const std::lock_guard<std::mutex> guard(quarantine().lock);
  return quarantine().count;
}

std::size_t FreedMemoryWatch::writesAfterFree() const {
  Quarantine& q = quarantine();
  const std::lock_guard<std::mutex> guard(q.lock);
  std::size_t disturbed = 0;
  for (std::size_t i = 0; i < q.count; ++i) {
    const auto* bytes = static_cast<const unsigned char*>(q.blocks[i].block);
    for (std::size_t k = 0; k < q.blocks[i].size; ++k) {
      if (bytes[k] != kFreedPattern) {
        ++disturbed;
        break;
      }
    }
  }
  return disturbed;
}

}  // namespace quenvar::test

// The C++ run-time's operator new takes its memory from malloc, so these match it.
void operator delete(void* block) noexcept {
  quenvar::test::release(block);
}
void operator delete[](void* block) noexcept {
  quenvar::test::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  quenvar::test::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  quenvar::test::release(block);
}
