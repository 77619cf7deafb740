// The link scanner's block scan: where two letters stand a given distance apart, found many bytes
// at a time, with the newlines before. AVX2 where the processor has it (chosen at run time), SSE2
// elsewhere on x86-64, eight bytes at a time on other processors and in the x86 build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quenvar::cli {

struct LetterPair {
  unsigned char first, second;  // in lower case; found in either
  std::size_t distance;         // of the second after the first, 1 to 8
};

// The first place in [from, limit) where `pair` begins, or nullptr; adds the newlines before it
// (or before `limit`), from `from` on, to `newlines`. Reads up to limit + pair.distance.
const unsigned char* findLetterPair(const unsigned char* from, const unsigned char* limit,
                                    const LetterPair& pair, std::uint64_t& newlines);

}  // namespace quenvar::cli
