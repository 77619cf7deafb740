#include "freed_memory_watch.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>

namespace quenvar::test {
namespace {

constexpr unsigned char kFreedPattern = 0xDD;

// Plain storage: operator delete must not allocate.
struct Quarantine {
  std::mutex lock;
  bool watching = false;
  std::size_t count = 0;
  struct Held {
    void* block;
    std::size_t size;
  } blocks[1u << 16];
} quarantine;

void release(void* block) {
  if (block == nullptr)
    return;
  {
    const std::lock_guard<std::mutex> guard(quarantine.lock);
    if (quarantine.watching && quarantine.count < std::size(quarantine.blocks)) {
      const std::size_t size = _msize(block);
      std::memset(block, kFreedPattern, size);
      quarantine.blocks[quarantine.count++] = {block, size};
      return;
    }
  }
  std::free(block);
}

}  // namespace

FreedMemoryWatch::FreedMemoryWatch() {
  const std::lock_guard<std::mutex> guard(quarantine.lock);
  quarantine.watching = true;
}

FreedMemoryWatch::~FreedMemoryWatch() {
  const std::lock_guard<std::mutex> guard(quarantine.lock);
  quarantine.watching = false;
  for (std::size_t i = 0; i < quarantine.count; ++i)
    std::free(quarantine.blocks[i].block);
  quarantine.count = 0;
}

std::size_t FreedMemoryWatch::blocksHeld() const {
  const std::lock_guard<std::mutex> guard(quarantine.lock);
  return quarantine.count;
}

std::size_t FreedMemoryWatch::writesAfterFree() const {
  const std::lock_guard<std::mutex> guard(quarantine.lock);
  std::size_t disturbed = 0;
  for (std::size_t i = 0; i < quarantine.count; ++i) {
    const auto* bytes = static_cast<const unsigned char*>(quarantine.blocks[i].block);
    const std::size_t size = quarantine.blocks[i].size;
    disturbed += std::find_if(bytes, bytes + size,
                              [](unsigned char b) { return b != kFreedPattern; }) != bytes + size;
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
